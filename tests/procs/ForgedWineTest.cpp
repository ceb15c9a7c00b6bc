// Root runs the real korbu-scan while an unprivileged user (uid 65534) runs
// programs of hers named wineserver and wine, in a mount namespace of the test's
// own with fresh /tmp and /dev/shm. Her forged server serves root's /dev/shm,
// with a link for its lock: the memory phase must not take /dev/shm for her
// program's system, and no Wine may start for it. A server that is the system's
// own, for a prefix of hers, makes root start Wine as her, with nothing of
// root's environment. What is wrong with her programs is counted apart from
// root's own errors.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/PrivateMounts.h"
#include "support/CrcForge.h"
#include "support/TempTree.h"

namespace korbu::test {
namespace {

constexpr const char* kHer = "65534";

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The started-<pid> notes of the fake Wine, as the script prints them.
std::vector<std::string> WineStarts(const std::string& output) {
  std::vector<std::string> starts;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    if (line == "=== wine started") {
      starts.emplace_back();
    } else if (!starts.empty() && line != "=== end") {
      starts.back() += line + "\n";
    }
  }
  return starts;
}

bool AllowedVariable(const std::string& name) {
  static const std::set<std::string> allowed = {"PATH", "HOME", "WINEPREFIX", "WINEDEBUG", "TMPDIR", "LANG", "LANGUAGE"};
  return allowed.count(name) != 0 || name.starts_with("LC_");
}

TEST(ForgedWine, HerServerIsNotTrustedAndWineRunsAsHerWithACleanEnvironment) {
  if (const std::string why = PrivateMountsUnavailable(); !why.empty()) GTEST_SKIP() << why;
  TempTree stage;
  stage.Write("forged.exe", VariantFile(1));
  stage.Write("proven.exe", VariantFile(2));
  const std::string fake = ShellQuote(KORBU_PROCS_FAKE_WINE);
  const std::string s = ShellQuote(stage.Path());
  // Starts a program of hers in the background and waits for its first line.
  const auto start = [](const std::string& command, const std::string& out) {
    return command + " >" + out + " 2>&1 &\necho $! >>/tmp/pids\nfor i in $(seq 100); do [ -s " + out +
           " ] && break; sleep 0.05; done\ncat " + out + "\n";
  };
  const std::string script =
      "mount -t tmpfs tmpfs /dev/shm\n"
      "cp " + s + "/forged.exe " + s + "/proven.exe " + fake + " /dev/shm/\n"
      "mount -t tmpfs tmpfs /tmp\n"
      "mkdir -m 1777 /tmp/wine-log\nmkdir -m 0755 /tmp/root /tmp/root/bin /tmp/empty /tmp/her\n"
      "mv /dev/shm/FakeWine /tmp/root/bin/wine\ncp /tmp/root/bin/wine /tmp/root/bin/wineserver\n"
      "mkdir /tmp/her/bin /tmp/her/prefix /tmp/her/prefix/drive_c /dev/shm/drive_c\n"
      "cp /tmp/root/bin/wine /tmp/her/bin/wine\ncp /tmp/root/bin/wine /tmp/her/bin/wineserver\n"
      "mv /dev/shm/forged.exe /dev/shm/proven.exe /tmp/her/\n"
      "for p in /dev/shm /tmp/her/prefix; do for f in system.reg user.reg; do\n"
      "  printf 'WINE REGISTRY Version 2\\n' >$p/$f; done; done\n"
      "chown -R " + std::string(kHer) + " /tmp/her /dev/shm/system.reg /dev/shm/user.reg /dev/shm/drive_c\n"
      "trap 'kill $(cat /tmp/pids) 2>/dev/null || true' EXIT\n" +
      // Hers, named wineserver: /dev/shm held open, a link as its lock.
      start("/tmp/her/bin/wineserver server " + std::string(kHer) + " /dev/shm link", "/tmp/forged.out") +
      start("/tmp/root/bin/wine as /tmp/her/forged.exe /tmp/her/bin/wine client " + std::string(kHer) +
                " /tmp/her/forged.exe \"$(sed -n 's/^ready //p' /tmp/forged.out)\"",
            "/tmp/forged-client.out") +
      // The system's server (the one root's WINESERVER names) for her own prefix.
      start("/tmp/root/bin/wineserver server " + std::string(kHer) + " /tmp/her/prefix", "/tmp/proven.out") +
      start("/tmp/root/bin/wine as /tmp/her/proven.exe /tmp/her/bin/wine client " + std::string(kHer) +
                " /tmp/her/proven.exe \"$(sed -n 's/^ready //p' /tmp/proven.out)\"",
            "/tmp/proven-client.out") +
      "env -i PATH=/usr/bin:/bin HOME=/tmp/root XDG_DATA_HOME=/tmp/root/data XDG_CACHE_HOME=/tmp/root/cache "
      "WINEPREFIX=/nonexistent-prefix WINE=/tmp/root/bin/wine WINESERVER=/tmp/root/bin/wineserver "
      "KORBU_ROOT_SECRET=s3cret " + ShellQuote(KORBU_SCAN_EXE) + " --no-engine -v /tmp/empty 2>&1 || echo \"status $?\"\n"
      "for f in /tmp/wine-log/*; do [ -e \"$f\" ] || continue; echo '=== wine started'; cat \"$f\"; echo '=== end'; done\n";
  const ScriptRun run = RunWithPrivateMounts(script);
  ASSERT_TRUE(Has(run.output, "connected")) << run.output;

  // Her program is still judged and listed, its system unknown, and why.
  EXPECT_TRUE(Has(run.output, "/tmp/her/forged.exe")) << run.output;
  EXPECT_TRUE(Has(run.output, "its Windows system is unknown: wineserver process")) << run.output;
  EXPECT_TRUE(Has(run.output, "does not run the system's wineserver")) << run.output;
  // Hers to mend, not root's: counted apart, no error of root's scan.
  EXPECT_TRUE(Has(run.output, "does not run the system's wineserver (another user's program)")) << run.output;
  EXPECT_FALSE(Has(run.output, "does not run the system's wineserver ERROR")) << run.output;
  EXPECT_TRUE(Has(run.output, "Other users' programs not judged: 1 ")) << run.output;
  EXPECT_TRUE(Has(run.output, "/tmp/her/proven.exe")) << run.output;

  const passwd* her = ::getpwuid(65534);
  const std::string herHome = her != nullptr && her->pw_dir != nullptr ? her->pw_dir : "/nonexistent";
  bool provenStarted = false;
  for (const std::string& started : WineStarts(run.output)) {
    EXPECT_FALSE(Has(started, "WINEPREFIX=/dev/shm")) << "Wine started for her forged server:\n" << started;
    EXPECT_FALSE(Has(started, "uid=0 ")) << "Wine started as root:\n" << started;
    EXPECT_FALSE(Has(started, "s3cret")) << "root's environment reached Wine:\n" << started;
    std::istringstream lines(started);
    for (std::string line; std::getline(lines, line);) {
      if (!line.starts_with("env ")) continue;
      const std::string name = line.substr(4, line.find('=') - 4);
      EXPECT_TRUE(AllowedVariable(name)) << line;
      if (name == "HOME") {
        EXPECT_EQ(line, "env HOME=" + herHome);
      }
    }
    if (Has(started, "WINEPREFIX=/tmp/her/prefix")) {
      provenStarted = true;
      EXPECT_TRUE(Has(started, "uid=65534 euid=65534")) << started;
    }
  }
  EXPECT_TRUE(provenStarted) << "the registry of her proven prefix is read through Wine, as her:\n" << run.output;
}

}  // namespace
}  // namespace korbu::test
