#include "platform/posix/WineRegHelper.h"

#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <ctime>
#include <cstdlib>
#include <cstring>

#include "platform/Path.h"
#include "platform/SystemError.h"
#include "platform/posix/PosixSupport.h"
#include "platform/posix/WineRegistryLock.h"

extern char** environ;

namespace korbu::platform::posix {
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

// Who the child runs as: the prefix's owner when this program is root.
struct Identity {
  bool change = false;
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;
};

Identity ChildIdentity(const std::string& prefix) {
  Identity identity;
  struct stat st {};
  if (::geteuid() != 0 || ::stat(prefix.c_str(), &st) != 0 || st.st_uid == 0) return identity;
  identity.change = true;
  identity.uid = st.st_uid;
  identity.gid = st.st_gid;
  std::vector<char> buffer(16384);
  passwd entry {};
  passwd* found = nullptr;
  if (::getpwuid_r(st.st_uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    identity.gid = found->pw_gid;
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

std::vector<std::string> ChildEnvironment(const std::string& prefix) {
  const std::string tmpDir = WineServerTmpDir(prefix);
  std::vector<std::string> env;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const std::string_view entry(*e);
    if (entry.starts_with("WINEPREFIX=") || entry.starts_with("WINEDEBUG=")) continue;
    if (!tmpDir.empty() && entry.starts_with("TMPDIR=")) continue;
    env.emplace_back(entry);
  }
  env.push_back("WINEPREFIX=" + prefix);
  env.push_back("WINEDEBUG=-all");
  if (!tmpDir.empty()) env.push_back("TMPDIR=" + tmpDir);
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
  std::vector<std::string> env = ChildEnvironment(prefix);
  std::vector<char*> argv = Pointers(args);
  std::vector<char*> envp = Pointers(env);
  const Identity identity = ChildIdentity(prefix);

  Pipe in, out, err, status;
  if (!in.Open() || !out.Open() || !err.Open() || !status.Open()) return LastSystemError().Context("cannot start Wine");
  const pid_t pid = ::fork();
  if (pid < 0) return LastSystemError().Context("cannot start Wine");
  if (pid == 0) RunChild(in.read.Get(), out.write.Get(), err.write.Get(), status.write.Get(), identity, argv.data(), envp.data());
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

}  // namespace korbu::platform::posix
