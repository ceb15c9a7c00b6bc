#include "platform/wine/WineServers.h"

#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <linux/unix_diag.h>
#include <sys/socket.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/posix/PathOwnership.h"
#include "platform/posix/PosixSupport.h"
#include "platform/posix/ProcessImage.h"

namespace korbu::platform::wine {

using posix::OnlyChangeableBy;
using posix::ReadProcFile;
using posix::RetryOnEintr;
using posix::UniqueFd;
namespace {

constexpr std::size_t kAlign = 4;
std::size_t Aligned(std::size_t n) { return (n + kAlign - 1) & ~(kAlign - 1); }

std::string ReadLinkAt(int dir, const char* name) {
  char buffer[4096];
  const ssize_t n = ::readlinkat(dir, name, buffer, sizeof buffer);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) return {};
  return std::string(buffer, static_cast<std::size_t>(n));
}

// "socket:[12345]" -> 12345.
std::optional<std::uint64_t> SocketInode(std::string_view link) {
  if (!link.starts_with("socket:[") || !link.ends_with("]")) return std::nullopt;
  const std::string_view digits = link.substr(8, link.size() - 9);
  std::uint64_t inode = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), inode);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return inode;
}

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

// Calls visit with the name of each entry of the process's fd folder.
template <typename Visit>
void ForEachFd(int procDir, Visit visit) {
  const int fds = ::openat(procDir, "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fds < 0) return;
  std::unique_ptr<DIR, DirCloser> dir(::fdopendir(fds));
  if (!dir) {
    ::close(fds);
    return;
  }
  while (const dirent* entry = ::readdir(dir.get())) {
    if (entry->d_name[0] != '.') visit(::dirfd(dir.get()), entry->d_name);
  }
}

bool IsWineServer(std::string_view exe) {
  const std::size_t slash = exe.rfind('/');
  const std::string_view name = slash == std::string_view::npos ? exe : exe.substr(slash + 1);
  return name == "wineserver" || name == "wineserver64" || name == "wineserver32";
}

}  // namespace

