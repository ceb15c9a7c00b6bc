#include "cli/TextReport.h"

#include <cerrno>
#include <iostream>
#include <system_error>

#include "cli/ScanReport.h"
#include "platform/FileSystemPath.h"

namespace korbu::cli {

TextReport::TextReport(bool json, bool quiet, std::function<void()> beforeOutput)
    : json_(json), quiet_(quiet), beforeOutput_(std::move(beforeOutput)) {}

bool TextReport::OpenLog(const std::string& path, std::string& reason) {
  errno = 0;
  log_.open(platform::FileSystemPath(path), std::ios::out | std::ios::app);
  if (!log_) {
    reason = errno != 0 ? std::generic_category().message(errno) : "cannot be opened";
    return false;
  }
  logOpen_ = true;
  // Runs appended to one log stay apart, as in clamscan's.
  log_ << "\n" << kLogSeparator << "\n\n" << std::flush;
  return true;
}

void TextReport::Put(std::ostream& out, const std::string& text) {
  if (text.empty()) return;
  out << text;
  if (text.back() != '\n') out << '\n';
  out.flush();
}

void TextReport::Info(const std::string& text) {
  if (quiet_) return;
  if (beforeOutput_) beforeOutput_();
  if (!json_) Put(std::cout, text);
  if (logOpen_) Put(log_, text);
}

void TextReport::Detection(const std::string& line) {
  if (beforeOutput_) beforeOutput_();
  if (!json_) Put(std::cout, line);
  if (logOpen_) Put(log_, line);
}

void TextReport::Action(const std::string& text) {
  if (beforeOutput_) beforeOutput_();
  Put(json_ ? std::cerr : std::cout, text);
  if (logOpen_) Put(log_, text);
}

void TextReport::Error(const std::string& line) {
  if (beforeOutput_) beforeOutput_();
  Put(errorsToOutput_ && !json_ ? std::cout : std::cerr, line);
  if (logOpen_) Put(log_, line);
}

bool TextReport::Written() const { return static_cast<bool>(std::cout) && (!logOpen_ || log_.good()); }

}  // namespace korbu::cli
