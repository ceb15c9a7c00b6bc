#include <gtest/gtest.h>

#include "platform/rescue/HiveFile.h"
#include "platform/rescue/HiveImage.h"
#include "rescue/RealHives.h"
#include "support/TempTree.h"

namespace korbu::platform::rescue {
namespace {

TEST(HiveRecovery, Explore) {
  test::TempTree tree;
  if (!test::PlaceRealHive("regipy_SYSTEM_B", tree.Path(), "SYSTEM") ||
      !test::PlaceRealHive("regipy_SYSTEM_B.LOG1", tree.Path(), "SYSTEM.LOG1") ||
      !test::PlaceRealHive("regipy_SYSTEM_B.LOG2", tree.Path(), "SYSTEM.LOG2")) {
    GTEST_SKIP() << "no ../shared/test-hives";
  }
  auto folder = Folder::Open(tree.Path());
  ASSERT_TRUE(folder);
  auto hive = LoadHive(*folder, "SYSTEM");
  ASSERT_TRUE(hive) << hive.Reason();
  EXPECT_TRUE(hive->dirty);
  EXPECT_TRUE(hive->readable) << hive->readable.Reason();
  EXPECT_TRUE(hive->writable) << hive->writable.Reason();
  for (auto& u : hive->replay.used) std::printf("used %s\n", u.c_str());
  std::printf("seq %u size %zu orig %zu\n", hive->replay.sequence, hive->bytes.size(), hive->original.size());
  test::WriteFileBytes("/tmp/h41/SYSTEM_B.recovered", hive->bytes);
  test::WriteFileBytes("/tmp/h41/SYSTEM_B", hive->original);
}

}  // namespace
}  // namespace korbu::platform::rescue
