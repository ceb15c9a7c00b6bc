// The Win32 backend against the real system (Wine when run on Linux).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Processes.h"
#include "platform/Registry.h"
#include "platform/Utf16Text.h"
#include "platform/Trash.h"
#include "platform/WindowsSystem.h"
#include "support/TempTree.h"
#include "platform/SystemFactory.h"

namespace korbu::platform {
namespace {

constexpr std::string_view kTestKey = "Software\\KorbuWindowsTest";

TEST(Win32Registry, RoundTripsEveryValueKindAndDeletes) {
  auto key = DefaultWindowsSystem()->CreateKey(kHkeyCurrentUser, std::string(kTestKey) + "\\Sub");
  ASSERT_TRUE(key);
  const std::string text("C:\\x.exe\0", 9);
  const std::string binary("\x00\x01\xff", 3);
  ASSERT_TRUE(key->SetValue("Text", kRegSz, text));
  ASSERT_TRUE(key->SetValue("", kRegExpandSz, std::string("%windir%\0", 9)));
  ASSERT_TRUE(key->SetValue("Bin", kRegBinary, binary));
  std::string big(70000, 'a');
  ASSERT_TRUE(key->SetValue("Big", kRegBinary, big));

  auto reread = DefaultWindowsSystem()->OpenKey(kHkeyCurrentUser, std::string(kTestKey) + "\\sub", KeyAccess::Read);
  ASSERT_TRUE(reread);
  auto value = reread->QueryValue("TEXT");
  ASSERT_TRUE(value);
  EXPECT_EQ(value->type, kRegSz);
  EXPECT_EQ(value->data, text);
  EXPECT_EQ(reread->QueryValue("Big")->data, big);  // longer than any first guess
  auto all = reread->EnumValues();
  ASSERT_TRUE(all);
  ASSERT_EQ(all->size(), 4u);
  bool sawDefault = false;
  for (const auto& v : *all) {
    if (v.name.empty()) {
      sawDefault = true;
      EXPECT_EQ(v.type, kRegExpandSz);
    }
    if (v.name == "Bin") {
      EXPECT_EQ(v.data, binary);
    }
  }
  EXPECT_TRUE(sawDefault);

  EXPECT_TRUE(key->DeleteValue("Bin"));
  EXPECT_FALSE(key->DeleteValue("Bin"));
  EXPECT_FALSE(reread->QueryValue("Bin"));
  EXPECT_FALSE(DefaultWindowsSystem()->OpenKey(kHkeyCurrentUser, "Software\\\\Korbu", KeyAccess::Read));
  EXPECT_FALSE(DefaultWindowsSystem()->OpenKey(kHkeyCurrentUser, "Software\\NoSuchKorbuKey", KeyAccess::Read));
}

TEST(Win32Registry, NamesOfAnyUnitsAndExactDataRoundTripAndEmptyKeysGo) {
  const std::string path = std::string(kTestKey) + "\\Wide";
  auto key = DefaultWindowsSystem()->CreateKey(kHkeyCurrentUser, path);
  ASSERT_TRUE(key);
  // Outside the ANSI code page, a lone surrogate (WTF-8), a zero unit inside.
  const std::string names[] = {"Tok\xe4\xb8\xad\xe6\x96\x87", "lone \xed\xa0\x80", std::string("zero\0in", 7)};
  const std::string data = RegistryStringData("/lang=\xe4\xb8\xad \xe2\x82\xac") + Utf16LeBytes(u"tail") + "x";
  for (const std::string& name : names) ASSERT_TRUE(key->SetValue(name, kRegSz, data)) << name;
  auto all = key->EnumValues();
  ASSERT_TRUE(all);
  ASSERT_EQ(all->size(), 3u);
  for (const std::string& name : names) {
    const auto found = std::find_if(all->begin(), all->end(), [&](const RegistryValue& v) { return v.name == name; });
    ASSERT_NE(found, all->end()) << name;
    EXPECT_EQ(found->data, data);
    auto one = key->QueryValue(name);
    ASSERT_TRUE(one) << name;
    EXPECT_EQ(one->data, data);
  }
  EXPECT_EQ(RegistryText(data), "/lang=\xe4\xb8\xad \xe2\x82\xac");
  const Status full = DefaultWindowsSystem()->DeleteEmptyKey(kHkeyCurrentUser, path);
  ASSERT_FALSE(full);
  EXPECT_NE(full.error().kind, ErrorKind::NotFound);
  for (const std::string& name : names) ASSERT_TRUE(key->DeleteValue(name)) << name;
  EXPECT_EQ(key->DeleteValue(names[2]).error().kind, ErrorKind::NotFound);
  ASSERT_TRUE(DefaultWindowsSystem()->DeleteEmptyKey(kHkeyCurrentUser, path));
  EXPECT_EQ(DefaultWindowsSystem()->ProbeKey(kHkeyCurrentUser, path), KeyState::Missing);
}

TEST(Win32Registry, TheRunKeysCanBeWrittenAndRead) {
  const RootKey roots[] = {kHkeyLocalMachine, kHkeyCurrentUser};
  const char* keys[] = {"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                        "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
                        "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices"};
  for (RootKey root : roots) {
    for (const char* path : keys) {
      auto key = DefaultWindowsSystem()->CreateKey(root, path);
      ASSERT_TRUE(key) << path;
      ASSERT_TRUE(key->SetValue("KorbuProbe", kRegSz, std::string("C:\\probe.exe\0", 13)));
      auto back = DefaultWindowsSystem()->OpenKey(root, path, KeyAccess::Read)->QueryValue("korbuprobe");
      ASSERT_TRUE(back) << path;
      EXPECT_EQ(back->data, std::string("C:\\probe.exe\0", 13));
      EXPECT_TRUE(key->DeleteValue("KorbuProbe"));
    }
  }
}

TEST(Win32System, FoldersAndPathsAreNative) {
  const std::string windows = DefaultWindowsSystem()->WindowsDirectoryPath();
  ASSERT_FALSE(windows.empty());
  EXPECT_TRUE(DirectoryExists(windows));
  EXPECT_TRUE(DirectoryExists(DefaultWindowsSystem()->SystemDirectoryPath()));
  EXPECT_EQ(DefaultWindowsSystem()->NativeFolder(windows + "\\"), windows);
  auto root = GetEntryInfo(windows.substr(0, 3));  // "C:\" is no search result
  ASSERT_TRUE(root);
  EXPECT_EQ(root->kind, EntryKind::Directory);
  EXPECT_EQ(DefaultWindowsSystem()->NativePath("C:\\a\\.\\b\\..\\x.exe"), "C:\\a\\x.exe");
  EXPECT_EQ(DefaultWindowsSystem()->NativePath("\\\\server\\share\\x"), "");
  const std::string appData = DefaultWindowsSystem()->SpecialFolderPath(kCsidlLocalAppData);
  EXPECT_TRUE(DirectoryExists(appData)) << appData;
  EXPECT_EQ(DefaultWindowsSystem()->SpecialFolderPath(12345), "");
  EXPECT_EQ(DefaultWindowsSystem()->ExpandEnvironment("%SystemRoot%\\x %NoSuchKorbuVar% 100%"),
            windows + "\\x %NoSuchKorbuVar% 100%");
}

TEST(Win32Files, ListingMatchesOnlyLongNamesAndReadsWithShareModes) {
  test::TempTree tree;
  tree.Write("Program.exe", "MZ....");
  tree.Write("a-very-long-name.text", "x");
  tree.MakeDir("Sub.exe");
  std::vector<std::string> names;
  ASSERT_TRUE(ListFolder(tree.Path(), "*.EXE", [&](const EntryInfo& e) {
    names.push_back(e.name + (e.kind == EntryKind::Directory ? "/" : ""));
    return true;
  }));
  std::sort(names.begin(), names.end());
  // The short name A-VERY~1.TEX must not make "*.tex" match.
  EXPECT_EQ(names, (std::vector<std::string>{"Program.exe", "Sub.exe/"}));
  int count = 0;
  ASSERT_TRUE(ListFolder(tree.Path(), "*.tex", [&](const EntryInfo&) { return ++count, true; }));
  EXPECT_EQ(count, 0);
  EXPECT_FALSE(ListFolder(tree.Path("missing"), "*", [](const EntryInfo&) { return true; }));

  const std::string exe = tree.Path("Program.exe");
  EXPECT_EQ(ReadWholeFile(exe, ShareMode::DenyWrite), "MZ....");
  {
    // A mapped file cannot be replaced on Windows: the view is dropped first.
    auto mapped = MappedFile::Open(exe);
    ASSERT_TRUE(mapped);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(mapped->Data()), mapped->Size()), "MZ....");
  }
  EXPECT_FALSE(InputFile::Open(tree.Path("Sub.exe"), ShareMode::DenyNone));
  ASSERT_TRUE(ReplaceFileAtomically(exe, "new"));
  EXPECT_EQ(ReadWholeFile(exe, ShareMode::DenyNone), "new");
  EXPECT_FALSE(ReplaceFileAtomically(tree.Path("Sub.exe"), "x"));
  ASSERT_TRUE(SetFileAttributes(exe, kAttrReadOnly | kAttrHidden));
  EXPECT_EQ(GetEntryInfo(exe)->attributes & (kAttrReadOnly | kAttrHidden), kAttrReadOnly | kAttrHidden);
  ASSERT_TRUE(SetFileAttributes(exe, kAttrNormal));
  EXPECT_TRUE(DeleteFile(exe));
  EXPECT_FALSE(FileExists(exe));
}

