#include "cli/CliFrontEnd.h"

#include <cstdio>

namespace korbu::cli {
namespace {
constexpr std::size_t kProgressWidth = 76;
}

CliFrontEnd::CliFrontEnd(ScanOptions options, bool showProgress)
    : options_(std::move(options)), showProgress_(showProgress) {}

CliFrontEnd::~CliFrontEnd() { ClearProgress(); }

void CliFrontEnd::ShowObject(const std::string& text) {
  if (!showProgress_) return;
  if (text.empty()) {
    ClearProgress();
    return;
  }
  // Keep the end of a long path: that is where the file's name is.
  std::string shown = text.size() > kProgressWidth
                          ? "..." + text.substr(text.size() - (kProgressWidth - 3))
                          : text;
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20) c = '?';
  }
  std::fprintf(stderr, "\r\033[K%s", shown.c_str());
  std::fflush(stderr);
  progressShown_ = true;
}

void CliFrontEnd::ClearProgress() {
  if (!progressShown_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  progressShown_ = false;
}

}  // namespace korbu::cli