std::optional<std::map<std::uint64_t, std::uint64_t>> UnixSocketPeers() {
  UniqueFd fd(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
  if (!fd.Valid()) return std::nullopt;
  struct {
    nlmsghdr header;
    unix_diag_req request;
  } message{};
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  message.request.sdiag_family = AF_UNIX;
  message.request.udiag_states = ~0u;
  message.request.udiag_show = UDIAG_SHOW_PEER;
  if (RetryOnEintr([&] { return ::send(fd.Get(), &message, sizeof message, 0); }) != static_cast<ssize_t>(sizeof message))
    return std::nullopt;

  std::map<std::uint64_t, std::uint64_t> peers;
  std::vector<char> buffer(65536);
  for (;;) {
    const ssize_t got = RetryOnEintr([&] { return ::recv(fd.Get(), buffer.data(), buffer.size(), 0); });
    if (got <= 0) return std::nullopt;
    const auto size = static_cast<std::size_t>(got);
    for (std::size_t offset = 0; offset + sizeof(nlmsghdr) <= size;) {
      nlmsghdr header;
      std::memcpy(&header, buffer.data() + offset, sizeof header);
      if (header.nlmsg_len < sizeof header || header.nlmsg_len > size - offset) break;
      if (header.nlmsg_type == NLMSG_DONE) return peers;
      if (header.nlmsg_type == NLMSG_ERROR) return std::nullopt;
      const std::size_t payload = offset + Aligned(sizeof header);
      const std::size_t end = offset + header.nlmsg_len;
      if (payload + sizeof(unix_diag_msg) <= end) {
        unix_diag_msg socket;
        std::memcpy(&socket, buffer.data() + payload, sizeof socket);
        for (std::size_t at = payload + Aligned(sizeof socket); at + sizeof(nlattr) <= end;) {
          nlattr attribute;
          std::memcpy(&attribute, buffer.data() + at, sizeof attribute);
          if (attribute.nla_len < sizeof attribute || attribute.nla_len > end - at) break;
          if (attribute.nla_type == UNIX_DIAG_PEER && attribute.nla_len >= sizeof attribute + sizeof(std::uint32_t)) {
            std::uint32_t peer = 0;
            std::memcpy(&peer, buffer.data() + at + sizeof attribute, sizeof peer);
            peers[socket.udiag_ino] = peer;
          }
          at += Aligned(attribute.nla_len);
        }
      }
      offset += Aligned(header.nlmsg_len);
    }
  }
}

std::vector<std::uint64_t> SocketsOf(int procDir) {
  std::vector<std::uint64_t> sockets;
  ForEachFd(procDir, [&](int fds, const char* name) {
    if (const auto inode = SocketInode(ReadLinkAt(fds, name))) sockets.push_back(*inode);
  });
  return sockets;
}

HeldPrefix ServedPrefix(int procDir) {
  // The server runs in server-<dev>-<inode>, named after its prefix folder.
  const std::string cwd = ReadLinkAt(procDir, "cwd");
  const std::size_t slash = cwd.rfind('/');
  const std::string_view name = slash == std::string::npos ? std::string_view(cwd) : std::string_view(cwd).substr(slash + 1);
  if (!name.starts_with("server-")) return {};
  const std::size_t dash = name.find('-', 7);
  if (dash == std::string_view::npos) return {};
  unsigned long long dev = 0, ino = 0;
  const std::string_view devText = name.substr(7, dash - 7);
  const std::string_view inoText = name.substr(dash + 1);
  if (std::from_chars(devText.data(), devText.data() + devText.size(), dev, 16).ec != std::errc() ||
      std::from_chars(inoText.data(), inoText.data() + inoText.size(), ino, 16).ec != std::errc())
    return {};
  HeldPrefix held;
  ForEachFd(procDir, [&](int fds, const char* fd) {
    struct stat st {};
    if (!held.path.empty() || ::fstatat(fds, fd, &st, 0) != 0 || !S_ISDIR(st.st_mode)) return;
    if (st.st_dev == dev && st.st_ino == ino) held = {ReadLinkAt(fds, fd), st.st_dev, st.st_ino};
  });
  return held;
}

bool TrustedWineServer(int procDir) {
  // The exe link opened is the file the process runs, whatever it is called now.
  UniqueFd exe(RetryOnEintr([&] { return ::openat(procDir, "exe", O_PATH | O_CLOEXEC); }));
  struct stat image {};
  if (!exe.Valid() || ::fstat(exe.Get(), &image) != 0 || !S_ISREG(image.st_mode) || image.st_uid != 0 ||
      (image.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    return false;
  std::vector<std::string> installed = {
      "/usr/lib/wine/wineserver64",          "/usr/lib/wine/wineserver32",
      "/usr/lib/wine/wineserver",            "/usr/bin/wineserver",
      "/usr/lib/x86_64-linux-gnu/wine/wineserver", "/usr/lib/i386-linux-gnu/wine/wineserver",
      "/usr/lib/aarch64-linux-gnu/wine/wineserver", "/usr/libexec/wine/wineserver",
      "/usr/lib64/wine/wineserver",          "/opt/wine-stable/bin/wineserver",
      "/opt/wine-devel/bin/wineserver",      "/opt/wine-staging/bin/wineserver"};
  // Only root's own setting names a server root trusts.
  if (const char* named = std::getenv("WINESERVER");
      named != nullptr && named[0] == '/' && ::getuid() == 0 && ::geteuid() == 0)
    installed.emplace_back(named);
  for (const std::string& path : installed) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && st.st_dev == image.st_dev && st.st_ino == image.st_ino) return true;
  }
  return false;
}

std::optional<uid_t> ParseStatusUser(std::string_view status) {
  for (std::size_t at = 0; at < status.size();) {
    const std::size_t end = std::min(status.find('\n', at), status.size());
    std::string_view line = status.substr(at, end - at);
    at = end + 1;
    if (!line.starts_with("Uid:")) continue;
    line.remove_prefix(4);
    std::optional<uid_t> uid;
    int count = 0;
    while (!line.empty()) {
      const std::size_t start = line.find_first_not_of(" \t");
      if (start == std::string_view::npos) break;
      line.remove_prefix(start);
      const std::size_t stop = std::min(line.find_first_of(" \t"), line.size());
      unsigned long value = 0;
      const auto [next, error] = std::from_chars(line.data(), line.data() + stop, value);
      if (error != std::errc() || next != line.data() + stop || value > static_cast<unsigned long>(static_cast<uid_t>(-1)))
        return std::nullopt;
      if (uid && *uid != static_cast<uid_t>(value)) return std::nullopt;
      uid = static_cast<uid_t>(value);
      ++count;
      line.remove_prefix(stop);
    }
    return count == 4 ? uid : std::nullopt;
  }
  return std::nullopt;
}

std::optional<uid_t> ProcessUser(int procDir) {
  const auto status = ReadProcFile(procDir, "status");
  return status ? ParseStatusUser(*status) : std::nullopt;
}

WineServers WineServers::Find() {
  WineServers servers;
  std::unique_ptr<DIR, DirCloser> proc(::opendir("/proc"));
  if (!proc) return servers;
  while (const dirent* entry = ::readdir(proc.get())) {
    if (entry->d_name[0] < '1' || entry->d_name[0] > '9') continue;
    UniqueFd dir(::openat(::dirfd(proc.get()), entry->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.Valid()) continue;
    const std::string exe = ReadLinkAt(dir.Get(), "exe");
    const bool trusted = TrustedWineServer(dir.Get());
    if (!trusted && !IsWineServer(exe)) continue;
    const std::string process = "wineserver process " + std::string(entry->d_name);
    Server server;
    const auto uid = ProcessUser(dir.Get());
    const HeldPrefix held = ServedPrefix(dir.Get());
    if (!trusted) {
      server.doubt = process + " does not run the system's wineserver";
    } else if (!uid) {
      server.doubt = "the user of " + process + " cannot be told";
    } else if (held.path.empty()) {
      server.doubt = process + " serves no prefix that can be found";
    } else {
      server.uid = *uid;
      // The prefix must be that user's own: a server of hers holding root's
      // folder open proves nothing about that folder.
      const auto owned = OnlyChangeableBy(held.path, *uid, false);
      if (!owned) {
        server.doubt = "the prefix of " + process + ": " + owned.error().reason;
      } else if (owned->st_dev != held.device || owned->st_ino != held.inode) {
        server.doubt = "the prefix of " + process + " is no longer at " + held.path;
      } else {
        server.prefix = held.path;
      }
    }
    const std::size_t index = servers.servers_.size();
    servers.servers_.push_back(std::move(server));
    for (std::uint64_t socket : SocketsOf(dir.Get())) servers.serverBySocket_[socket] = index;
  }
  return servers;
}

WineSystemOf WineServers::SystemOf(int procDir) {
  if (!peersRead_ && !serverBySocket_.empty()) {
    peers_ = UnixSocketPeers();
    peersRead_ = true;
  }
  const Server* server = nullptr;
  if (peers_) {
    for (std::uint64_t socket : SocketsOf(procDir)) {
      const auto peer = peers_->find(socket);
      if (peer == peers_->end()) continue;
      if (const auto found = serverBySocket_.find(peer->second); found != serverBySocket_.end()) {
        server = &servers_[found->second];
        break;
      }
    }
  }
  if (server == nullptr) return {{}, "no wineserver serving it was found"};
  if (!server->doubt.empty()) return {{}, server->doubt};
  const auto uid = ProcessUser(procDir);
  if (!uid || *uid != server->uid)
    return {{}, "it does not run as the user of its wineserver (uid " + std::to_string(server->uid) + ")"};
  return {server->prefix, {}};
}

}  // namespace korbu::platform::wine