TEST(Win32Files, AFileHeldWithoutSharingByAnotherProgramIsInUse) {
  test::TempTree tree;
  const std::string file = tree.Write("held.bin", "data");
  EXPECT_TRUE(CanOpenExclusively(file));
  const std::string holder = IncludeTrailingDelimiter(ExtractFilePath(ExecutablePath())) + "windows_test_holder.exe";
  if (!FileExists(holder)) GTEST_SKIP() << "helper program not built: " << holder;
  // The command interpreter drops the outer quotes of the whole line.
  FILE* pipe = ::_popen(("\"\"" + holder + "\" \"" + file + "\"\"").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char line[16] = {};
  ASSERT_NE(std::fgets(line, sizeof line, pipe), nullptr);
  ASSERT_EQ(std::string(line).substr(0, 4), "held");
  EXPECT_FALSE(CanOpenExclusively(file));
  EXPECT_FALSE(ReadWholeFile(file, ShareMode::DenyWrite));
  // Ending the holder by its exact image also checks the kill's image guard.
  auto processes = SnapshotProcesses();
  ASSERT_TRUE(processes);
  bool killed = false;
  for (const auto& p : *processes) {
    if (SameFileName(ExtractFileName(p.imagePath), "windows_test_holder.exe")) {
      EXPECT_EQ(TerminateProcessRunning(p.id, p.imagePath + "x").Reason(), "the process runs another program now");
      killed = TerminateProcessRunning(p.id, p.imagePath).has_value();
    }
  }
  ::_pclose(pipe);
  ASSERT_TRUE(killed);
  EXPECT_TRUE(CanOpenExclusively(file));
}

TEST(Win32Processes, SnapshotStartsWithThisProgram) {
  auto processes = SnapshotProcesses();
  ASSERT_TRUE(processes);
  ASSERT_FALSE(processes->empty());
  EXPECT_EQ(processes->front().id, CurrentProcessId());
  EXPECT_TRUE(SameFileName(processes->front().imagePath, ExecutablePath()));
  EXPECT_GT(processes->front().threadCount, 0);
  EXPECT_EQ(TerminateProcess(CurrentProcessId()).Reason(), "it is the scanner's own process");
  EXPECT_FALSE(TerminateProcess(0));
  // A process that has gone says so in the system's words.
  EXPECT_FALSE(ProcessImagePath(0xFFFFFFF0u).Reason().empty());
}

TEST(Win32Trash, RecyclesFilesAndFoldersWithLongPaths) {
  test::TempTree tree;
  // Long, but within the ANSI API's MAX_PATH.
  const std::string longName(90, 'n');
  const std::string file = tree.Write(longName + "\\" + longName + ".txt", "x");
  ASSERT_TRUE(FileExists(file));
  EXPECT_TRUE(MoveToTrash(file));
  EXPECT_FALSE(FileExists(file));
  EXPECT_TRUE(MoveToTrash(tree.Path(longName)));
  EXPECT_FALSE(DirectoryExists(tree.Path(longName)));
  EXPECT_FALSE(MoveToTrash(tree.Path("missing")));
}

}  // namespace
}  // namespace korbu::platform
