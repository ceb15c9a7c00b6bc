// Every name Windows can hold, at any depth, through the Win32 backend: names
// outside the ANSI code page, names that are not valid UTF-16, names the plain
// path form cannot reach, and paths past MAX_PATH.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/FolderHandle.h"
#include "platform/OpenedFile.h"
#include "platform/Path.h"
#include "platform/Processes.h"
#include "platform/win32/WindowsSupport.h"
#include "support/TempTree.h"

namespace korbu::platform {
namespace {

using win32::Utf8;
using win32::Wide;
using win32::WidePath;

// "中文夹", "Tök", "Ελλάδα" and "😀" (a surrogate pair) in UTF-8.
const std::string kChinese = "\xE4\xB8\xAD\xE6\x96\x87\xE5\xA4\xB9";
const std::string kTok = "T\xC3\xB6k";
const std::string kGreek = "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1";
const std::string kEmoji = "\xF0\x9F\x98\x80";

TEST(Win32Text, EveryUtf16NameRoundTripsThroughTheProgramsText) {
  const std::wstring names[] = {L"plain", L"T\u00F6k", L"\u4E2D\u6587\u5939", L"\U0001F600",
                                std::wstring(1, wchar_t(0xD800)) + L"x",   // a lone high surrogate
                                L"x" + std::wstring(1, wchar_t(0xDC01)),   // a lone low one
                                std::wstring(1, wchar_t(0xDBFF))};         // high at the end
  for (const std::wstring& name : names) {
    const std::string text = Utf8(name);
    EXPECT_EQ(Wide(text), name) << text;
  }
  EXPECT_EQ(Utf8(L"\U0001F600"), kEmoji);
  EXPECT_EQ(Utf8(std::wstring(1, wchar_t(0xD800))), "\xED\xA0\x80");
  EXPECT_EQ(Wide("a\xFF" "b"), L"a\uFFFDb");
  // Bytes that no name gives name no file: a stray byte, an overlong form, a cut
  // sequence, and a pair written as two surrogates (a second text for kEmoji).
  for (const char* bad : {"a\xFF", "\xC0\x80", "\xE0\x80\x80", "\xF4\x90\x80\x80", "\xED\xA0\xBD\xED\xB8\x80", "\xE4\xB8"}) {
    EXPECT_FALSE(WidePath(std::string("C:\\") + bad)) << bad;
  }
}

TEST(Win32Text, FilePathsTakeTheExtendedForm) {
  EXPECT_EQ(WidePath("C:\\a\\.\\b\\..\\" + kTok), L"\\\\?\\C:\\a\\T\u00F6k");
  EXPECT_EQ(WidePath("c:/a/b/"), L"\\\\?\\c:\\a\\b\\");
  EXPECT_EQ(WidePath("\\\\server\\share\\..\\x"), L"\\\\?\\UNC\\server\\share\\x");
  EXPECT_EQ(WidePath("\\\\?\\C:\\x."), L"\\\\?\\C:\\x.");
  EXPECT_EQ(WidePath("x.exe"), Wide("\\\\?\\" + IncludeTrailingDelimiter(CurrentDirectory()) + "x.exe"));
  EXPECT_FALSE(WidePath(""));
  EXPECT_FALSE(WidePath(std::string("C:\\a\0b", 6)));
  EXPECT_FALSE(WidePath("C:\\\xFF"));
}

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  EXPECT_TRUE(ListFolder(folder, "*", [&](const EntryInfo& e) {
    names.push_back(e.name);
    return true;
  }));
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Win32Files, EveryNameAndDepthIsListedReadHeldAndDeleted) {
  test::TempTree tree;
  // Made through the system itself: the trailing dot and the device name are
  // reachable only in the extended form, the lone surrogate is no valid UTF-16.
  const std::string lone = Utf8(L"w" + std::wstring(1, wchar_t(0xD83D)) + L".exe");
  std::string deep = tree.Path(kChinese);
  for (int i = 0; i < 12; ++i) deep += "\\" + kGreek + "_folder_with_a_rather_long_name_" + std::to_string(i);
  ASSERT_GT(deep.size(), 400u);
  for (const std::string& folder : {tree.Path(kChinese), deep}) {
    std::string made;
    for (std::size_t at = folder.find('\\', 3); made != folder; at = folder.find('\\', at + 1)) {
      made = at == std::string::npos ? folder : folder.substr(0, at);
      ::CreateDirectoryW(WidePath(made)->c_str(), nullptr);
    }
    ASSERT_TRUE(DirectoryExists(folder)) << folder;
  }
  std::vector<std::string> names{kTok + ".exe", kEmoji + ".exe", lone, "trailing.", "con", "x.exe "};
  for (const std::string& name : std::vector<std::string>(names)) {
    for (const std::string& folder : {tree.Path(kChinese), deep}) {
      win32::UniqueHandle h(::CreateFileW(WidePath(folder + "\\" + name)->c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
      // Wine keeps names as UTF-8 on the Linux side, where a lone surrogate has no form.
      if (!h.Valid() && name == lone) {
        names.erase(std::find(names.begin(), names.end(), lone));
        break;
      }
      ASSERT_TRUE(h.Valid()) << name << ": " << ::GetLastError();
      DWORD wrote = 0;
      ASSERT_TRUE(::WriteFile(h.Get(), name.data(), static_cast<DWORD>(name.size()), &wrote, nullptr));
    }
  }
  std::vector<std::string> expected = names;
  expected.push_back(kGreek + "_folder_with_a_rather_long_name_0");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Names(tree.Path(kChinese)), expected);

  // Every one is also removed: the standard library's clean-up of the tree would
  // take "con" for the console.
  for (const std::string& name : names) for (const std::string& folder : {deep, tree.Path(kChinese)}) {
    const std::string path = folder + "\\" + name;
    SCOPED_TRACE(path);
    EXPECT_TRUE(FileExists(path));
    EXPECT_EQ(ReadWholeFile(path, ShareMode::DenyWrite), name);
    {
      OpenedFile opened = OpenedFile::Open(path);
      EXPECT_TRUE(opened.IsOpen()) << opened.Error();
    }
    auto parent = OpenParent(path);
    ASSERT_TRUE(parent);
    EXPECT_EQ(parent->second, name);
    const auto read = parent->first.ReadFile(name, 100);
    ASSERT_TRUE(read) << read.Reason();
    EXPECT_EQ(*read, name);
    ASSERT_TRUE(parent->first.SetAttributes(name, kAttrReadOnly));
    EXPECT_FALSE(parent->first.DeleteFile(name));
    ASSERT_TRUE(parent->first.SetAttributes(name, kAttrNormal));
    ASSERT_TRUE(parent->first.MoveTo(name, parent->first, name + "~"));
    EXPECT_TRUE(parent->first.DeleteFile(name + "~"));
    EXPECT_FALSE(GetEntryInfo(path));
  }
  EXPECT_EQ(Names(deep), std::vector<std::string>{});
  EXPECT_EQ(Names(tree.Path(kChinese)), std::vector<std::string>{kGreek + "_folder_with_a_rather_long_name_0"});
}

TEST(Win32Files, AFolderThatCannotBeListedSaysWhy) {
  test::TempTree tree;
  const std::string file = tree.Write("file.txt", "x");
  const auto visit = [](const EntryInfo&) { return true; };
  const Status missing = ListFolder(tree.Path("missing"), "*", visit);
  ASSERT_FALSE(missing);
  EXPECT_TRUE(missing.error().code == ERROR_FILE_NOT_FOUND || missing.error().code == ERROR_PATH_NOT_FOUND)
      << missing.error().code;
  EXPECT_FALSE(missing.Reason().empty());
  const Status notFolder = ListSubfolders(file, visit);
  ASSERT_FALSE(notFolder);
  EXPECT_EQ(notFolder.error().code, ERROR_DIRECTORY);
  EXPECT_EQ(ListFolder("C:\\\xFF", "*", visit).error().code, ERROR_INVALID_NAME);
}

TEST(Win32Processes, AProgramStartedFromAnyNameShowsItsImage) {
  const std::string holder = IncludeTrailingDelimiter(ExtractFilePath(ExecutablePath())) + "windows_test_holder.exe";
  if (!FileExists(holder)) GTEST_SKIP() << "helper program not built: " << holder;
  test::TempTree tree;
  const std::string copy = tree.Path(kChinese + "\\" + kTok + ".exe");
  ASSERT_TRUE(::CreateDirectoryW(WidePath(tree.Path(kChinese))->c_str(), nullptr));
  ASSERT_TRUE(::CopyFileW(WidePath(holder)->c_str(), WidePath(copy)->c_str(), TRUE));
  const std::string held = tree.Write("held.dat", "x");
  std::wstring command = L"\"" + Wide(copy) + L"\" \"" + Wide(held) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  ASSERT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                               &startup, &started));
  win32::UniqueHandle process(started.hProcess);
  win32::UniqueHandle thread(started.hThread);
  const auto read = ProcessImagePath(started.dwProcessId);
  ASSERT_TRUE(read) << read.Reason();
  const std::string image = *read;
  EXPECT_TRUE(SameFileName(image, copy)) << image;
  EXPECT_TRUE(SameImageFile(image, copy));
  auto processes = SnapshotProcesses();
  ASSERT_TRUE(processes);
  EXPECT_TRUE(std::any_of(processes->begin(), processes->end(),
                          [&](const ProcessInfo& p) { return p.id == started.dwProcessId && p.imagePath == image; }));
  EXPECT_TRUE(TerminateProcessRunning(started.dwProcessId, image));
  EXPECT_EQ(::WaitForSingleObject(process.Get(), 10000), WAIT_OBJECT_0);
}

}  // namespace
}  // namespace korbu::platform
