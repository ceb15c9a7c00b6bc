// The store of clean verdicts: keyed by every stamp field, kept across opens,
// bounded, and never trusting what it cannot check.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>

#include "cache/VerdictStore.h"
#include "support/TempTree.h"

namespace korbu::cache {
namespace {
namespace fs = std::filesystem;
using test::TempTree;

platform::FileStamp Stamp(std::uint64_t n) {
  platform::FileStamp s;
  s.volume = 2049;
  s.fileSystem = 77;
  s.fileLow = 1000 + n;
  s.size = 4096;
  s.modifiedNs = 1700000000000000000LL + static_cast<std::int64_t>(n);
  s.changedNs = s.modifiedNs + 5;
  s.mount = 0x5eed;
  s.trusted = true;
  return s;
}

std::unique_ptr<VerdictStore> OpenStore(const std::string& folder, std::uint32_t maxSlots = kMaxSlots) {
  Expected<std::unique_ptr<VerdictStore>> store = VerdictStore::Open(folder, maxSlots);
  EXPECT_TRUE(store) << store.Reason();
  return store ? std::move(*store) : nullptr;
}

TEST(VerdictStore, KeepsAVerdictForExactlyOneStateOfAFile) {
  TempTree tree;
  {
    auto store = OpenStore(tree.Path());
    store->Put(Stamp(1), 42);
    store->Put(Stamp(2), 43);
  }
  auto store = OpenStore(tree.Path());  // kept across opens
  EXPECT_EQ(store->Find(Stamp(1)), std::optional<ContextId>(42));
  EXPECT_EQ(store->Find(Stamp(2)), std::optional<ContextId>(43));
  EXPECT_EQ(store->ContextsAtOpen().at(42), 1u);
  // Any one field changed is another file, or the same file changed.
  for (int field = 0; field < 8; ++field) {
    platform::FileStamp s = Stamp(1);
    // The last: the same bytes seen through another mounting of the volume.
    std::uint64_t* fields[] = {&s.volume, &s.fileSystem, &s.fileHigh, &s.fileLow, &s.size, nullptr, nullptr, &s.mount};
    if (field == 5) {
      s.modifiedNs += 1;
    } else if (field == 6) {
      s.changedNs += 1;
    } else {
      *fields[field] += 1;
    }
    EXPECT_FALSE(store->Find(s)) << "field " << field;
  }
  store->Put(Stamp(1), 44);  // a later verdict replaces the earlier one
  EXPECT_EQ(store->Find(Stamp(1)), std::optional<ContextId>(44));
  EXPECT_EQ(store->Entries(), 2u);
}

TEST(VerdictStore, DiscardsWhatItCannotTrust) {
  TempTree tree;
  const std::string file = tree.Path(kStoreFileName);
  {
    auto store = OpenStore(tree.Path());
    for (std::uint64_t n = 0; n < 100; ++n) store->Put(Stamp(n), 7);
  }
  // A slot torn by a crash: that entry alone goes.
  std::string bytes = test::ReadFileBytes(file);
  std::size_t torn = 0;
  for (std::size_t at = 64; at < bytes.size(); at += kSlotSize) {
    if (bytes[at + 16] != 0) {
      bytes[at + 20] ^= 0x5A;
      ++torn;
      break;
    }
  }
  ASSERT_EQ(torn, 1u);
  test::WriteFileBytes(file, bytes);
  {
    auto store = OpenStore(tree.Path());
    EXPECT_EQ(store->Entries(), 99u);
  }
  // A file cut short, or one that is not a store at all, is started afresh.
  for (const std::string& foreign : {bytes.substr(0, bytes.size() - 7), std::string("not a store\n")}) {
    test::WriteFileBytes(file, foreign);
    auto store = OpenStore(tree.Path());
    EXPECT_EQ(store->Entries(), 0u);
    EXPECT_FALSE(store->Find(Stamp(3)));
    store->Put(Stamp(3), 9);
    EXPECT_EQ(OpenStore(tree.Path())->Find(Stamp(3)), std::optional<ContextId>(9));
  }
#ifndef _WIN32
  // A link put at its name is replaced, never followed.
  const std::string target = tree.Write("elsewhere", "keep me");
  fs::remove(file);
  fs::create_symlink(target, file);
  OpenStore(tree.Path())->Put(Stamp(5), 11);
  EXPECT_EQ(test::ReadFileBytes(target), "keep me");
  EXPECT_FALSE(fs::is_symlink(file));
  EXPECT_EQ((fs::status(file).permissions() & (fs::perms::group_all | fs::perms::others_all)), fs::perms::none);
#endif
}

TEST(VerdictStore, StaysWithinItsBound) {
  TempTree tree;
  {
    // Below its bound it grows rather than let one verdict push out another.
    auto growing = OpenStore(tree.MakeDir("growing"));
    constexpr std::uint64_t kFiles = 60000;
    for (std::uint64_t n = 0; n < kFiles; ++n) growing->Put(Stamp(n), 5);
    std::uint64_t lost = 0;
    for (std::uint64_t n = 0; n < kFiles; ++n) lost += growing->Find(Stamp(n)) ? 0 : 1;
    EXPECT_EQ(lost, 0u);
  }
  constexpr std::uint32_t kBound = 1u << 10;
  auto store = OpenStore(tree.Path(), kBound);
  for (std::uint64_t n = 0; n < 3 * kBound; ++n) {
    store->Put(Stamp(n), 5);
    ASSERT_TRUE(store->Find(Stamp(n))) << n;  // the newest is always there
  }
  EXPECT_EQ(store->Slots(), kBound);
  EXPECT_LE(store->Entries(), std::size_t{kBound});
  EXPECT_EQ(fs::file_size(tree.Path(kStoreFileName)), 64u + std::uint64_t{kBound} * kSlotSize);
  EXPECT_EQ(store->WriteProblem(), "");
}

#ifndef _WIN32
// Two processes writing at once, enough for the store to grow meanwhile: neither
// waits long for the other, and the store they leave holds the entries of both.
TEST(VerdictStore, TwoProcessesShareItWithoutCorruptingIt) {
  TempTree tree;
  OpenStore(tree.Path());
  constexpr std::uint64_t kEach = kInitialSlots;
  const auto started = std::chrono::steady_clock::now();
  pid_t children[2];
  for (int child = 0; child < 2; ++child) {
    children[child] = ::fork();
    ASSERT_GE(children[child], 0);
    if (children[child] == 0) {
      auto store = VerdictStore::Open(tree.Path());
      for (std::uint64_t n = 0; store && n < kEach; ++n) (*store)->Put(Stamp(child * kEach + n), 3 + child);
      ::_exit(store ? 0 : 1);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
  auto store = OpenStore(tree.Path());
  EXPECT_GT(store->Slots(), kInitialSlots);
  std::size_t found[2] = {0, 0};
  for (int child = 0; child < 2; ++child) {
    for (std::uint64_t n = 0; n < kEach; ++n) {
      const std::optional<ContextId> context = store->Find(Stamp(child * kEach + n));
      if (!context) continue;
      EXPECT_EQ(*context, ContextId(3 + child));
      ++found[child];
    }
  }
  // Entries written into a file that the other process's growth replaced are
  // lost, never mixed up; most of both remain.
  EXPECT_GT(found[0], kEach / 4);
  EXPECT_GT(found[1], kEach / 4);
}

TEST(VerdictStore, RefusesAFolderOfAnotherUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a folder to another user";
  TempTree tree;
  const std::string folder = tree.MakeDir("theirs");
  ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
  const Status refused = platform::EnsurePrivateFolder(folder);
  ASSERT_FALSE(refused);
  EXPECT_NE(refused.error().reason.find("another user"), std::string::npos) << refused.error().reason;
  // A folder of one's own that others may enter is made private.
  const std::string open = tree.MakeDir("open");
  ::chmod(open.c_str(), 0755);
  EXPECT_TRUE(platform::EnsurePrivateFolder(open));
  struct stat st {};
  ASSERT_EQ(::stat(open.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u);
}
#endif

}  // namespace
}  // namespace korbu::cache
