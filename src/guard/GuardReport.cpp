#include "guard/GuardReport.h"

#include <syslog.h>

#include <iostream>

#include "cli/DisplayText.h"
#include "guard/DesktopNotice.h"
#include "guard/GuardRecords.h"

namespace korbu::guard {

GuardReport::GuardReport(ReportSettings settings, GuardStatus& status) : settings_(settings), status_(status) {
  if (settings_.syslog) ::openlog("korbu-guard", LOG_PID, LOG_DAEMON);
}

GuardReport::~GuardReport() {
  if (settings_.syslog) ::closelog();
}

// Every name was made readable before: nothing a file's owner chose reaches the
// log or the terminal unescaped.
void GuardReport::Line(int priority, const std::string& text) {
  const std::lock_guard lock(mutex_);
  std::cerr << "korbu-guard: " << text << std::endl;
  if (settings_.syslog) ::syslog(priority, "%s", text.c_str());
}

bool GuardReport::Repeated(const std::string& what) {
  constexpr auto kWindow = std::chrono::minutes(1);
  constexpr std::size_t kRemembered = 4096;
  const auto now = std::chrono::steady_clock::now();
  const std::lock_guard lock(repeatMutex_);
  if (lastTold_.size() >= kRemembered) {
    std::erase_if(lastTold_, [&](const auto& told) { return now - told.second >= kWindow; });
  }
  const auto it = lastTold_.find(what);
  if (it != lastTold_.end() && now - it->second < kWindow) return true;
  if (lastTold_.size() < kRemembered) lastTold_[what] = now;
  return false;
}

std::string GuardReport::NoteOnce(const char* action, const std::string& path, const std::string& virus,
                                  bool& repeated) {
  repeated = Repeated(std::string(action) + "\n" + path + "\n" + virus);
  if (repeated) return ", again within a minute";
  const auto note = RecordNote(action, path, virus);
  return note ? ", recorded as " + *note : ", not recorded: " + cli::ReadableFileName(note.error().reason);
}

void GuardReport::Info(const std::string& text) { Line(LOG_INFO, cli::ReadableFileName(text)); }

void GuardReport::Watching(const std::string& what) {
  const std::string readable = cli::ReadableFileName(what);
  status_.Watching(readable);
  Line(LOG_INFO, "watching " + readable);
}

void GuardReport::Refused(const std::string& path, const std::string& virus, int pid) {
  const std::string file = cli::ReadableFileName(path);
  const std::string name = cli::ReadableFileName(virus);
  std::string text = "refused " + file + ": " + name + " (process " + std::to_string(pid) + ")";
  bool repeated = false;
  text += NoteOnce(kRefusedAction, path, virus, repeated);
  status_.Refused(file + ": " + name);
  Line(LOG_WARNING, text);
  if (settings_.notify && !repeated) {
    NotifyDesktopUsers("A virus was stopped", name + " in " + file + " was not allowed to run.");
  }
}

void GuardReport::Found(const std::string& path, const std::string& virus, const std::string& how,
                        const platform::FileStatus* identity) {
  const std::string file = cli::ReadableFileName(path);
  const std::string name = cli::ReadableFileName(virus);
  std::string text = "found " + file + ": " + name + " (" + how + ")";
  std::string givenBackBy;
  bool repeated = false;
  if (settings_.quarantine && identity != nullptr) {
    const std::lock_guard lock(quarantinedMutex_);
    if (const auto it = quarantined_.find(path); it != quarantined_.end() && GivenBack(it->second)) {
      givenBackBy = it->second;
    }
  }
  if (!givenBackBy.empty()) {
    // Only root undoes the guard's records: the user wants this file back.
    text += ", left in place: given back by the undo of action " + givenBackBy;
  } else if (settings_.quarantine && identity != nullptr) {
    const auto action = QuarantineFound(path, virus, *identity);
    if (action) {
      const std::lock_guard lock(quarantinedMutex_);
      quarantined_[path] = *action;
    }
    text += action ? ", quarantined as action " + *action + " (korbu-scan --undo " + *action + " gives it back)"
                   : ", not quarantined: " + cli::ReadableFileName(action.error().reason);
  } else {
    text += NoteOnce(kFoundAction, path, virus, repeated);
  }
  status_.Found(file + ": " + name);
  Line(LOG_WARNING, text);
  if (settings_.notify && !repeated) NotifyDesktopUsers("A virus was found", name + " in " + file + ".");
}

void GuardReport::LetGo(const std::string& path, const std::string& why) {
  const std::string text = cli::ReadableFileName(path) + ": " + cli::ReadableFileName(why);
  status_.LetGo(text);
  Line(LOG_NOTICE, "let go unjudged " + text);
}

}  // namespace korbu::guard
