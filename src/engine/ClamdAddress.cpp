#include "engine/ClamdAddress.h"

namespace korbu {
namespace {

Error Malformed(const std::string& text) {
  return Failure("not a clamd address (a socket path with a '/', or HOST:PORT): \"" + text + "\"");
}

}  // namespace

std::string ClamdAddress::Text() const {
  if (Local()) return socketPath;
  const bool v6 = host.find(':') != std::string::npos;
  return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

Expected<ClamdAddress> ParseClamdAddress(const std::string& text) {
  ClamdAddress address;
  if (text.find('/') != std::string::npos) {
    if (text.find('\0') != std::string::npos) return Malformed(text);
    address.socketPath = text;
    return address;
  }
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return Malformed(text);
  std::string host = text.substr(0, colon);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return Malformed(text);
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string::npos) {
    return Malformed(text);  // an IPv6 address needs its brackets
  }
  unsigned long port = 0;
  for (std::size_t i = colon + 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9' || port > 65535) return Malformed(text);
    port = port * 10 + static_cast<unsigned long>(c - '0');
  }
  if (port == 0 || port > 65535) return Malformed(text);
  address.host = std::move(host);
  address.port = static_cast<std::uint16_t>(port);
  return address;
}

}  // namespace korbu
