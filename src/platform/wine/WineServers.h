#pragma once
// Which Wine prefix serves a running Windows program: the prefix of the
// wineserver its connection leads to. A Wine process talks to its server over a
// Unix socket for everything it does, so that link cannot be faked by what the
// process says about itself (its environment, its command line).

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korbu::platform::wine {

/// The peer of every connected Unix socket of the system, by socket inode, as
/// the kernel's socket diagnostics tell; empty when they cannot be read.
std::optional<std::map<std::uint64_t, std::uint64_t>> UnixSocketPeers();

/// The inodes of the sockets a process holds open (its /proc folder open as procDir).
std::vector<std::uint64_t> SocketsOf(int procDir);

/// The Windows system of a Wine process: the prefix its server serves, once
/// proven, or why it is not known.
struct WineSystemOf {
  std::string prefix;  // empty when unknown
  std::string doubt;   // why it is unknown; empty when the prefix is proven
};

/// The running wineservers of the system: which prefix each serves, and the
/// sockets through which it talks to its clients. Read once per snapshot.
///
/// A process counts as a server only when it runs the system's own wineserver
/// (see TrustedWineServer), and its prefix only when it is a folder of the user
/// the server runs as, on a path nobody else can change (OnlyChangeableBy).
/// Anything less is another user's word: her programs can be named anything and
/// hold any folder open.
class WineServers {
 public:
  /// Looks at every process; servers this user cannot examine are left out.
  static WineServers Find();

  /// The system of a Wine process (its /proc folder open as procDir): the prefix
  /// of the server it is connected to, when that server and prefix are proven
  /// and the process runs as the server's user.
  WineSystemOf SystemOf(int procDir);

 private:
  struct Server {
    std::string prefix;
    uid_t uid = 0;
    std::string doubt;
  };
  std::vector<Server> servers_;
  std::map<std::uint64_t, std::size_t> serverBySocket_;
  std::optional<std::map<std::uint64_t, std::uint64_t>> peers_;
  bool peersRead_ = false;
};

/// A prefix folder a wineserver process holds open, as found by ServedPrefix.
struct HeldPrefix {
  std::string path;
  dev_t device = 0;
  ino_t inode = 0;
};

/// The prefix folder a wineserver process serves, from the folder it runs in
/// (server-<dev>-<inode> of the prefix) and the prefix folder it holds open.
/// Empty path when none is found.
HeldPrefix ServedPrefix(int procDir);

/// True when the process runs the system's wineserver: its executable, opened
/// through the process and not by name, is root's, writable by nobody else, and
/// the very file installed as the distribution's wineserver, or the one
/// WINESERVER names when root set it (this program runs as root).
bool TrustedWineServer(int procDir);

/// The user a process runs as: its real, effective, saved and file-system uids
/// from /proc/PID/status, when all four are one; empty otherwise.
std::optional<uid_t> ProcessUser(int procDir);

/// The uid of a /proc/PID/status text when its four uids are one.
std::optional<uid_t> ParseStatusUser(std::string_view status);

}  // namespace korbu::platform::wine
