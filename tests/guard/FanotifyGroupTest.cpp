// The guard's fanotify groups against the kernel, as root on a tmpfs of the
// test's own: answers given together, one the kernel refuses among them.

#include <fcntl.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <vector>

#include "GuardSandbox.h"
#include "guard/FanotifyGroup.h"

namespace korbu::test {
namespace {

using namespace std::chrono_literals;

// The permission events of count opens, read as the guard reads them.
std::vector<int> ReadOpens(const guard::FanotifyGroup& group, std::size_t count) {
  std::vector<int> fds;
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (fds.size() < count && std::chrono::steady_clock::now() < end) {
    pollfd ready{group.Fd(), POLLIN, 0};
    if (::poll(&ready, 1, 100) <= 0) continue;
    alignas(fanotify_event_metadata) char buffer[4096];
    ssize_t left = ::read(group.Fd(), buffer, sizeof buffer);
    auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
    for (; FAN_EVENT_OK(event, left); event = FAN_EVENT_NEXT(event, left)) {
      if (event->fd >= 0) fds.push_back(event->fd);
    }
  }
  return fds;
}

TEST(FanotifyGroupTest, AnswersGivenTogetherReachEveryOpenPastOneTheKernelRefuses) {
  if (const std::string why = GuardSandbox::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  GuardSandbox sandbox;
  // Written before the mark: this process answers, it must not ask.
  for (int i = 0; i < 3; ++i) WriteFileBytes(sandbox.Watched("f" + std::to_string(i)), "x");
  Expected<guard::FanotifyGroup> group = guard::FanotifyGroup::Create();
  ASSERT_TRUE(group) << group.error().reason;
  ASSERT_TRUE(group->MarkMount(sandbox.Watched()));
  std::vector<pid_t> openers;
  for (int i = 0; i < 3; ++i) openers.push_back(StartOpen(sandbox.Watched("f" + std::to_string(i))));
  const std::vector<int> events = ReadOpens(*group, openers.size());
  ASSERT_EQ(events.size(), openers.size());
  // The second answer names no waiting event: the kernel refuses it, and the
  // answers after it must still be given.
  const int stranger = ::dup(events[0]);
  std::vector<fanotify_response> answers{{events[0], FAN_ALLOW}, {stranger, FAN_ALLOW}};
  for (std::size_t i = 1; i < events.size(); ++i) answers.push_back({events[i], FAN_ALLOW});
  group->AnswerAll(answers.data(), answers.size());
  for (const pid_t opener : openers) EXPECT_EQ(WaitChild(opener, 5s), 0);
  for (const int fd : events) ::close(fd);
  ::close(stranger);
}

TEST(FanotifyGroupTest, AnIgnoredFileRaisesNoEventUntilItIsWritten) {
  if (const std::string why = GuardSandbox::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  GuardSandbox sandbox;
  const std::string file = sandbox.Watched("known.txt");
  WriteFileBytes(file, "known");
  // Opened before the mark: this process answers, it must not ask.
  const int fd = ::open(file.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  Expected<guard::FanotifyGroup> group = guard::FanotifyGroup::Create();
  ASSERT_TRUE(group) << group.error().reason;
  ASSERT_TRUE(group->MarkMount(sandbox.Watched()));
  const int error = group->IgnoreOpens(fd, FAN_OPEN_PERM);
  if (error == EINVAL) GTEST_SKIP() << "the kernel keeps no evictable ignore marks";
  ASSERT_EQ(error, 0) << std::strerror(error);
  // No event: a guard that never answers does not hold it.
  EXPECT_EQ(WaitChild(StartOpen(file), 5s), 0);
  WriteFileBytes(file, "changed");  // its open is one of those ignored
  const pid_t asking = StartOpen(file);
  const std::vector<int> events = ReadOpens(*group, 1);
  ASSERT_EQ(events.size(), 1U);
  ASSERT_TRUE(group->Answer(events[0], true));
  EXPECT_EQ(WaitChild(asking, 5s), 0);
  ::close(events[0]);
  ::close(fd);
}

TEST(FanotifyGroupTest, WhereReadsAskInsteadOfOpensNewFilesWaitForNobodyAndEveryReadAsks) {
  if (const std::string why = GuardSandbox::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  GuardSandbox sandbox;
  std::filesystem::create_directories(sandbox.Watched("new"));
  WriteFileBytes(sandbox.Watched("old.txt"), "old");
  const int folder = ::open(sandbox.Watched("new").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(folder, 0);
  Expected<guard::FanotifyGroup> group = guard::FanotifyGroup::Create();
  ASSERT_TRUE(group) << group.error().reason;
  ASSERT_TRUE(group->MarkMount(sandbox.Watched()));
  // How many times the child's access asked (each waits for this test's
  // answer); -1 when it failed or did not end.
  const auto asks = [&](pid_t child) {
    int asked = 0;
    for (const auto end = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < end;) {
      if (const int status = WaitChild(child, 0ms); status >= 0) return status == 0 ? asked : -1;
      pollfd ready{group->Fd(), POLLIN, 0};
      if (::poll(&ready, 1, 20) <= 0) continue;
      for (const int fd : ReadOpens(*group, 1)) {
        EXPECT_TRUE(group->Answer(fd, true));
        ::close(fd);
        ++asked;
      }
    }
    return -1;
  };
  const int error = group->AskAtReadsInFolder(folder);
  if (error == EINVAL) GTEST_SKIP() << "the kernel cannot ignore a folder's files (before 6.0)";
  ASSERT_EQ(error, 0) << std::strerror(error);
  EXPECT_EQ(asks(StartCreate(sandbox.Watched("new/a.txt"))), 0);
  EXPECT_EQ(asks(StartRead(sandbox.Watched("new/a.txt"))), 1);
  EXPECT_EQ(asks(StartCreate(sandbox.Watched("b.txt"))), 1);  // another folder asks at opens
  ASSERT_TRUE(group->AskAtOpensInFolder(folder));
  EXPECT_EQ(asks(StartCreate(sandbox.Watched("new/c.txt"))), 1);
  EXPECT_EQ(asks(StartRead(sandbox.Watched("new/c.txt"))), 2);  // until reads stop asking

  // The same for the whole mount; executions go on asking.
  ASSERT_EQ(group->AskAtReadsOnMount(folder), 0);
  EXPECT_EQ(asks(StartCreate(sandbox.Watched("d.txt"))), 0);
  EXPECT_EQ(asks(StartRead(sandbox.Watched("old.txt"))), 1);
  std::filesystem::copy_file("/bin/true", sandbox.Watched("true"));
  EXPECT_GE(asks(StartProgram(sandbox.Watched("true"))), 1);
  ASSERT_TRUE(group->AskAtOpensOnMount(folder));
  group->StopAskingAtReadsOnMount(folder);
  group->StopAskingAtReadsInFolder(folder);
  EXPECT_EQ(asks(StartRead(sandbox.Watched("new/c.txt"))), 1);
  ::close(folder);
}

}  // namespace
}  // namespace korbu::test
