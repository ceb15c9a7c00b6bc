#include "platform/wine/WineRegHelper.h"

#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <pthread.h>
#include <signal.h>
#include <linux/close_range.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <chrono>
#include <ctime>
#include <cstdlib>
#include <cstring>

#include "platform/Path.h"
#include "platform/SystemError.h"
#include "platform/posix/PathOwnership.h"
#include "platform/posix/PosixSupport.h"
#include "platform/wine/WineRegistryLock.h"

extern char** environ;

namespace korbu::platform::wine {

using posix::OnlyChangeableBy;
using posix::RetryOnEintr;
using posix::UniqueFd;
namespace {

constexpr auto kTimeLimit = std::chrono::seconds(120);
constexpr auto kPollInterval = std::chrono::milliseconds(20);
// The largest answer taken: ten thousand values of a Run key are a few MiB.
constexpr std::size_t kMaxReplyBytes = 64u << 20;
// What Wine says on its standard error is kept for the reason of a failure.
constexpr std::size_t kMaxErrorBytes = 4096;

// Writes to the helper's standard input. A Wine that ends before reading it
// closes the pipe: that must be an error of this request, never a SIGPIPE that
// ends the whole program. The signal is held back for this thread and, when this
// write raised it, taken off again.
ssize_t WriteToChild(int fd, const char* data, std::size_t size) {
  sigset_t pipeSignal, previous;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  sigset_t pending;
  sigemptyset(&pending);
  ::sigpending(&pending);
  const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
  ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
  const ssize_t n = ::write(fd, data, size);
  const int saved = errno;
  if (n < 0 && saved == EPIPE && !alreadyPending) {
    const timespec none{0, 0};
    RetryOnEintr([&] { return ::sigtimedwait(&pipeSignal, nullptr, &none); });
  }
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  errno = saved;
  return n;
}

// Who the child runs as, and the home it gets: the prefix's owner when this
// program is root.
struct Identity {
  bool change = false;
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;
  std::string home;
};

constexpr const char* kDefaultPath = "/usr/local/bin:/usr/bin:/bin";

Expected<Identity> ChildIdentity(const std::string& prefix) {
  Identity identity;
  if (const char* home = std::getenv("HOME"); home != nullptr) identity.home = home;
  if (::geteuid() != 0) return identity;  // Wine runs as this very user
  struct stat st {};
  if (::stat(prefix.c_str(), &st) != 0) return LastSystemError().Context(prefix);
  if (st.st_uid == 0) {
    // Root's Wine loads what the prefix holds (its DLL overrides, its drive C:):
    // only a prefix that nobody but root can change.
    if (auto owned = OnlyChangeableBy(prefix, 0); !owned)
      return Failure("Wine is not started as root for " + prefix + ": " + owned.error().reason);
    return identity;
  }
  identity.change = true;
  identity.uid = st.st_uid;
  identity.gid = st.st_gid;  // one of the owner's groups: only they could set it
  identity.home = "/nonexistent";
  std::vector<char> buffer(16384);
  passwd entry {};
  passwd* found = nullptr;
  if (::getpwuid_r(st.st_uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    identity.gid = found->pw_gid;
    if (found->pw_dir != nullptr && found->pw_dir[0] == '/') identity.home = found->pw_dir;
    int count = 64;
    identity.groups.resize(static_cast<std::size_t>(count));
    if (::getgrouplist(found->pw_name, found->pw_gid, identity.groups.data(), &count) < 0) {
      identity.groups.resize(static_cast<std::size_t>(count));
      ::getgrouplist(found->pw_name, found->pw_gid, identity.groups.data(), &count);
    }
    identity.groups.resize(static_cast<std::size_t>(count > 0 ? count : 0));
  }
  if (identity.groups.empty()) identity.groups.push_back(identity.gid);
  return identity;
}

bool IsLocaleVariable(std::string_view entry) {
  return entry.starts_with("LANG=") || entry.starts_with("LANGUAGE=") || entry.starts_with("LC_");
}

// Nothing of the caller's reaches Wine but the locale: the child may run as
// another user, who can read its environment.
std::vector<std::string> ChildEnvironment(const std::string& prefix, const Identity& identity) {
  std::vector<std::string> env;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    if (IsLocaleVariable(*e)) env.emplace_back(*e);
  }
  const char* path = std::getenv("PATH");
  env.push_back(std::string("PATH=") + (!identity.change && path != nullptr ? path : kDefaultPath));
  if (!identity.home.empty()) env.push_back("HOME=" + identity.home);
  env.push_back("WINEPREFIX=" + prefix);
  env.push_back("WINEDEBUG=-all");
  if (const std::string tmpDir = WineServerTmpDir(prefix); !tmpDir.empty()) env.push_back("TMPDIR=" + tmpDir);
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

void SetNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Only async-signal-safe calls between fork and exec; a failure is told through
// the status pipe as its errno.
[[noreturn]] void RunChild(int in, int out, int err, int status, const Identity& identity, char** argv, char** envp) {
  ::setpgid(0, 0);  // its own group, so a hung Wine ends with everything it started
  if (::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) goto failed;
  if (identity.change && (::setgroups(identity.groups.size(), identity.groups.data()) != 0 ||
                          ::setresgid(identity.gid, identity.gid, identity.gid) != 0 ||
                          ::setresuid(identity.uid, identity.uid, identity.uid) != 0))
    goto failed;
  if (::chdir("/") != 0) goto failed;
  // No descriptor of this program's reaches Wine, whoever it runs as.
  if (::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) != 0 && errno != ENOSYS) goto failed;
  ::execvpe(argv[0], argv, envp);
failed:
  const int code = errno;
  (void)!::write(status, &code, sizeof code);
  ::_exit(127);
}

struct Pipe {
  UniqueFd read;
  UniqueFd write;
  bool Open() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    read.Reset(fds[0]);
    write.Reset(fds[1]);
    return true;
  }
};

// Reads what is there now; false at the end of the stream.
bool Drain(int fd, std::string& into, std::size_t limit, bool& overflow) {
  char chunk[65536];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got > 0) {
      const std::size_t room = limit > into.size() ? limit - into.size() : 0;
      if (static_cast<std::size_t>(got) > room) overflow = true;
      into.append(chunk, std::min(room, static_cast<std::size_t>(got)));
      continue;
    }
    if (got == 0) return false;
    return errno == EAGAIN || errno == EINTR;
  }
}

