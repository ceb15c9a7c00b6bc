#include "guard/GuardStatus.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <ostream>
#include <sstream>

#include "platform/FolderHandle.h"

namespace korbu::guard {
namespace {

constexpr std::size_t kLastKept = 10;

void Keep(std::vector<std::string>& lines, const std::string& line) {
  lines.push_back(line);
  if (lines.size() > kLastKept) lines.erase(lines.begin());
}

std::string FolderOf(const std::string& file) {
  const std::size_t slash = file.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : file.substr(0, slash);
}

// The status names its guard's process: it runs when that process is a korbu-guard.
bool WriterRuns(const std::string& text) {
  const std::size_t at = text.find(", process ");
  if (at == std::string::npos) return false;
  const long pid = std::strtol(text.c_str() + at + 10, nullptr, 10);
  if (pid <= 0) return false;
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  return std::getline(comm, name) && name == "korbu-guard";
}

}  // namespace

Status GuardStatus::Begin(const std::string& startedAt) {
  const std::string folder = FolderOf(file_);
  if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
    return Failure("cannot make " + folder + ": " + std::generic_category().message(errno), errno);
  }
  if (const Status trusted = platform::CheckTrustedFolder(folder); !trusted) return trusted;
  {
    const std::lock_guard lock(mutex_);
    startedAt_ = startedAt;
  }
  Write();
  return Ok();
}

void GuardStatus::End() { (void)::unlink(file_.c_str()); }

void GuardStatus::Watching(const std::string& what) {
  {
    const std::lock_guard lock(mutex_);
    watched_.push_back(what);
  }
  Write();
}

void GuardStatus::Count(std::uint64_t& counter, std::vector<std::string>& last, const std::string& line) {
  {
    const std::lock_guard lock(mutex_);
    ++counter;
    Keep(last, line);
  }
  Write();
}

void GuardStatus::Refused(const std::string& line) { Count(refused_, lastRefused_, line); }
void GuardStatus::Found(const std::string& line) { Count(found_, lastFound_, line); }
void GuardStatus::LetGo(const std::string& line) { Count(letGo_, lastLetGo_, line); }

std::string GuardStatus::Text() const {
  const std::lock_guard lock(mutex_);
  std::ostringstream text;
  text << "korbu-guard running since " << startedAt_ << ", process " << ::getpid() << "\n";
  for (const std::string& what : watched_) text << "watching " << what << "\n";
  text << "refused: " << refused_ << "\n";
  for (const std::string& line : lastRefused_) text << "  " << line << "\n";
  text << "found: " << found_ << "\n";
  for (const std::string& line : lastFound_) text << "  " << line << "\n";
  text << "let go unjudged: " << letGo_ << "\n";
  for (const std::string& line : lastLetGo_) text << "  " << line << "\n";
  return text.str();
}

void GuardStatus::Write() {
  const std::string text = Text();
  const std::lock_guard lock(mutex_);
  const std::string temporary = file_ + ".new";
  (void)::unlink(temporary.c_str());
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  if (!written || ::rename(temporary.c_str(), file_.c_str()) != 0) (void)::unlink(temporary.c_str());
}

int PrintGuardStatus(const std::string& file, std::ostream& out, std::ostream& err) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    if (fd >= 0) ::close(fd);
    err << "korbu-guard: not running (no status in " << file << ")\n";
    return 3;
  }
  // Only the guard's own status counts: root's, written by no one else.
  if (!S_ISREG(st.st_mode) || st.st_uid != 0 || (st.st_mode & 022) != 0) {
    ::close(fd);
    err << "korbu-guard: " << file << " is not the guard's status\n";
    return 3;
  }
  std::string text;
  char buffer[4096];
  ssize_t got = 0;
  while ((got = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(got));
  ::close(fd);
  // A guard that was killed left its last status: say so rather than "running".
  if (!WriterRuns(text)) {
    err << "korbu-guard: not running (it ended without stopping; its last status follows)\n";
    out << text;
    return 3;
  }
  out << text;
  return 0;
}

}  // namespace korbu::guard
