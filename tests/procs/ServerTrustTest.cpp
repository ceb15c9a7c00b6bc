// What discovery takes as proof: a process's single user, a path nobody but its
// owner (and root) can change, and a wineserver that is the installed one.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "ChildProcess.h"
#include "platform/posix/PathOwnership.h"
#include "platform/posix/PosixSupport.h"
#include "platform/wine/WineServers.h"
#include "support/ScopedEnvironment.h"
#include "support/TempTree.h"

namespace korbu::test {
namespace {

namespace fs = std::filesystem;
using platform::posix::OnlyChangeableBy;

constexpr uid_t kHer = 65534;

TEST(ServerTrust, AProcessHasOneUserOnlyWhenAllFourUidsAgree) {
  using platform::wine::ParseStatusUser;
  EXPECT_EQ(ParseStatusUser("Name:\tx\nUid:\t1000\t1000\t1000\t1000\nGid:\t5\t5\t5\t5\n"), 1000u);
  EXPECT_FALSE(ParseStatusUser("Uid:\t1000\t0\t1000\t1000\n")) << "a set-uid program is nobody's to trust";
  EXPECT_FALSE(ParseStatusUser("Uid:\t1000\t1000\t1000\n"));
  EXPECT_FALSE(ParseStatusUser("Uid:\t1000\t1000\t1000\t1000x\n"));
  EXPECT_FALSE(ParseStatusUser("Name:\tUid:\t1\t1\t1\t1\n")) << "only the Uid line counts";
  EXPECT_FALSE(ParseStatusUser(""));
}

class OwnedTree : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "giving folders to another user needs root";
    root_ = fs::canonical(tree_.Path()).string();
    fs::permissions(root_, fs::perms(0755));
    her_ = Own("her", kHer, 0755);
  }
  std::string Own(const std::string& relative, uid_t uid, mode_t mode) {
    const std::string path = tree_.MakeDir(relative);
    EXPECT_EQ(::chown(path.c_str(), uid, static_cast<gid_t>(-1)), 0);
    EXPECT_EQ(::chmod(path.c_str(), mode), 0);
    return fs::canonical(path).string();
  }
  static std::string Reason(const std::string& path, uid_t owner, bool rootMayOwn = true) {
    const auto result = OnlyChangeableBy(path, owner, rootMayOwn);
    return result ? std::string() : result.error().reason;
  }

  TempTree tree_;
  std::string root_;
  std::string her_;
};

TEST_F(OwnedTree, HoldsOnlyForTheOwnersOwnClosedPath) {
  const std::string prefix = Own("her/prefix", kHer, 0700);
  const auto owned = OnlyChangeableBy(prefix, kHer, false);
  ASSERT_TRUE(owned) << owned.error().reason;
  EXPECT_EQ(owned->st_uid, kHer);

  EXPECT_NE(Reason(prefix, 1234).find("belongs to uid 65534, not to uid 1234"), std::string::npos);
  EXPECT_NE(Reason(root_, kHer, false).find("belongs to uid 0"), std::string::npos) << "a folder of root's is not hers";
  EXPECT_EQ(Reason(root_, kHer, true), "") << "unless root's may stand in";

  ASSERT_EQ(::chmod(her_.c_str(), 0775), 0);
  EXPECT_NE(Reason(prefix, kHer).find(her_ + " is writable by others"), std::string::npos);
  ASSERT_EQ(::chmod(her_.c_str(), 0755), 0);

  // Sticky and root's, like /tmp: passes on the way, never as the path itself.
  const std::string shared = Own("shared", 0, 01777);
  const std::string inside = Own("shared/hers", kHer, 0755);
  EXPECT_EQ(Reason(inside, kHer), "");
  EXPECT_NE(Reason(shared, 0).find("is writable by others"), std::string::npos);

  fs::create_symlink(prefix, her_ + "/link");
  EXPECT_NE(Reason(her_ + "/link", kHer).find("is a symbolic link"), std::string::npos);
  EXPECT_NE(Reason(her_ + "/link/drive_c", kHer).find("is a symbolic link"), std::string::npos);
  EXPECT_NE(Reason("relative/path", kHer).find("not an absolute path"), std::string::npos);
  EXPECT_NE(Reason(prefix + "/../prefix", kHer).find("not a plain path"), std::string::npos);
}

TEST_F(OwnedTree, AServerIsTrustedOnlyAsTheFileRootInstalledOrNamed) {
  // A copy of a program, root's and closed, stands for the installed wineserver
  // only when root's WINESERVER names that very file.
  const std::string program = tree_.Path("wineserver");
  fs::copy_file(KORBU_PROCS_SLEEPER, program);
  ASSERT_EQ(::chmod(program.c_str(), 0755), 0);
  ChildProcess server(program, {program});
  ASSERT_TRUE(server.Started());
  const std::string proc = "/proc/" + std::to_string(server.Id());
  platform::posix::UniqueFd dir(::open(proc.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  ASSERT_TRUE(dir.Valid());
  {
    ScopedEnvironment unset("WINESERVER", std::nullopt);
    EXPECT_FALSE(platform::wine::TrustedWineServer(dir.Get())) << "a name alone proves nothing";
  }
  {
    ScopedEnvironment named("WINESERVER", program);
    EXPECT_TRUE(platform::wine::TrustedWineServer(dir.Get()));
    ASSERT_EQ(::chmod(program.c_str(), 0775), 0);
    EXPECT_FALSE(platform::wine::TrustedWineServer(dir.Get())) << "a file others may write";
    ASSERT_EQ(::chmod(program.c_str(), 0755), 0);
    ASSERT_EQ(::chown(program.c_str(), kHer, static_cast<gid_t>(-1)), 0);
    EXPECT_FALSE(platform::wine::TrustedWineServer(dir.Get())) << "a file of hers";
  }
}

}  // namespace
}  // namespace korbu::test