std::string LastLine(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  const std::size_t cut = text.find_last_of('\n');
  if (cut != std::string::npos) text.erase(0, cut + 1);
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return text;
}

struct Outcome {
  std::string reply;
  std::string errors;
  int status = 0;
};

Expected<Outcome> Exchange(const std::string& prefix, const std::string& request, const std::atomic<bool>* stop) {
  const std::string helper = WineHelperPath();
  if (!FileExists(helper)) return Failure("the Wine registry helper is missing: " + helper);
  const char* named = std::getenv("WINE");
  std::vector<std::string> args = {named != nullptr && named[0] != '\0' ? named : "wine", helper};
  const auto identity = ChildIdentity(prefix);
  if (!identity) return identity.error();
  std::vector<std::string> env = ChildEnvironment(prefix, *identity);
  std::vector<char*> argv = Pointers(args);
  std::vector<char*> envp = Pointers(env);

  Pipe in, out, err, status;
  if (!in.Open() || !out.Open() || !err.Open() || !status.Open()) return LastSystemError().Context("cannot start Wine");
  const pid_t pid = ::fork();
  if (pid < 0) return LastSystemError().Context("cannot start Wine");
  if (pid == 0) RunChild(in.read.Get(), out.write.Get(), err.write.Get(), status.write.Get(), *identity, argv.data(), envp.data());
  ::setpgid(pid, pid);
  in.read.Reset();
  out.write.Reset();
  err.write.Reset();
  status.write.Reset();

  int code = 0;
  if (RetryOnEintr([&] { return ::read(status.read.Get(), &code, sizeof code); }) == sizeof code) {
    RetryOnEintr([&] { return ::waitpid(pid, nullptr, 0); });
    return Error{"cannot start Wine (" + args[0] + "): " + SystemError(code).reason, code};
  }

  SetNonBlocking(in.write.Get());
  SetNonBlocking(out.read.Get());
  SetNonBlocking(err.read.Get());
  Outcome outcome;
  std::size_t sent = 0;
  bool overflow = false;
  bool discard = false;
  const auto deadline = std::chrono::steady_clock::now() + kTimeLimit;
  std::string failure;
  for (;;) {
    if (in.write.Valid()) {
      const ssize_t n = WriteToChild(in.write.Get(), request.data() + sent, request.size() - sent);
      if (n > 0) sent += static_cast<std::size_t>(n);
      if (sent == request.size() || (n < 0 && errno != EAGAIN && errno != EINTR)) in.write.Reset();
    }
    Drain(out.read.Get(), outcome.reply, kMaxReplyBytes, overflow);
    Drain(err.read.Get(), outcome.errors, kMaxErrorBytes, discard);
    int wstatus = 0;
    const pid_t done = RetryOnEintr([&] { return ::waitpid(pid, &wstatus, WNOHANG); });
    if (done == pid) {
      // The helper wrote all before it ended; a server Wine started meanwhile may
      // hold the pipes open, so nothing more is waited for.
      Drain(out.read.Get(), outcome.reply, kMaxReplyBytes, overflow);
      Drain(err.read.Get(), outcome.errors, kMaxErrorBytes, discard);
      outcome.status = wstatus;
      break;
    }
    if (overflow) failure = "the answer is larger than " + std::to_string(kMaxReplyBytes >> 20) + " MiB";
    else if (stop != nullptr && stop->load()) failure = "stopped";
    else if (std::chrono::steady_clock::now() > deadline) failure = "no answer within two minutes";
    if (!failure.empty()) {
      ::kill(-pid, SIGKILL);
      RetryOnEintr([&] { return ::waitpid(pid, nullptr, 0); });
      return Failure("Wine in " + prefix + ": " + failure);
    }
    pollfd fds[2] = {{out.read.Get(), POLLIN, 0}, {err.read.Get(), POLLIN, 0}};
    ::poll(fds, 2, static_cast<int>(kPollInterval.count()));
  }
  if (overflow) return Failure("Wine in " + prefix + ": the answer is larger than " + std::to_string(kMaxReplyBytes >> 20) + " MiB");
  return outcome;
}

}  // namespace

std::string WineHelperPath() {
  std::vector<char> buffer(4096);
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return "korbu-winereg.exe";
  return ExtractFilePath(std::string(buffer.data(), static_cast<std::size_t>(n))) + "korbu-winereg.exe";
}

Expected<std::vector<winereg::Result>> RunWineHelper(const std::string& prefix,
                                                     const std::vector<winereg::Operation>& operations,
                                                     const std::atomic<bool>* stop) {
  auto outcome = Exchange(prefix, winereg::FormatRequest(operations), stop);
  if (!outcome) return outcome.error();
  auto results = winereg::ParseReply(outcome->reply, operations);
  if (results) return results;
  std::string reason = "Wine in " + prefix + " gave no usable answer";
  if (WIFEXITED(outcome->status)) reason += " (exit status " + std::to_string(WEXITSTATUS(outcome->status)) + ")";
  else if (WIFSIGNALED(outcome->status)) reason += " (ended by signal " + std::to_string(WTERMSIG(outcome->status)) + ")";
  const std::string said = LastLine(outcome->errors);
  reason += ": " + (said.empty() ? results.error().reason : said);
  return Failure(reason);
}

}  // namespace korbu::platform::wine
