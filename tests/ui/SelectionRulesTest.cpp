// Which buttons the checked rows enable, and what the select-all box and the
// list do to the marks.
#include <gtest/gtest.h>

#include "scan/DetectionList.h"
#include "scan/RegistryLocations.h"
#include "ui/SelectionRules.h"

namespace korbu {
namespace {

// Three pending rows (worm, other virus, worm) and one handled row.
DetectionList MixedRows() {
  DetectionList rows;
  rows.AddDetection("/a/worm.exe", "Brontok-4");
  rows.AddDetection("/a/eicar.com", "Eicar-Test-Signature", DetectionKind::Program);
  rows.AddRegistryDetection(*ParseRegistryLocation("HKEY_CURRENT_USER\\Run\\x"), "Brontok.Variant");
  rows.AddDetection("/a/done.exe", "Brontok-1");
  rows.SetState(3, RowState::Deleted);
  return rows;
}

TEST(SelectionTest, CountsAndButtonsFollowTheCheckedPendingRows) {
  DetectionList rows = MixedRows();
  EXPECT_EQ(PendingCount(rows), 3u);
  EXPECT_FALSE(AllRowsHandled(rows));
  EXPECT_TRUE(AllRowsHandled(DetectionList()));
  EXPECT_FALSE(ButtonRule(rows).clean);
  EXPECT_FALSE(ButtonRule(rows).del);

  rows.SetChecked(1, true);  // only another virus: Delete, not Clean
  EXPECT_EQ(CheckedOtherCount(rows), 1u);
  EXPECT_FALSE(ButtonRule(rows).clean);
  EXPECT_TRUE(ButtonRule(rows).del);

  rows.SetChecked(2, true);
  EXPECT_EQ(CheckedWormCount(rows), 1u);
  EXPECT_TRUE(ButtonRule(rows).clean);
  EXPECT_TRUE(ButtonRule(rows).del);
}

TEST(SelectionTest, SelectAllSkipsHandledRowsAndAListClickKeepsTheRest) {
  DetectionList rows = MixedRows();
  bool box = true;
  SelectAllClicked(rows, box);
  EXPECT_EQ(CheckedCount(rows), 3u);
  EXPECT_FALSE(rows.Row(3).checked);

  // A click that changes no mark: not every row is checked (one is handled), so the
  // box unchecks, and since every pending row is checked, all marks go.
  ListClicked(rows, box);
  EXPECT_FALSE(box);
  EXPECT_EQ(CheckedCount(rows), 0u);
}

TEST(SelectionTest, RemovingOneMarkUnchecksTheBoxOnly) {
  DetectionList rows;
  for (const char* name : {"/x/1", "/x/2", "/x/3"}) rows.AddDetection(name, "Brontok-2");
  bool box = true;
  SelectAllClicked(rows, box);
  ListClicked(rows, box);
  EXPECT_TRUE(box);
  rows.SetChecked(1, false);
  EXPECT_TRUE(ListClicked(rows, box).clean);
  EXPECT_FALSE(box);
  EXPECT_EQ(CheckedCount(rows), 2u);
}

TEST(SelectionTest, UpdateActionButtonsNeverEnablesTheBox) {
  DetectionList rows = MixedRows();
  EXPECT_TRUE(UpdateActionButtons(rows, true).selectAllEnabled);
  EXPECT_FALSE(UpdateActionButtons(rows, false).selectAllEnabled);
  EXPECT_FALSE(UpdateActionButtons(DetectionList(), true).selectAllEnabled);
  DetectionList done;
  done.AddDetection("/x", "Brontok-1");
  done.SetState(0, RowState::Cleaned);
  const ActionControls controls = UpdateActionButtons(done, true);
  EXPECT_FALSE(controls.selectAllEnabled);
  EXPECT_FALSE(controls.buttons.clean);
  EXPECT_FALSE(controls.buttons.del);
}

}  // namespace
}  // namespace korbu
