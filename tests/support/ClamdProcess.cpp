#include "support/ClamdProcess.h"

#ifndef _WIN32

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "engine/ClamdScanner.h"
#include "support/TempTree.h"

extern char** environ;

namespace korbu::test {
namespace {

std::string ClamdProgram() {
  for (const char* candidate : {"/usr/sbin/clamd", "/usr/local/sbin/clamd"}) {
    if (::access(candidate, X_OK) == 0) return candidate;
  }
  return {};
}

std::string Databases() { return SharedDir().empty() ? std::string() : SharedDir() + "/engine-test-db"; }

std::string Settings() {
  std::ifstream in(std::string(KORBU_SOURCE_DIR) + "/docs/clamd-korbu.conf");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::string ClamdProcess::Unavailable() {
  if (ClamdProgram().empty()) return "clamd is not installed (package clamav-daemon)";
  if (Databases().empty()) return "the shared test databases are not present";
  if (Settings().empty()) return "docs/clamd-korbu.conf is missing";
  return {};
}

std::uint16_t FreeLoopbackPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof where;
  std::uint16_t port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&where), &length) == 0) {
    port = ntohs(where.sin_port);
  }
  ::close(s);
  return port;
}

ClamdProcess::ClamdProcess(const std::string& folder, bool tcp, const std::vector<std::string>& extra) {
  problem_ = Unavailable();
  if (!problem_.empty()) return;
  if (tcp) {
    address_.host = "127.0.0.1";
    address_.port = FreeLoopbackPort();
  } else {
    address_.socketPath = folder + "/clamd.sock";
  }
  const std::string config = folder + "/clamd.conf";
  {
    std::ofstream out(config);
    out << "Foreground yes\n"
        << "DatabaseDirectory " << Databases() << "\n"
        << "TemporaryDirectory " << folder << "\n"
        << "LogFile " << folder << "/clamd.log\n"
        << "MaxThreads 4\n";
    if (tcp) {
      out << "TCPSocket " << address_.port << "\nTCPAddr 127.0.0.1\n";
    } else {
      out << "LocalSocket " << address_.socketPath << "\n";
    }
    // clamd takes the first of two lines of a setting: an extra one replaces the project's.
    std::istringstream settings(Settings());
    for (std::string line; std::getline(settings, line);) {
      const std::string name = line.substr(0, line.find(' '));
      bool replaced = false;
      for (const std::string& each : extra) replaced = replaced || each.substr(0, each.find(' ')) == name;
      if (!replaced) out << line << "\n";
    }
    for (const std::string& line : extra) out << line << "\n";
  }
  const std::string program = ClamdProgram();
  std::string configArg = "--config-file=" + config;
  char* argv[] = {const_cast<char*>(program.c_str()), configArg.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t child = -1;
  const int spawned = ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  pid_ = static_cast<int>(child);
  if (spawned != 0) {
    pid_ = -1;
    problem_ = "clamd did not start";
    return;
  }
  // Loading 17 signatures takes about a second; a slow machine gets ample time.
  ClamdScanner probe(address_, ClamdTimeouts{std::chrono::milliseconds(500), std::chrono::milliseconds(2000)});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (;;) {
    if (probe.QueryVersion()) return;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      problem_ = "clamd ended at its start; see " + folder + "/clamd.log";
      return;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      problem_ = "clamd did not answer within 30 s";
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

void ClamdProcess::Kill() {
  if (pid_ < 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}

ClamdProcess::~ClamdProcess() { Kill(); }

}  // namespace korbu::test

#endif
