#pragma once
// One socket to a clamd: connected with a time limit, commands and file bytes
// sent, an open descriptor passed over a local socket, and the NUL-terminated
// replies read back, each within the time limit. Not for several threads at once.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/ClamdAddress.h"
#include "platform/Expected.h"

namespace korbu {

class ClamdConnection {
 public:
  /// Connects to the address within connectTimeout; every later send and every
  /// wait for a reply fails after replyTimeout without progress.
  static Expected<ClamdConnection> Open(const ClamdAddress& address, std::chrono::milliseconds connectTimeout,
                                        std::chrono::milliseconds replyTimeout);

  ClamdConnection() = default;
  ClamdConnection(ClamdConnection&& other) noexcept;
  ClamdConnection& operator=(ClamdConnection&& other) noexcept;
  ClamdConnection(const ClamdConnection&) = delete;
  ClamdConnection& operator=(const ClamdConnection&) = delete;
  ~ClamdConnection();

  bool IsOpen() const { return socket_ >= 0; }

  /// Sends all of bytes.
  Status Send(std::string_view bytes);
  /// Passes the descriptor with one byte beside it (SCM_RIGHTS); local sockets only.
  Status SendDescriptor(int descriptor);
  /// Reads up to the next NUL (at most maxLength bytes before it) and returns the
  /// reply without it; all of it within the reply time-out, however the server
  /// spreads it out.
  Expected<std::string> ReadReply(std::size_t maxLength = 65536);
  /// True when bytes of a reply, or the end of the connection, are waiting now.
  bool ReplyWaiting();
  /// True when the server has closed the connection (and sent nothing more):
  /// a session it dropped while idle.
  bool ClosedByServer();

  void Close();

 private:
  ClamdConnection(int socket, std::chrono::milliseconds replyTimeout) : socket_(socket), replyTimeout_(replyTimeout) {}

  int socket_ = -1;
  std::chrono::milliseconds replyTimeout_{0};
  std::string buffered_;  // read beyond the last reply
};

}  // namespace korbu
