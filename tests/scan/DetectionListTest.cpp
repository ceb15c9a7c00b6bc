#include <gtest/gtest.h>

#include "scan/DetectionList.h"

namespace korbu {
namespace {

TEST(DetectionList, ListsAPathOnceUnderTheKindThatFoundItFirst) {
  DetectionList list;
  std::vector<std::size_t> changes;
  list.SetChangeHandler([&](std::size_t i) { changes.push_back(i); });
  list.AddDetection("/home/u/worm.exe", "Brontok-1", std::string(kInfoMemory));
  EXPECT_TRUE(list.IsDetected("/home/u/worm.exe"));
  // File names follow the platform: exact on POSIX, letter case ignored on Windows.
#ifdef _WIN32
  EXPECT_TRUE(list.IsDetected("/home/u/WORM.exe"));
#else
  EXPECT_FALSE(list.IsDetected("/home/u/WORM.exe"));
#endif
  EXPECT_FALSE(list.IsDetected("/home/u/worm"));
  // Registry locations ignore letter case.
  list.AddDetection("HKEY_LOCAL_MACHINE\\Software\\Run\\x", "Brontok-1", std::string(kInfoRegistry));
  EXPECT_TRUE(list.IsDetected("HKEY_LOCAL_MACHINE\\SOFTWARE\\RUN\\X"));
  EXPECT_EQ(changes, (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(KindOf(list.Row(0)), RowKind::Memory);
  EXPECT_EQ(KindOf(list.Row(1)), RowKind::Registry);
}

TEST(DetectionList, HandledRowsCannotBeChecked) {
  DetectionList list;
  list.AddDetection("/a", "Brontok-1", "");
  list.SetChecked(0, true);
  EXPECT_TRUE(list.Row(0).checked);
  list.SetInformation(0, std::string(kInfoCleaned));
  EXPECT_FALSE(list.Row(0).checked);
  EXPECT_FALSE(IsPending(list.Row(0)));
  list.SetChecked(0, true);
  EXPECT_FALSE(list.Row(0).checked);
  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
}

}  // namespace
}  // namespace korbu
