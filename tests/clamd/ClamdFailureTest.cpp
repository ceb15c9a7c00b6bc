// A clamd that is missing, never answers, hangs up or answers out of turn: every
// file it did not judge gets an error, never "clean", and the own detection
// still names what it knows. The servers here are stand-ins of the test's own.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "detect/VariantTable.h"
#include "engine/ClamdScanner.h"
#include "engine/EngineStartup.h"
#include "scan/FileVerdict.h"
#include "support/CrcForge.h"
#include "support/ScopedEnvironment.h"
#include "support/TempTree.h"

namespace korbu {
namespace {

using namespace std::chrono_literals;

enum class Behaviour { Silent, HangUp, OutOfTurn, Trickle };

// Accepts connections on a local socket and treats every command as told.
class StandInServer {
 public:
  StandInServer(const std::string& path, Behaviour behaviour) : behaviour_(behaviour) {
    listener_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un where{};
    where.sun_family = AF_UNIX;
    std::strncpy(where.sun_path, path.c_str(), sizeof where.sun_path - 1);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 || ::listen(listener_, 8) != 0) {
      ::close(listener_);
      listener_ = -1;
      return;
    }
    thread_ = std::thread([this] { Serve(); });
  }
  ~StandInServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listener_ >= 0) ::close(listener_);
  }
  bool Listening() const { return listener_ >= 0; }

 private:
  void Serve() {
    std::vector<int> held;
    while (!stop_) {
      pollfd watch{listener_, POLLIN, 0};
      if (::poll(&watch, 1, 20) <= 0) continue;
      const int client = ::accept(listener_, nullptr, nullptr);
      if (client < 0) continue;
      // What the client sends first: zIDSESSION, then its command.
      char bytes[256];
      pollfd in{client, POLLIN, 0};
      if (::poll(&in, 1, 1000) > 0) (void)::recv(client, bytes, sizeof bytes, 0);
      if (behaviour_ == Behaviour::OutOfTurn) {
        static const char reply[] = "7: fd[5]: OK";
        (void)::send(client, reply, sizeof reply, MSG_NOSIGNAL);
      }
      // A byte at a time, never the end of the reply.
      for (int i = 0; behaviour_ == Behaviour::Trickle && i < 20 && !stop_; ++i) {
        (void)::send(client, "1", 1, MSG_NOSIGNAL);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      if (behaviour_ == Behaviour::HangUp) {
        ::close(client);
      } else {
        held.push_back(client);
      }
    }
    for (int client : held) ::close(client);
  }

  Behaviour behaviour_;
  int listener_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class ClamdFailure : public ::testing::Test {
 protected:
  ClamdScanner Scanner(const std::string& socket) {
    ClamdAddress address;
    address.socketPath = socket;
    return ClamdScanner(address, ClamdTimeouts{300ms, 300ms});
  }
  // A file's verdict through the scanner, as the walk makes it.
  FileVerdictResult Judge(EngineScanner& scanner, const std::string& path) {
    ScanContext context;
    context.engine = &scanner;
    return JudgeFile(path, context);
  }

  test::TempTree tree_;
};

TEST_F(ClamdFailure, EveryWayOfNotAnsweringIsAnErrorForTheFile) {
  const std::string file = tree_.Write("plain.txt", "nothing to see\n");
  const std::string variant = tree_.Write("variant.exe", test::VariantFile(2));
  struct Case {
    const char* name;
    std::optional<Behaviour> server;  // none: nothing listens at the path
    std::vector<std::string> says;  // one of these
  };
  int index = 0;
  for (const Case& c : {Case{"missing", std::nullopt, {"connect: No such file or directory"}},
                        Case{"silent", Behaviour::Silent, {"did not answer in time"}},
                        Case{"hangs up", Behaviour::HangUp, {"closed the connection", "Broken pipe", "Connection reset"}},
                        Case{"out of turn", Behaviour::OutOfTurn, {"out of turn"}},
                        Case{"trickles", Behaviour::Trickle, {"did not answer in time"}}}) {
    const std::string socket = tree_.Path("s" + std::to_string(index++) + ".sock");
    std::optional<StandInServer> server;
    if (c.server) {
      server.emplace(socket, *c.server);
      ASSERT_TRUE(server->Listening()) << c.name;
    }
    ClamdScanner scanner = Scanner(socket);
    for (int round = 0; round < 2; ++round) {  // the next file too: nothing is left half done
      const FileVerdictResult result = Judge(scanner, file);
      EXPECT_EQ(result.verdict, "") << c.name;
      EXPECT_FALSE(result.JudgedWhole()) << c.name;
      bool told = false;
      for (const std::string& text : c.says) told = told || result.error.find(text) != std::string::npos;
      EXPECT_TRUE(told) << c.name << ": " << result.error;
    }
    EXPECT_FALSE(scanner.QueryVersion()) << c.name;
    // The own detection names what it knows all the same.
    EXPECT_EQ(Judge(scanner, variant).verdict, VariantName(2)) << c.name;
  }
}

// The window's start-up: the clamd that KORBU_CLAMD names judges, and one that does
// not answer leaves the engine inactive with its reason, never the local engine.
TEST_F(ClamdFailure, TheWindowsStartUpTakesTheClamdTheEnvironmentNames) {
  const std::string socket = tree_.Path("window.sock");
  test::ScopedEnvironment clamd(kClamdVariable, socket);
  std::unique_ptr<EngineStartup> startup = MakeWindowEngineStartup();
  const EngineInfo info = StartEngine(*startup);
  ASSERT_NE(startup->RemoteEngine(), nullptr);
  EXPECT_EQ(startup->Engine(), nullptr);
  EXPECT_FALSE(info.loaded);
  EXPECT_FALSE(info.active);
  EXPECT_NE(info.loaded.Reason().find(socket), std::string::npos) << info.loaded.Reason();
  EXPECT_NE(info.engineVersion.find("clamd at " + socket), std::string::npos);
}

}  // namespace
}  // namespace korbu
