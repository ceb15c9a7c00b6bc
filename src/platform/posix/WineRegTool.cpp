#include "platform/posix/WineRegTool.h"
#include "platform/HexText.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "platform/posix/PosixSupport.h"
#include "platform/posix/WineRegistryCodec.h"

extern char** environ;

namespace korbu::platform::posix {
namespace {

constexpr std::u16string_view kExportHeader = u"Windows Registry Editor Version 5.00";
constexpr auto kWineTimeLimit = std::chrono::seconds(120);

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The parser of value entries reads raw bytes as UTF-8.
std::string Utf16ToUtf8(std::u16string_view units) {
  std::string out;
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(out, c);
  }
  return out;
}

void AppendAscii(std::u16string& out, std::string_view text) {
  for (char c : text) out += static_cast<char16_t>(static_cast<unsigned char>(c));
}

std::u16string QuotedName(std::u16string_view name) {
  std::u16string out = u"\"";
  for (char16_t c : name) {
    if (c == u'\\' || c == u'"') out += u'\\';
    out += c;
  }
  return out + u"\"";
}

bool NameFits(std::u16string_view name) {
  for (char16_t c : name)
    if (c == 0 || c == u'\r' || c == u'\n') return false;
  return true;
}

std::u16string HexData(const WineValue& value) {
  std::string text;
  if (value.type == 3) {
    text = "hex:";
  } else {
    char tag[24];
    std::snprintf(tag, sizeof tag, "hex(%x):", static_cast<unsigned>(value.type));
    text = tag;
  }
  for (std::size_t i = 0; i < value.data.size(); ++i) {
    const auto byte = static_cast<unsigned char>(value.data[i]);
    if (i > 0) text += ',';
    AppendHexByte(text, byte);
  }
  std::u16string out;
  AppendAscii(out, text);
  return out;
}

std::vector<std::u16string> Lines(std::u16string_view text) {
  std::vector<std::u16string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(u'\n', start);
    if (end == std::u16string_view::npos) end = text.size();
    std::u16string line(text.substr(start, end - start));
    if (!line.empty() && line.back() == u'\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

// A folder of this call's own for the batch file and the exports, inside the
// prefix's C: drive so Wine can name it; elsewhere when that folder is missing.
std::string MakeWorkFolder(const std::string& prefix) {
  std::string base = prefix + "/drive_c/windows/temp";
  if (!DirectoryExists(base)) {
    const char* tmp = std::getenv("TMPDIR");
    base = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
  }
  std::string pattern = base + "/korbu-reg-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}

class WorkFolder {
 public:
  explicit WorkFolder(std::string path) : path_(std::move(path)) {}
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;
  ~WorkFolder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

bool WriteNewFile(const std::string& path, std::string_view bytes) {
  UniqueFd fd(RetryOnEintr([&] { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600); }));
  if (!fd.Valid()) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = RetryOnEintr([&] { return ::write(fd.Get(), bytes.data() + done, bytes.size() - done); });
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Runs `wine cmd /c korbu.cmd` in the folder, quietly, within the time limit.
bool RunWineBatch(const std::string& prefix, const std::string& folder) {
  std::vector<std::string> env;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const std::string_view entry(*e);
    if (entry.starts_with("WINEPREFIX=") || entry.starts_with("WINEDEBUG=")) continue;
    env.emplace_back(entry);
  }
  env.push_back("WINEPREFIX=" + prefix);
  env.push_back("WINEDEBUG=-all");
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  // The Wine loader named by WINE (as winetricks takes it), else `wine` on PATH.
  const char* named = std::getenv("WINE");
  std::string arg0 = named != nullptr && named[0] != '\0' ? named : "wine";
  std::string arg1 = "cmd", arg2 = "/c", arg3 = "korbu.cmd";
  char* argv[] = {arg0.data(), arg1.data(), arg2.data(), arg3.data(), nullptr};

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  if (posix_spawnattr_init(&attr) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return false;
  }
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  // Its own process group, so a hung Wine can be ended with everything it started.
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, arg0.c_str(), &actions, &attr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (spawned != 0) return false;

  const auto deadline = std::chrono::steady_clock::now() + kWineTimeLimit;
  int status = 0;
  for (;;) {
    const pid_t done = RetryOnEintr([&] { return ::waitpid(pid, &status, WNOHANG); });
    if (done == pid) break;
    if (done < 0) return false;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(-pid, SIGKILL);
      RetryOnEintr([&] { return ::waitpid(pid, &status, 0); });
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return WIFEXITED(status);
}

}  // namespace

bool IsPortableKeyName(std::u16string_view keyName) {
  if (keyName.empty() || keyName.front() == u'\\' || keyName.back() == u'\\') return false;
  if (keyName.find(u"\\\\") != std::u16string_view::npos) return false;
  for (char16_t c : keyName) {
    if (c < 0x20 || c > 0x7E) return false;
    if (c == u'"' || c == u'%' || c == u'^' || c == u'[' || c == u']') return false;
  }
  return true;
}

std::optional<std::string> FormatRegImport(const std::vector<WineRegChange>& changes) {
  std::u16string text(1, u'\xFEFF');
  text += kExportHeader;
  text += u"\r\n";
  const std::u16string* section = nullptr;
  for (const WineRegChange& change : changes) {
    if (!IsPortableKeyName(change.keyName)) return std::nullopt;
    if (section == nullptr || *section != change.keyName) {
      text += u"\r\n[" + change.keyName + u"]\r\n";
      section = &change.keyName;
    }
    if (change.value) {
      if (!NameFits(change.value->name)) return std::nullopt;
      text += change.value->name.empty() ? std::u16string(u"@") : QuotedName(change.value->name);
      text += u"=" + HexData(*change.value) + u"\r\n";
    } else if (change.deletedName) {
      if (!NameFits(*change.deletedName)) return std::nullopt;
      text += change.deletedName->empty() ? std::u16string(u"@") : QuotedName(*change.deletedName);
      text += u"=-\r\n";
    }
  }
  text += u"\r\n";
  return Utf16ToBytes(text);
}

std::optional<std::vector<WineValue>> ParseRegExport(std::string_view bytes, std::u16string_view keyName) {
  if (bytes.size() < 2 || static_cast<unsigned char>(bytes[0]) != 0xFF || static_cast<unsigned char>(bytes[1]) != 0xFE)
    return std::nullopt;
  const std::vector<std::u16string> lines = Lines(BytesToUtf16(bytes.substr(2)));
  if (lines.empty() || lines[0] != kExportHeader) return std::nullopt;
  // Value entries are read by the registry files' parser, which takes UTF-8.
  std::vector<std::string> utf8;
  for (const std::u16string& line : lines) utf8.push_back(Utf16ToUtf8(line));
  std::vector<std::string_view> views(utf8.begin(), utf8.end());
  std::optional<std::vector<WineValue>> values;
  bool inKey = false;
  for (std::size_t i = 1; i < views.size();) {
    const std::u16string_view line = lines[i];
    if (!line.empty() && line.front() == u'[') {
      const std::size_t close = line.rfind(u']');
      inKey = close != std::u16string_view::npos && SameName(line.substr(1, close - 1), keyName);
      if (inKey && !values) values.emplace();
      ++i;
      continue;
    }
    if (inKey) {
      if (auto parsed = ParseValueEntry(views, i)) {
        values->push_back(std::move(parsed->value));
        i += parsed->lineCount;
        continue;
      }
    }
    ++i;
  }
  return values;
}

std::optional<WineRegExports> RunRegTool(const std::string& prefix, const std::optional<std::string>& importText,
                                         const std::vector<std::u16string>& keyNames) {
  for (const std::u16string& name : keyNames)
    if (!IsPortableKeyName(name)) return std::nullopt;
  WorkFolder folder(MakeWorkFolder(prefix));
  if (folder.Path().empty()) return std::nullopt;
  // The batch file is read in the console's code page: every name in it is ASCII.
  std::string script = "@echo off\r\n";
  if (importText) {
    if (!WriteNewFile(folder.Path() + "/import.reg", *importText)) return std::nullopt;
    script += "reg import import.reg\r\n";
  }
  for (std::size_t i = 0; i < keyNames.size(); ++i)
    script += "reg export \"" + Utf16ToAnsi(keyNames[i]) + "\" k" + std::to_string(i) + ".reg /y\r\n";
  // Written last: its presence tells that the batch ran to its end.
  script += "echo done>done.txt\r\n";
  if (!WriteNewFile(folder.Path() + "/korbu.cmd", script)) return std::nullopt;
  if (!RunWineBatch(prefix, folder.Path()) || !FileExists(folder.Path() + "/done.txt")) return std::nullopt;

  WineRegExports exports;
  for (std::size_t i = 0; i < keyNames.size(); ++i) {
    const std::string file = folder.Path() + "/k" + std::to_string(i) + ".reg";
    if (!FileExists(file)) {
      exports.emplace_back();  // reg export finds no such key
      continue;
    }
    const auto bytes = ReadWholeFile(file, ShareMode::DenyNone);
    if (!bytes) return std::nullopt;
    auto values = ParseRegExport(*bytes, keyNames[i]);
    if (!values) return std::nullopt;
    exports.push_back(std::move(values));
  }
  return exports;
}

}  // namespace korbu::platform::posix
