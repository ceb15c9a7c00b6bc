#include "guard/DesktopNotice.h"

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace korbu::guard {
namespace {

constexpr const char* kNotifySend = "/usr/bin/notify-send";

// Started in a grandchild, so that nothing is left to wait for.
// Everything the child needs is made before the fork: the guard has threads, so
// the child may not allocate.
void StartAs(uid_t uid, gid_t gid, const std::string& bus, const std::string& summary, const std::string& body) {
  const std::string address = "DBUS_SESSION_BUS_ADDRESS=unix:path=" + bus;
  const char* const envp[] = {address.c_str(), "PATH=/usr/bin:/bin", nullptr};
  const char* const argv[] = {kNotifySend, "--app-name=korbu-guard", "--urgency=critical", "--",
                              summary.c_str(), body.c_str(), nullptr};
  const pid_t child = ::fork();
  if (child < 0) return;
  if (child > 0) {
    int status = 0;
    (void)::waitpid(child, &status, 0);
    return;
  }
  if (::fork() != 0) ::_exit(0);
  if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(1);
  ::execve(kNotifySend, const_cast<char* const*>(argv), const_cast<char* const*>(envp));
  ::_exit(127);
}

}  // namespace

std::string AsMarkupText(const std::string& text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

void NotifyDesktopUsers(const std::string& summary, const std::string& plainBody) {
  if (::access(kNotifySend, X_OK) != 0) return;
  const std::string body = AsMarkupText(plainBody);
  DIR* users = ::opendir("/run/user");
  if (users == nullptr) return;
  std::vector<std::pair<uid_t, std::string>> buses;
  while (const dirent* entry = ::readdir(users)) {
    const std::string bus = std::string("/run/user/") + entry->d_name + "/bus";
    struct stat st {};
    // The bus must be the user's own socket in the user's own folder.
    if (::lstat(bus.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid == 0) continue;
    if (std::to_string(st.st_uid) != entry->d_name) continue;
    buses.emplace_back(st.st_uid, bus);
  }
  ::closedir(users);
  for (const auto& [uid, bus] : buses) {
    passwd user {};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(uid, &user, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) continue;
    StartAs(uid, user.pw_gid, bus, summary, body);
  }
}

}  // namespace korbu::guard
