#include "cli/CliFrontEnd.h"

#include <algorithm>
#include <iostream>
#include <string_view>

#include "cli/DisplayText.h"

namespace korbu::cli {
namespace {
constexpr std::size_t kProgressWidth = 76;
// A few times a second: enough to see it move, little enough to cost nothing.
constexpr auto kProgressInterval = std::chrono::milliseconds(250);
}  // namespace

CliFrontEnd::CliFrontEnd(ScanOptions options, bool showProgress)
    : options_(std::move(options)), showProgress_(showProgress) {}

CliFrontEnd::~CliFrontEnd() { ClearProgress(); }

void CliFrontEnd::ShowObject(const std::string& text) {
  if (!showProgress_) return;
  if (text.empty()) {
    ClearProgress();
    return;
  }
  const auto now = std::chrono::steady_clock::now();
  if (progressShown_ && now - lastShown_ < kProgressInterval) return;
  lastShown_ = now;
  std::string counts = std::to_string(FilesSoFar ? FilesSoFar() : 0) + " file(s), " +
                       std::to_string(detections_.Count()) + " detection(s): ";
  const std::size_t room = kProgressWidth > counts.size() + 10 ? kProgressWidth - counts.size() : 10;
  std::string shown = ReadableFileName(text);
  if (shown.size() > room) {
    // Keep the end of a long path, where the file's name is: a tail of the name
    // itself, made readable, so that no escape is cut in two. Each round drops
    // at least what was too much.
    std::size_t keep = room - 3;
    for (;;) {
      std::size_t from = text.size() > keep ? text.size() - keep : 0;
      while (from < text.size() && (static_cast<unsigned char>(text[from]) & 0xC0) == 0x80) ++from;
      shown = ReadableFileName(std::string_view(text).substr(from));
      if (shown.size() <= room - 3 || keep == 0) break;
      keep -= std::min(keep, shown.size() - (room - 3));
    }
    shown = "..." + shown;
  }
  // Through the stream, which on a Windows console shows every character.
  std::cerr << "\r\033[K" << counts << shown << std::flush;
  progressShown_ = true;
}

void CliFrontEnd::ClearProgress() {
  if (!progressShown_) return;
  std::cerr << "\r\033[K" << std::flush;
  progressShown_ = false;
}

}  // namespace korbu::cli
