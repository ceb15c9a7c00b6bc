// Another user's stand-ins for Wine, for the tests of what discovery trusts:
//   server UID PREFIX [link]  runs as UID in /tmp/.wine-UID/server-<dev>-<ino> of
//                             PREFIX, holding PREFIX open and its lock locked (or,
//                             with "link", a symbolic link where the lock goes);
//                             prints "ready" once clients may connect.
//   client UID IMAGE SOCKET   runs as UID with IMAGE mapped, connected to SOCKET.
//   as ARGV0 PROGRAM ARGS...  runs PROGRAM with ARGV0 as its first word (Wine
//                             sets it to the Windows program's path).
// Started as Wine's loader with a second word ending in "korbu-winereg.exe" (as
// the scanner starts its registry helper), it notes its uid and environment in
// /tmp/wine-log/started-<pid> and ends.
#include <fcntl.h>
#include <grp.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

[[noreturn]] void Fail(const char* what) {
  std::perror(what);
  std::exit(2);
}

void BecomeUser(const char* uidText) {
  const auto uid = static_cast<uid_t>(std::strtoul(uidText, nullptr, 10));
  if (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0)
    Fail("setresuid");
}

std::string Hex(unsigned long long value) {
  char text[32];
  std::snprintf(text, sizeof text, "%llx", value);
  return text;
}

int Server(char** argv, bool linkLock) {
  BecomeUser(argv[2]);
  const int prefix = ::open(argv[3], O_RDONLY | O_DIRECTORY);
  struct stat st {};
  if (prefix < 0 || ::fstat(prefix, &st) != 0) Fail("prefix");
  // Wine keeps a server folder below /tmp/.wine-<uid of the prefix owner>.
  const std::string base = "/tmp/.wine-" + std::to_string(st.st_uid);
  const std::string folder = base + "/server-" + Hex(st.st_dev) + "-" + Hex(st.st_ino);
  ::mkdir(base.c_str(), 0700);
  ::mkdir(folder.c_str(), 0700);
  if (::chdir(folder.c_str()) != 0) Fail("chdir");
  if (linkLock) {
    if (::symlink("/etc/passwd", "lock") != 0) Fail("symlink");
  } else {
    const int lock = ::open("lock", O_RDWR | O_CREAT, 0600);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    if (lock < 0 || ::fcntl(lock, F_SETLK, &whole) != 0) Fail("lock");
  }
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, "socket");
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 16) != 0)
    Fail("socket");
  std::printf("ready %s/socket\n", folder.c_str());
  std::fflush(stdout);
  std::vector<int> clients;
  for (;;) {
    const int client = ::accept(listener, nullptr, nullptr);
    if (client >= 0) clients.push_back(client);
  }
}

int Client(char** argv) {
  BecomeUser(argv[2]);
  const int image = ::open(argv[3], O_RDONLY);
  struct stat st {};
  if (image < 0 || ::fstat(image, &st) != 0) Fail("image");
  if (::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, image, 0) == MAP_FAILED) Fail("mmap");
  const int connection = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", argv[4]);
  if (connection < 0 || ::connect(connection, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) Fail("connect");
  std::printf("connected\n");
  std::fflush(stdout);
  for (;;) ::pause();
}

int NoteStart() {
  const std::string file = "/tmp/wine-log/started-" + std::to_string(::getpid());
  FILE* out = std::fopen(file.c_str(), "w");
  if (out == nullptr) Fail("log");
  std::fprintf(out, "uid=%u euid=%u\n", static_cast<unsigned>(::getuid()), static_cast<unsigned>(::geteuid()));
  for (char** e = environ; *e != nullptr; ++e) std::fprintf(out, "env %s\n", *e);
  std::fclose(out);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (argc == 2 && mode.size() >= 17 && mode.compare(mode.size() - 17, 17, "korbu-winereg.exe") == 0) return NoteStart();
  if (mode == "server" && argc >= 4) return Server(argv, argc > 4 && std::strcmp(argv[4], "link") == 0);
  if (mode == "client" && argc == 5) return Client(argv);
  if (mode == "as" && argc >= 4) {
    std::vector<char*> args(argv + 3, argv + argc);
    args[0] = argv[2];
    args.push_back(nullptr);
    ::execv(argv[3], args.data());
    Fail("execv");
  }
  std::fprintf(stderr, "usage: see the comment at the top of FakeWine.cpp\n");
  return 2;
}
