#pragma once
// One clamd session (IDSESSION ... END) on one connection, reused for one command
// after another: VERSION, and a scan of an open file, its descriptor passed over
// a local socket (clamd reads the very file the caller opened, with the caller's
// access) or its bytes streamed over TCP. A session the server dropped while
// idle is opened anew before the next command; one that failed is closed.

#include <chrono>
#include <string>

#include "engine/ClamdAddress.h"
#include "engine/ClamdConnection.h"
#include "engine/ClamdReply.h"
#include "platform/Expected.h"
#include "platform/OpenedFile.h"

namespace korbu {

struct ClamdTimeouts {
  std::chrono::milliseconds connect{5000};
  /// For any send, and for a reply, to make progress; clamd's own limit on a
  /// scan (MaxScanTime) is two minutes by default.
  std::chrono::milliseconds reply{150000};
};

class ClamdSession {
 public:
  ClamdSession(ClamdAddress address, ClamdTimeouts timeouts)
      : address_(std::move(address)), timeouts_(timeouts) {}
  /// Ends the session politely when it is open.
  ~ClamdSession();
  ClamdSession(const ClamdSession&) = delete;
  ClamdSession& operator=(const ClamdSession&) = delete;

  Expected<ClamdVersion> Version();
  /// clamd's verdict on the file; an error when no verdict came (no connection,
  /// a time-out, the server gone before it answered, the file unreadable).
  Expected<ClamdScanReply> Scan(platform::OpenedFile& file);

 private:
  // Opens the connection and the session unless one is open and alive.
  Status Ready();
  // Closes the connection and hands back the error.
  Error Drop(Error error);
  Status StreamBytes(platform::OpenedFile& file, bool& answeredEarly);

  ClamdAddress address_;
  ClamdTimeouts timeouts_;
  ClamdConnection connection_;
  unsigned lastId_ = 0;  // the id of the session's last command
};

}  // namespace korbu
