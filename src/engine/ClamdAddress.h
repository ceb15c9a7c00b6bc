#pragma once
// Where a clamd listens: a local socket, named by its path, or a TCP host and port.

#include <cstdint>
#include <string>

#include "platform/Expected.h"

namespace korbu {

struct ClamdAddress {
  std::string socketPath;  // the local socket; empty for TCP
  std::string host;        // the TCP host (a name, an IPv4 or an IPv6 address)
  std::uint16_t port = 0;

  bool Local() const { return !socketPath.empty(); }
  /// As the user wrote it: the path, or "HOST:PORT" ("[::1]:3310" for IPv6).
  std::string Text() const;
};

/// "PATH" (anything with a '/') is a local socket; "HOST:PORT" or "[IPV6]:PORT"
/// a TCP one, the port from 1 to 65535.
Expected<ClamdAddress> ParseClamdAddress(const std::string& text);

}  // namespace korbu
