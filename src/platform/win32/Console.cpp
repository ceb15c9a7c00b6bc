#include "platform/Console.h"

#include <iostream>
#include <optional>
#include <streambuf>

#include "platform/win32/WindowsSupport.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace korbu::platform {
namespace {

// The console behind a standard handle; null when the handle is a file, a pipe or
// the NUL device (which the C runtime's isatty takes for a terminal).
HANDLE ConsoleOf(DWORD which) {
  const HANDLE h = ::GetStdHandle(which);
  DWORD mode = 0;
  return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode) ? h : nullptr;
}

// The length of the text's start that ends on a whole UTF-8 sequence: a character
// cut between two writes waits for the rest of its bytes.
std::size_t WholeCharacters(std::string_view text) {
  for (std::size_t back = 1; back <= 4 && back <= text.size(); ++back) {
    const auto byte = static_cast<unsigned char>(text[text.size() - back]);
    if ((byte & 0xC0) == 0x80) continue;  // a continuation byte
    const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
    return length > back ? text.size() - back : text.size();
  }
  return text.size();
}

// Writes the program's UTF-8 to a console as UTF-16, so that the console shows
// every character whatever its code page.
class ConsoleBuffer : public std::streambuf {
 public:
  explicit ConsoleBuffer(HANDLE console) : console_(console) {}
  ConsoleBuffer(const ConsoleBuffer&) = delete;
  ConsoleBuffer& operator=(const ConsoleBuffer&) = delete;
  ~ConsoleBuffer() override { Write(pending_.size()); }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    pending_.push_back(traits_type::to_char_type(c));
    return c;
  }
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    pending_.append(text, static_cast<std::size_t>(count));
    return count;
  }
  int sync() override { return Write(WholeCharacters(pending_)) ? 0 : -1; }

 private:
  bool Write(std::size_t count) {
    const std::wstring wide = win32::Wide(std::string_view(pending_).substr(0, count));
    pending_.erase(0, count);
    std::wstring_view rest = wide;
    while (!rest.empty()) {
      // Large writes fail on some consoles; a chunk never splits a surrogate pair.
      DWORD chunk = rest.size() > 8192 ? 8192 : static_cast<DWORD>(rest.size());
      if (chunk < rest.size() && rest[chunk - 1] >= 0xD800 && rest[chunk - 1] <= 0xDBFF) --chunk;
      DWORD wrote = 0;
      if (!::WriteConsoleW(console_, rest.data(), chunk, &wrote, nullptr) || wrote == 0) return false;
      rest.remove_prefix(wrote);
    }
    return true;
  }

  HANDLE console_;
  std::string pending_;
};

// One console stream in place of a standard stream's buffer, put back at exit
// before the standard streams' last flush.
class ConsoleStream {
 public:
  ConsoleStream(std::ostream& stream, HANDLE console) : stream_(stream), buffer_(console) {
    DWORD mode = 0;
    // The progress line clears itself with an escape sequence.
    if (::GetConsoleMode(console, &mode) && (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) == 0 &&
        ::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
      console_ = console;
      oldMode_ = mode;
    }
    stream_.flush();
    old_ = stream_.rdbuf(&buffer_);
  }
  ConsoleStream(const ConsoleStream&) = delete;
  ConsoleStream& operator=(const ConsoleStream&) = delete;
  ~ConsoleStream() {
    stream_.flush();
    stream_.rdbuf(old_);
    if (console_ != nullptr) ::SetConsoleMode(console_, oldMode_);
  }

 private:
  std::ostream& stream_;
  ConsoleBuffer buffer_;
  std::streambuf* old_ = nullptr;
  HANDLE console_ = nullptr;
  DWORD oldMode_ = 0;
};

}  // namespace

bool StderrIsTerminal() { return ConsoleOf(STD_ERROR_HANDLE) != nullptr; }

bool StdinIsTerminal() { return ConsoleOf(STD_INPUT_HANDLE) != nullptr; }

std::vector<std::string> ProgramArguments(int, char**) {
  // The C runtime's argv holds the arguments in the ANSI code page, which cannot
  // hold every name.
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return {};
  std::vector<std::string> arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(win32::Utf8(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

void UseConsoleText() {
  static const bool done = [] {
    static std::optional<ConsoleStream> out;
    static std::optional<ConsoleStream> err;
    if (HANDLE console = ConsoleOf(STD_OUTPUT_HANDLE)) out.emplace(std::cout, console);
    if (HANDLE console = ConsoleOf(STD_ERROR_HANDLE)) err.emplace(std::cerr, console);
    return true;
  }();
  (void)done;
}

}  // namespace korbu::platform
