#include <gtest/gtest.h>

#include "cli/RowTexts.h"
#include "platform/Registry.h"
#include "scan/DetectionList.h"

namespace korbu {
namespace {

TEST(DetectionList, ListsAPathOnceUnderTheKindThatFoundItFirst) {
  DetectionList list;
  std::vector<std::size_t> changes;
  list.SetChangeHandler([&](std::size_t i) { changes.push_back(i); });
  list.AddDetection("/home/u/worm.exe", "Brontok-1", DetectionKind::Program);
  EXPECT_TRUE(list.IsDetected("/home/u/worm.exe"));
  // File names follow the platform: exact on POSIX, letter case ignored on Windows.
#ifdef _WIN32
  EXPECT_TRUE(list.IsDetected("/home/u/WORM.exe"));
#else
  EXPECT_FALSE(list.IsDetected("/home/u/WORM.exe"));
#endif
  EXPECT_FALSE(list.IsDetected("/home/u/worm"));
  // Registry values ignore letter case, and are no file of the same text.
  const RegistryValueLocation run{platform::kHkeyLocalMachine, "Software\\Run", "x"};
  list.AddRegistryDetection(run, "Brontok-1");
  EXPECT_TRUE(list.IsRegistryDetected({platform::kHkeyLocalMachine, "SOFTWARE\\RUN", "X"}, {}));
  EXPECT_FALSE(list.IsDetected("HKEY_LOCAL_MACHINE\\Software\\Run\\x"));
  EXPECT_EQ(changes, (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(RowInformation(list.Row(0)), kInfoMemory);
  EXPECT_EQ(RowInformation(list.Row(1)), kInfoRegistry);
  EXPECT_EQ(RowFileName(list.Row(1)), "HKEY_LOCAL_MACHINE\\Software\\Run\\x");
}

// Both read "HKEY_CURRENT_USER\K\a\b": only key and name apart tell them.
TEST(DetectionList, ValuesOfOneLocationTextAreTwoValues) {
  DetectionList list;
  const RegistryValueLocation named{platform::kHkeyCurrentUser, "K", "a\\b"};
  const RegistryValueLocation nested{platform::kHkeyCurrentUser, "K\\a", "b"};
  list.AddRegistryDetection(named, "Brontok-4");
  EXPECT_FALSE(list.IsRegistryDetected(nested, {}));
  EXPECT_FALSE(list.IsRegistryDetected(named, platform::WindowsSystemRef::Prefix("/p/B")));
  EXPECT_TRUE(list.IsRegistryDetected(named, {}));
  EXPECT_EQ(RowFileName(list.Row(0)), "HKEY_CURRENT_USER\\K\\a\\b");
}

TEST(DetectionList, HandledRowsCannotBeCheckedAndFailedOnesStayPending) {
  DetectionList list;
  list.AddDetection("/a", "Brontok-1");
  list.SetChecked(0, true);
  list.SetState(0, RowState::Failed, "the file could not be deleted");
  EXPECT_TRUE(list.Row(0).checked);
  EXPECT_TRUE(IsPending(list.Row(0)));
  EXPECT_EQ(list.Row(0).failure, "the file could not be deleted");
  EXPECT_EQ(RowInformation(list.Row(0)), "");
  list.SetState(0, RowState::Cleaned);
  EXPECT_EQ(RowInformation(list.Row(0)), kInfoCleaned);
  EXPECT_EQ(list.Row(0).failure, "");
  EXPECT_FALSE(list.Row(0).checked);
  EXPECT_FALSE(IsPending(list.Row(0)));
  list.SetChecked(0, true);
  EXPECT_FALSE(list.Row(0).checked);
  list.Clear();
  EXPECT_EQ(list.Count(), 0u);
}

}  // namespace
}  // namespace korbu
