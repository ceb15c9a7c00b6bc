// What a scan of the window reaches: what it leaves out is said after the summary
// line and named in its tip, gone again at the next scan that leaves nothing out;
// and a file named or dropped is judged alone while its folder is selected.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "FakeWindowView.h"
#include "dispatch/QueuedDispatcher.h"
#include "platform/Processes.h"
#include "scan/ScanSession.h"
#include "support/CrcForge.h"
#include "support/ScopedEnvironment.h"
#include "support/TempTree.h"
#include "ui/SkippedFiles.h"
#include "ui/StartLocation.h"
#include "ui/WindowController.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace korbu {
namespace {

class WindowScanTest : public ::testing::Test {
 protected:
  WindowScanTest()
      : noPrefix_("WINEPREFIX", prefix_.Path()), ownData_("XDG_DATA_HOME", prefix_.Path("data")), view_(dispatcher_) {
    platform::LimitSnapshotsToDescendants();
    controller_ = std::make_unique<WindowController>(view_, dispatcher_, std::make_unique<test::FakeEngine>());
    controller_->FormCreate();
    controller_->FormActivate();
    controller_->WaitForWork();
    view_.location = tree_.Path();
  }
  ~WindowScanTest() override { controller_.reset(); }

  void Scan() {
    controller_->btnScanClick();
    controller_->WaitForWork();
    controller_->Session().WaitForEnd();
  }

  test::TempTree prefix_;
  test::ScopedEnvironment noPrefix_;
  test::ScopedEnvironment ownData_;
  test::TempTree tree_;
  QueuedDispatcher dispatcher_;
  test::FakeWindowView view_;
  std::unique_ptr<WindowController> controller_;
};

TEST_F(WindowScanTest, FilesOverTheLimitAreCountedAfterTheSummaryAndNamedInTheTip) {
  const std::string worm = tree_.Write("worm.exe", test::VariantFile(1));
  tree_.Write("edge.dat", std::string(kWalkSizeLimit, 'e'));  // at the limit: scanned
  const std::string big = tree_.Write("docs/big.zip", std::string(kWalkSizeLimit + 1, 'b'));
  std::string leftOut = " 1 file(s) left out.";
#ifndef _WIN32
  // Never opened: a link to the worm, and a FIFO, which a read would block on.
  std::filesystem::create_symlink(worm, tree_.Path("docs/link.exe"));
  ASSERT_EQ(mkfifo(tree_.Path("pipe").c_str(), 0600), 0);
  leftOut = " 3 file(s) left out.";
#endif
  Scan();
  ASSERT_EQ(view_.rows.size(), 1U);
  EXPECT_EQ(view_.rows[0].first.path, worm);
  const std::string summary = "2 file(s) and 2 Folder(s) scanned. Scan is finished...";
  const std::string tip = view_.tips[WindowLabel::InfoScan];
  EXPECT_NE(tip.find(big + ": over the size limit of 100 KiB"), std::string::npos) << tip;
  EXPECT_EQ(tip.find("edge.dat"), std::string::npos) << tip;
  EXPECT_EQ(view_.Text(WindowLabel::InfoScan), summary + leftOut);
#ifndef _WIN32
  EXPECT_NE(tip.find(tree_.Path("docs/link.exe") + ": not a regular file"), std::string::npos) << tip;
  EXPECT_NE(tip.find(tree_.Path("pipe") + ": not a regular file"), std::string::npos) << tip;
  std::filesystem::remove(tree_.Path("docs/link.exe"));
  std::filesystem::remove(tree_.Path("pipe"));
#endif

  // The next scan, with nothing left out, shows the summary alone and no tip.
  controller_->btnBackClick();
  std::filesystem::remove(big);
  Scan();
  EXPECT_EQ(view_.Text(WindowLabel::InfoScan), "2 file(s) and 2 Folder(s) scanned. Scan is finished...");
  EXPECT_EQ(view_.tips[WindowLabel::InfoScan], "");
}

TEST_F(WindowScanTest, AFileNamedIsJudgedAloneWhileItsFolderIsSelected) {
  const std::string worm = tree_.Write("worm.exe", test::VariantFile(1));
  const std::string other = tree_.Write("other.exe", test::VariantFile(2));
  controller_->SetFileTarget(worm);
  EXPECT_EQ(view_.scanTip, "While its folder stays selected, Scan judges this file alone: " + worm);
  view_.location = FolderToSelect(worm) + "/";
  Scan();
  ASSERT_EQ(view_.rows.size(), 1U);
  EXPECT_EQ(view_.rows[0].first.path, worm);
  EXPECT_EQ(view_.Text(WindowLabel::InfoScan), "1 file(s) and 0 Folder(s) scanned. Scan is finished...");
  EXPECT_EQ(view_.stopCaption, "Exit");
  EXPECT_TRUE(view_.On(WindowControl::SelectAll));

  // Too big for the walk: left out, and said so.
  controller_->btnBackClick();
  const std::string big = tree_.Write("big.exe", std::string(kWalkSizeLimit + 1, 'b'));
  controller_->SetFileTarget(big);
  Scan();
  EXPECT_TRUE(view_.rows.empty());
  EXPECT_EQ(view_.Text(WindowLabel::InfoScan),
            "0 file(s) and 0 Folder(s) scanned. Scan is finished... 1 file(s) left out.");

  // Another folder selected: that folder is walked, the file target aside.
  controller_->btnBackClick();
  view_.location = tree_.MakeDir("elsewhere");
  tree_.Write("elsewhere/third.exe", test::VariantFile(3));
  Scan();
  ASSERT_EQ(view_.rows.size(), 1U);
  EXPECT_NE(view_.rows[0].first.path, worm);
  EXPECT_NE(view_.rows[0].first.path, other);
  controller_->SetFileTarget(std::string());  // a folder dropped
  EXPECT_EQ(view_.scanTip, "");
}

TEST(SkippedFiles, CountsEveryOneNamesTheFirstAndShowsNamesOnOneLine) {
  SkippedFiles skipped;
  EXPECT_EQ(skipped.Sentence(), "");
  EXPECT_EQ(skipped.Details(), "");
  for (int i = 0; i < 25; ++i) skipped.Add(SkipReason::Unreadable, "/srv/f" + std::to_string(i), "permission denied");
  skipped.Add(SkipReason::JudgedInPart, "/srv/deep.zip", "the engine's MaxRecursion limit");
  skipped.Add(SkipReason::MadeUpFileSystem, "/proc/");
  EXPECT_EQ(skipped.Total(), 27);
  EXPECT_EQ(skipped.Sentence(), "26 file(s) left out. 1 judged only in part.");
  const std::string details = skipped.Details();
  EXPECT_EQ(details.rfind("Left out of the scan:\n25 could not be read\n1 folder of a made-up file system", 0), 0U)
      << details;
  EXPECT_NE(details.find("\n/srv/f0: could not be read (permission denied)"), std::string::npos);
  EXPECT_EQ(details.find("/srv/f20"), std::string::npos);  // past the names kept
  EXPECT_NE(details.find("\nand 7 more"), std::string::npos) << details;

  skipped.Clear();
  skipped.Add(SkipReason::Unreadable, "/srv/two\nlines");
  EXPECT_NE(skipped.Details().find("/srv/two\\x0Alines: could not be read"), std::string::npos) << skipped.Details();
}

}  // namespace
}  // namespace korbu
