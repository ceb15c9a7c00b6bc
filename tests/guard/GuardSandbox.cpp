#include "GuardSandbox.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/fanotify.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

#include "support/CommandRun.h"

extern char** environ;

namespace korbu::test {
namespace {

std::string Why(const std::string& what) { return what + ": " + std::strerror(errno); }

std::string EnterNamespace() {
  if (::geteuid() != 0) return "the guard needs root";
  if (::unshare(CLONE_NEWNS) != 0) return Why("no mount namespace of the test's own");
  if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return Why("mounts cannot be made private");
  const int fd = ::fanotify_init(FAN_CLASS_CONTENT, O_RDONLY);
  if (fd < 0) return Why("no fanotify");
  ::close(fd);
  return std::string();
}

}  // namespace

std::string GuardSandbox::Unavailable() {
  static const std::string why = EnterNamespace();
  return why;
}

GuardSandbox::GuardSandbox() {
  tree_.MakeDir("home/data");
  tree_.MakeDir("home/cache");
  tree_.MakeDir("run");
  MountTmpfs(tree_.Path("watched"));
}

GuardSandbox::~GuardSandbox() {
  for (auto it = mounts_.rbegin(); it != mounts_.rend(); ++it) (void)::umount2(it->c_str(), MNT_DETACH);
}

std::string GuardSandbox::Watched(const std::string& relative) const {
  return relative.empty() ? tree_.Path("watched") : tree_.Path("watched/" + relative);
}

void GuardSandbox::MountTmpfs(const std::string& path) {
  std::filesystem::create_directories(path);
  ASSERT_EQ(::mount("none", path.c_str(), "tmpfs", 0, "size=64m,mode=0755"), 0) << Why("tmpfs at " + path);
  mounts_.push_back(path);
}

void GuardSandbox::BindMount(const std::string& from, const std::string& to) {
  std::filesystem::create_directories(to);
  ASSERT_EQ(::mount(from.c_str(), to.c_str(), nullptr, MS_BIND, nullptr), 0) << Why("bind mount at " + to);
  mounts_.push_back(to);
}

std::vector<std::string> GuardSandbox::Environment() const {
  return {"HOME=" + tree_.Path("home"), "XDG_DATA_HOME=" + tree_.Path("home/data"),
          "XDG_CACHE_HOME=" + tree_.Path("home/cache")};
}

std::string GuardSandbox::EnvironmentPrefix() const {
  std::string prefix = "env";
  for (const std::string& setting : Environment()) prefix += " " + ShellQuote(setting);
  return prefix + " ";
}

GuardProcess::GuardProcess(const GuardSandbox& sandbox, std::vector<std::string> args)
    : statusFile_(sandbox.Path("run") + "/guard/status") {
  std::vector<std::string> argv{KORBU_GUARD_EXE, "--no-syslog", "--no-notify", "--status-file", statusFile_};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> env = sandbox.Environment();
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string setting(*e);
    if (setting.rfind("HOME=", 0) != 0 && setting.rfind("XDG_", 0) != 0) env.push_back(setting);
  }
  std::vector<char*> argp, envp;
  for (std::string& a : argv) argp.push_back(a.data());
  argp.push_back(nullptr);
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0 || (pid_ = ::fork()) < 0) {
    ADD_FAILURE() << Why("cannot start the guard");
    return;
  }
  if (pid_ == 0) {
    ::dup2(pipeFds[1], 2);
    ::execve(argp[0], argp.data(), envp.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  reader_ = std::thread([this, fd = pipeFds[0]] {
    std::string pending;
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
      pending.append(buffer, static_cast<std::size_t>(got));
      std::size_t end = 0;
      while ((end = pending.find('\n')) != std::string::npos) {
        const std::lock_guard lock(mutex_);
        lines_.push_back(pending.substr(0, end));
        pending.erase(0, end + 1);
        changed_.notify_all();
      }
    }
    ::close(fd);
  });
  // Under the sanitizers the engine takes a while to load.
  ready_ = !WaitFor("korbu-guard: ready", std::chrono::seconds(30)).empty();
  EXPECT_TRUE(ready_) << "the guard did not start:\n" << Output();
}

GuardProcess::~GuardProcess() {
  if (pid_ > 0) Reap(SIGKILL);
  if (reader_.joinable()) reader_.join();
}

std::string GuardProcess::WaitFor(const std::string& text, std::chrono::milliseconds within) {
  std::unique_lock lock(mutex_);
  std::string found;
  changed_.wait_for(lock, within, [&] {
    for (const std::string& line : lines_) {
      if (line.find(text) != std::string::npos) {
        found = line;
        return true;
      }
    }
    return false;
  });
  return found;
}

std::string GuardProcess::Output() {
  const std::lock_guard lock(mutex_);
  std::string all;
  for (const std::string& line : lines_) all += line + "\n";
  return all;
}

void GuardProcess::Reap(int signal) {
  ::kill(pid_, signal);
  int status = 0;
  if (::waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status)) exitStatus_ = WEXITSTATUS(status);
  pid_ = -1;
}

int GuardProcess::Terminate() {
  if (pid_ > 0) Reap(SIGTERM);
  return exitStatus_;
}

void GuardProcess::Kill() {
  if (pid_ > 0) Reap(SIGKILL);
}

std::string GuardProcess::Status() const {
  return RunCommand(ShellQuote(KORBU_GUARD_EXE) + " --status --status-file " + ShellQuote(statusFile_) + " 2>&1")
      .output;
}

pid_t StartProgram(const std::string& path) {
  std::string program = path;
  char* argv[] = {program.data(), nullptr};
  const pid_t child = ::fork();
  if (child == 0) {
    ::execv(argv[0], argv);
    ::_exit(100 + errno);
  }
  return child;
}

int RunProgram(const std::string& path) {
  const pid_t child = StartProgram(path);
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

pid_t StartOpen(const std::string& path) {
  const pid_t child = ::fork();
  if (child == 0) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    ::_exit(fd >= 0 ? 0 : 100 + errno);
  }
  return child;
}

pid_t StartRead(const std::string& path) {
  const pid_t child = ::fork();
  if (child == 0) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    char head[2];
    ::_exit(fd >= 0 && ::read(fd, head, sizeof head) >= 0 ? 0 : 100 + errno);
  }
  return child;
}

pid_t StartCreate(const std::string& path) {
  const pid_t child = ::fork();
  if (child == 0) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    ::_exit(fd >= 0 && ::write(fd, "new", 3) == 3 ? 0 : 100 + errno);
  }
  return child;
}

int WaitChild(pid_t child, std::chrono::milliseconds within) {
  const auto end = std::chrono::steady_clock::now() + within;
  while (true) {
    int status = 0;
    const pid_t done = ::waitpid(child, &status, WNOHANG);
    if (done == child) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (done < 0 || std::chrono::steady_clock::now() >= end) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace korbu::test
