#pragma once
// Which Wine prefix serves a running Windows program: the prefix of the
// wineserver its connection leads to. A Wine process talks to its server over a
// Unix socket for everything it does, so that link cannot be faked by what the
// process says about itself (its environment, its command line).

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace korbu::platform::posix {

/// The peer of every connected Unix socket of the system, by socket inode, as
/// the kernel's socket diagnostics tell; empty when they cannot be read.
std::optional<std::map<std::uint64_t, std::uint64_t>> UnixSocketPeers();

/// The inodes of the sockets a process holds open (its /proc folder open as procDir).
std::vector<std::uint64_t> SocketsOf(int procDir);

/// The running wineservers of the system: which prefix each serves, and the
/// sockets through which it talks to its clients. Read once per snapshot.
class WineServers {
 public:
  /// Looks at every process; servers this user cannot examine are left out.
  static WineServers Find();

  /// The prefix folder of the server a Wine process (its /proc folder open as
  /// procDir) is connected to; empty when none is found.
  std::string PrefixOf(int procDir);

 private:
  std::map<std::uint64_t, std::string> prefixBySocket_;
  std::optional<std::map<std::uint64_t, std::uint64_t>> peers_;
  bool peersRead_ = false;
};

/// The prefix folder a wineserver process serves, from the folder it runs in
/// (server-<dev>-<inode> of the prefix) and the prefix folder it holds open.
std::string ServedPrefix(int procDir);

}  // namespace korbu::platform::posix
