#include "engine/ClamdConnection.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#ifndef _WIN32
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace korbu {

#ifndef _WIN32
namespace {

Error SystemError(const char* what, int code) { return Failure(std::string(what) + ": " + std::strerror(code), code); }

// Sends and receives give up after timeout without progress (connect too, on Linux).
void SetTimeouts(int socket, std::chrono::milliseconds timeout) {
  timeval value{};
  value.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  value.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
  ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value);
  ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &value, sizeof value);
}

Expected<int> ConnectLocal(const std::string& path, std::chrono::milliseconds timeout) {
  sockaddr_un where{};
  where.sun_family = AF_UNIX;
  if (path.size() >= sizeof where.sun_path) return Failure("the socket path is too long: " + path);
  std::memcpy(where.sun_path, path.data(), path.size());
  const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket < 0) return SystemError("socket", errno);
  SetTimeouts(socket, timeout);
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0) {
    const int code = errno;
    ::close(socket);
    return SystemError("connect", code);
  }
  return socket;
}

Expected<int> ConnectTcp(const std::string& host, std::uint16_t port, std::chrono::milliseconds timeout) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); status != 0) {
    return Failure("cannot resolve " + host + ": " + ::gai_strerror(status));
  }
  Error last = Failure("no address for " + host);
  int connected = -1;
  for (const addrinfo* each = found; each != nullptr && connected < 0; each = each->ai_next) {
    const int socket = ::socket(each->ai_family, each->ai_socktype | SOCK_CLOEXEC, each->ai_protocol);
    if (socket < 0) {
      last = SystemError("socket", errno);
      continue;
    }
    SetTimeouts(socket, timeout);
    if (::connect(socket, each->ai_addr, each->ai_addrlen) == 0) {
      const int on = 1;
      // Commands are short and answered one at a time.
      ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      connected = socket;
    } else {
      last = SystemError("connect", errno == EINPROGRESS ? ETIMEDOUT : errno);
      ::close(socket);
    }
  }
  ::freeaddrinfo(found);
  if (connected < 0) return last;
  return connected;
}

}  // namespace

Expected<ClamdConnection> ClamdConnection::Open(const ClamdAddress& address, std::chrono::milliseconds connectTimeout,
                                                std::chrono::milliseconds replyTimeout) {
  Expected<int> socket = address.Local() ? ConnectLocal(address.socketPath, connectTimeout)
                                         : ConnectTcp(address.host, address.port, connectTimeout);
  if (!socket) return socket.error().Context("clamd at " + address.Text());
  SetTimeouts(*socket, replyTimeout);
  return ClamdConnection(*socket, replyTimeout);
}

Status ClamdConnection::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) {
      const int code = sent < 0 ? errno : EPIPE;
      return SystemError("send to clamd", code == EAGAIN || code == EWOULDBLOCK ? ETIMEDOUT : code);
    }
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return Ok();
}

Status ClamdConnection::SendDescriptor(int descriptor) {
  char dummy = 0;
  iovec data{&dummy, 1};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  cmsghdr* header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(header), &descriptor, sizeof(int));
  ssize_t sent = -1;
  do {
    sent = ::sendmsg(socket_, &message, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent != 1) return SystemError("pass the file to clamd", sent < 0 ? errno : EPIPE);
  return Ok();
}

Expected<std::string> ClamdConnection::ReadReply(std::size_t maxLength) {
  const auto deadline = std::chrono::steady_clock::now() + replyTimeout_;
  for (;;) {
    const std::size_t end = buffered_.find('\0');
    if (end != std::string::npos) {
      std::string reply = buffered_.substr(0, end);
      buffered_.erase(0, end + 1);
      return reply;
    }
    if (buffered_.size() > maxLength) return Failure("clamd's reply is too long");
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd watch{socket_, POLLIN, 0};
    const int ready = left.count() > 0 ? ::poll(&watch, 1, static_cast<int>(std::min<long long>(left.count(), 1 << 30))) : 0;
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) return Failure("clamd did not answer in time", ETIMEDOUT);
    char chunk[4096];
    const ssize_t got = ::recv(socket_, chunk, sizeof chunk, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int code = errno;
      if (code == EAGAIN || code == EWOULDBLOCK) return Failure("clamd did not answer in time", ETIMEDOUT);
      return SystemError("read from clamd", code);
    }
    if (got == 0) return Failure("clamd closed the connection before it answered");
    buffered_.append(chunk, static_cast<std::size_t>(got));
  }
}

bool ClamdConnection::ReplyWaiting() {
  if (!buffered_.empty()) return true;
  pollfd watch{socket_, POLLIN, 0};
  return ::poll(&watch, 1, 0) > 0;
}

bool ClamdConnection::ClosedByServer() {
  if (!buffered_.empty()) return false;
  pollfd watch{socket_, POLLIN, 0};
  if (::poll(&watch, 1, 0) <= 0) return false;
  char byte = 0;
  const ssize_t got = ::recv(socket_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

void ClamdConnection::Close() {
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
  buffered_.clear();
}

#else  // _WIN32: the Windows build talks to no clamd.

Expected<ClamdConnection> ClamdConnection::Open(const ClamdAddress& address, std::chrono::milliseconds,
                                                std::chrono::milliseconds) {
  return Failure("clamd at " + address.Text() + ": not supported on Windows");
}
Status ClamdConnection::Send(std::string_view) { return Failure("not supported on Windows"); }
Status ClamdConnection::SendDescriptor(int) { return Failure("not supported on Windows"); }
Expected<std::string> ClamdConnection::ReadReply(std::size_t) { return Failure("not supported on Windows"); }
bool ClamdConnection::ReplyWaiting() { return false; }
bool ClamdConnection::ClosedByServer() { return true; }
void ClamdConnection::Close() { socket_ = -1; }

#endif

ClamdConnection::ClamdConnection(ClamdConnection&& other) noexcept
    : socket_(std::exchange(other.socket_, -1)),
      replyTimeout_(other.replyTimeout_),
      buffered_(std::move(other.buffered_)) {}

ClamdConnection& ClamdConnection::operator=(ClamdConnection&& other) noexcept {
  if (this != &other) {
    Close();
    socket_ = std::exchange(other.socket_, -1);
    replyTimeout_ = other.replyTimeout_;
    buffered_ = std::move(other.buffered_);
  }
  return *this;
}

ClamdConnection::~ClamdConnection() { Close(); }

}  // namespace korbu
