#include "ChildProcess.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

extern char** environ;

namespace korbu::test {
namespace {

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::vector<std::string>& environment) {
  std::vector<std::string> args = arguments;
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text = *entry;
    bool replaced = false;
    for (const std::string& extra : environment) {
      if (text.starts_with(extra.substr(0, extra.find('=') + 1))) replaced = true;
    }
    if (!replaced) env.push_back(text);
  }
  env.insert(env.end(), environment.begin(), environment.end());
  std::vector<char*> argv = Pointers(args);
  std::vector<char*> envp = Pointers(env);
  pid_t pid = -1;
  if (::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), envp.data()) == 0) pid_ = pid;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_), endSignal_(other.endSignal_), exitCode_(other.exitCode_) {
  other.pid_ = -1;
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && endSignal_ == -1) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
}

int ChildProcess::WaitForEnd(std::chrono::milliseconds limit) {
  if (pid_ <= 0 || endSignal_ != -1) return endSignal_;
  const auto until = std::chrono::steady_clock::now() + limit;
  while (true) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      endSignal_ = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
      if (WIFEXITED(status)) exitCode_ = WEXITSTATUS(status);
      return endSignal_;
    }
    if (std::chrono::steady_clock::now() >= until) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace korbu::test
