// The window logic through a fake view: start-up, a scan with its stop question,
// "Back", rows in walk order, an error of the scan, the select-all box and the
// two actions. The long work runs on workers whose hand-overs run only while the
// test pumps, so every "while it runs" step is taken while it still runs.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <stdexcept>
#include <thread>

#include "FakeWindowView.h"
#include "dispatch/QueuedDispatcher.h"
#include "engine/ClamdScanner.h"
#include "platform/Processes.h"
#include "repair/Undo.h"
#include "scan/ScanSession.h"
#include "support/CrcForge.h"
#include "support/ScopedEnvironment.h"
#include "support/TempTree.h"
#include "support/TestFrontEnds.h"
#include "ui/ActionProgress.h"
#include "ui/PhaseRelay.h"
#include "ui/WindowController.h"

namespace korbu {
namespace {

using test::FakeEngine;
using test::FakeWindowView;

class WindowControllerTest : public ::testing::Test {
 protected:
  WindowControllerTest()
      : noPrefix_("WINEPREFIX", prefix_.Path()), ownData_("XDG_DATA_HOME", prefix_.Path("data")),
        view_(dispatcher_) {
    // The memory phase sees only what these tests start, whatever else runs here.
    platform::LimitSnapshotsToDescendants();
    auto engine = std::make_unique<FakeEngine>();
    engine_ = engine.get();
    engine_->library = true;
    engine_->signatures = 999;
    engine_->reason = "database folder \"/db/\": main.cvd or main.cld is missing";
    controller_ = std::make_unique<WindowController>(view_, dispatcher_, std::move(engine));
    controller_->FormCreate();
    worm_ = tree_.Write("worm.exe", test::VariantFile(1));
    tree_.Write("docs/tool.exe", test::MzFile(300));
    view_.location = tree_.Path();
  }
  ~WindowControllerTest() override { controller_.reset(); }

  void Start() {
    controller_->FormActivate();
    controller_->WaitForWork();
  }
  // A scan whose memory and registry phases have ended: the walk runs.
  void ScanToTheWalk() {
    controller_->btnScanClick();
    controller_->WaitForWork();
    ASSERT_TRUE(controller_->ScanBusy());
  }
  // Rows as the phases would add them, on a ready scan page.
  void ListOf(std::initializer_list<std::pair<std::string, std::string>> rows) {
    Start();
    view_.location = std::string();
    ScanToTheWalk();
    for (const auto& [file, virus] : rows) controller_->Detections().AddDetection(file, virus);
    controller_->Session().WaitForEnd();
  }

  test::TempTree prefix_;  // the registry phase must not reach the user's own prefix
  test::ScopedEnvironment noPrefix_;
  test::ScopedEnvironment ownData_;  // the actions' journals and quarantine
  test::TempTree tree_;
  std::string worm_;
  QueuedDispatcher dispatcher_;
  FakeWindowView view_;
  FakeEngine* engine_ = nullptr;
  std::unique_ptr<WindowController> controller_;
};

TEST_F(WindowControllerTest, StartUpLoadsOffTheMainThreadReportingEachStepOnce) {
  EXPECT_FALSE(view_.On(WindowControl::OptionsPage));
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> loading{false};
  engine_->whileLoading = [&] {
    loading = true;
    released.wait();
  };
  controller_->FormActivate();
  // The databases load; the main thread goes on taking its messages meanwhile.
  while (!loading) {
    dispatcher_.ProcessPendingMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(view_.splash, (std::vector<std::string>{"DLL initialization...", "DLL loaded.",
                                                    "Database initialization..."}));
  EXPECT_FALSE(view_.On(WindowControl::OptionsPage));
  EXPECT_FALSE(controller_->StartupFinished());
  controller_->FormActivate();  // activated again while loading: nothing more
  controller_->btnScanClick();  // not reachable yet: nothing happens
  EXPECT_EQ(view_.page, WindowPage::Options);
  // Closed meanwhile: the window may go at once, and no splash keeps the program.
  EXPECT_TRUE(controller_->CloseQuery());
  EXPECT_TRUE(view_.splashHidden);
  EXPECT_TRUE(controller_->StartupRunning());
  release.set_value();
  controller_->WaitForWork();

  controller_->FormActivate();  // a later activation loads nothing again
  EXPECT_FALSE(controller_->StartupRunning());
  EXPECT_EQ(view_.splash, (std::vector<std::string>{"DLL initialization...", "DLL loaded.",
                                                    "Database initialization...",
                                                    "Database NOT loaded."}));
  EXPECT_TRUE(view_.On(WindowControl::OptionsPage));
  EXPECT_EQ(view_.Text(WindowLabel::Build), "1.0.0 RC1");
  EXPECT_EQ(view_.Text(WindowLabel::EngineVersion), "16");
  EXPECT_EQ(view_.Text(WindowLabel::Signatures), "1.015 viruses");
  EXPECT_EQ(view_.tips[WindowLabel::Signatures], engine_->reason);
  EXPECT_EQ(view_.Text(WindowLabel::CvdVersion), "[Main: 6; Daily: ]");
  EXPECT_EQ(view_.Text(WindowLabel::CvdDateDaily), "[Daily: ]");
  // The 2021 date is not shown without a word about its age.
  EXPECT_TRUE(view_.tips[WindowLabel::CvdDateMain].starts_with("Engine: databases of 22 Jun 2021, "));
  EXPECT_EQ(view_.tips[WindowLabel::CvdDateDaily], view_.tips[WindowLabel::CvdDateMain]);
  EXPECT_TRUE(view_.OptionChecked(ScanOption::Archive));
}

// A step that throws is a failed step: the window shows what it threw with
// where it shows why the engine is off, and start-up still ends.
TEST_F(WindowControllerTest, AnEngineStepThatThrowsShowsItsReason) {
  engine_->database = true;
  engine_->whileLoading = [] { throw std::runtime_error("cannot read main.cvd: Input/output error"); };
  Start();
  EXPECT_EQ(view_.splash.back(), "Database NOT loaded.");
  EXPECT_EQ(view_.tips[WindowLabel::Signatures], "cannot read main.cvd: Input/output error");
  EXPECT_TRUE(view_.On(WindowControl::OptionsPage));
  EXPECT_TRUE(controller_->StartupFinished());
}

TEST_F(WindowControllerTest, ScansUseTheEngineThatStartUpMade) {
  TClamAV engine;
  engine_->engine = &engine;
  Start();
  view_.location = std::string();
  ScanToTheWalk();
  controller_->Session().WaitForEnd();
  EXPECT_EQ(controller_->Session().Context().engine, &engine);
  EXPECT_EQ(engine.ScanOptions(), 879);  // every option checked, archives included
}

TEST_F(WindowControllerTest, ScansUseTheClamdThatStartUpNamedAndShowItsVersion) {
  TClamAV local;
  ClamdScanner clamd(ParseClamdAddress("/nonexistent/clamd.sock").value());
  engine_->engine = &local;
  engine_->remote = &clamd;
  engine_->engineVersion = "ClamAV 1.4.6 (clamd at /nonexistent/clamd.sock)";
  Start();
  EXPECT_EQ(view_.Text(WindowLabel::EngineVersion), engine_->engineVersion);
  view_.location = std::string();
  ScanToTheWalk();
  controller_->Session().WaitForEnd();
  EXPECT_EQ(controller_->Session().Context().engine, &clamd);
}

TEST_F(WindowControllerTest, AScanListsTheWormAndKeepsTheActionsClosedUntilItsEnd) {
  Start();
  controller_->btnScanClick();
  // The memory and registry phases run: a row found there and marked changes nothing.
  ASSERT_TRUE(controller_->ScanRunning());
  EXPECT_FALSE(controller_->ScanBusy());
  EXPECT_EQ(view_.page, WindowPage::Scan);
  EXPECT_EQ(view_.stopCaption, "Stop");
  EXPECT_FALSE(view_.On(WindowControl::Back));
  controller_->Detections().AddDetection(tree_.Path("docs/tool.exe"), "Brontok-2", DetectionKind::Program);
  controller_->LvFoundItemChecked(0, true);
  controller_->lvFoundClick();
  EXPECT_FALSE(view_.On(WindowControl::Clean) || view_.On(WindowControl::Delete));
  controller_->WaitForWork();
  ASSERT_TRUE(controller_->ScanBusy());
  EXPECT_FALSE(view_.On(WindowControl::List));
  controller_->Session().WaitForEnd();

  ASSERT_EQ(view_.rows.size(), 2u);
  EXPECT_FALSE(view_.rows[0].first.checked);
  EXPECT_EQ(view_.rows[1].first.path, worm_);
  EXPECT_EQ(view_.rows[1].first.virusName, "Brontok-1");
  EXPECT_EQ(view_.Text(WindowLabel::DetectedCount), "2");
  EXPECT_EQ(view_.Text(WindowLabel::InfoScan), "2 file(s) and 2 Folder(s) scanned. Scan is finished...");
  EXPECT_EQ(view_.stopCaption, "Exit");
  EXPECT_TRUE(view_.On(WindowControl::List));
  EXPECT_TRUE(view_.On(WindowControl::SelectAll));
  EXPECT_FALSE(view_.On(WindowControl::Clean));
  EXPECT_TRUE(view_.questions.empty());
}

TEST_F(WindowControllerTest, StopDuringTheFirstPhasesAsksAndYesEndsTheScanThere) {
  Start();
  controller_->btnScanClick();
  view_.answer = false;
  controller_->btnCancel2Click();
  EXPECT_TRUE(controller_->ScanRunning());
  EXPECT_EQ(view_.closeRequests, 0);
  EXPECT_EQ(view_.stopCaption, "Stop");

  view_.answer = true;
  controller_->btnCancel2Click();
  // Ended at the next object, before any walk.
  EXPECT_FALSE(controller_->ScanRunning());
  EXPECT_EQ(view_.questions, (std::vector<std::string>(2, kStopQuestion)));
  EXPECT_EQ(view_.Text(WindowLabel::FileScan), "Scan stopped by user.");
  EXPECT_EQ(view_.Text(WindowLabel::InfoScan), "0 file(s) and 0 Folder(s) scanned. Scan is finished...");
  EXPECT_EQ(view_.stopCaption, "Exit");
  EXPECT_TRUE(view_.On(WindowControl::List));
  EXPECT_TRUE(view_.On(WindowControl::Back));
  EXPECT_EQ(view_.closeRequests, 0);

  // Closing during the phases ends them the same way, then closes; no walk starts.
  controller_->btnBackClick();
  controller_->btnScanClick();
  EXPECT_FALSE(controller_->CloseQuery());
  controller_->WaitForWork();
  EXPECT_EQ(view_.closeRequests, 1);
  EXPECT_FALSE(controller_->ScanBusy());
}

TEST_F(WindowControllerTest, SeveralVerdictWorkersShowTheRowsOfOneInWalkOrder) {
  for (int i = 0; i < 48; ++i) {
    tree_.Write("d" + std::to_string(i % 3) + "/w" + std::to_string(i) + ".exe", test::VariantFile(i % 16 + 1));
  }
  Start();
  std::vector<std::string> shown[2];
  for (const unsigned workers : {1u, 4u}) {
    controller_->Session().SetVerdictWorkers(workers);
    ScanToTheWalk();
    controller_->Session().WaitForEnd();
    for (const auto& [row, tip] : view_.rows) shown[workers > 1].push_back(row.path + " " + row.virusName);
    controller_->btnBackClick();
  }
  EXPECT_EQ(shown[0].size(), 49u);
  EXPECT_EQ(shown[1], shown[0]);
  EXPECT_TRUE(view_.rowsInOrder);
}

TEST_F(WindowControllerTest, StopAsksAndStopsOnlyAWalkThatStillRuns) {
  Start();
  ScanToTheWalk();
  view_.answer = false;
  controller_->btnCancel2Click();
  EXPECT_TRUE(controller_->ScanBusy());
  EXPECT_EQ(view_.stopCaption, "Stop");

  view_.answer = true;
  controller_->btnCancel2Click();
  EXPECT_FALSE(controller_->ScanBusy());
  EXPECT_EQ(view_.Text(WindowLabel::FileScan), "Scan stopped by user.");
  EXPECT_NE(view_.Text(WindowLabel::InfoScan).find("Scan is finished..."), std::string::npos);
  EXPECT_EQ(view_.stopCaption, "Exit");
  EXPECT_EQ(view_.questions, (std::vector<std::string>(2, kStopQuestion)));

  // The walk ends while the question is open: "Yes" then stops nothing.
  controller_->btnBackClick();
  ScanToTheWalk();
  view_.beforeAnswer = [this] { controller_->Session().WaitForEnd(); };
  controller_->btnCancel2Click();
  EXPECT_EQ(view_.Text(WindowLabel::FileScan), "");
  EXPECT_EQ(view_.closeRequests, 0);
  controller_->btnCancel2Click();  // now "Exit"
  EXPECT_EQ(view_.closeRequests, 1);
}

TEST_F(WindowControllerTest, BackDuringTheWalkStopsItAndClearsTheList) {
  Start();
  ScanToTheWalk();
  controller_->Detections().AddDetection(worm_, "Brontok-1", DetectionKind::Program);
  controller_->btnBackClick();
  EXPECT_FALSE(controller_->ScanBusy());
  EXPECT_EQ(view_.page, WindowPage::Options);
  EXPECT_TRUE(view_.rows.empty());
  EXPECT_EQ(view_.questions.size(), 1u);
  EXPECT_TRUE(controller_->CloseQuery());
}

TEST_F(WindowControllerTest, AnErrorOfTheScanIsShownAndLeavesThePageUsable) {
  Start();
  view_.failLocation = true;
  controller_->btnScanClick();
  EXPECT_EQ(view_.messages, std::vector<std::string>{"The location tree is gone."});
  EXPECT_FALSE(controller_->ScanRunning());
  EXPECT_EQ(view_.stopCaption, "Exit");
  EXPECT_TRUE(view_.On(WindowControl::Back));
  EXPECT_TRUE(view_.On(WindowControl::List));
}

TEST_F(WindowControllerTest, TheSelectAllBoxIsNeverLeftTickedWithoutPendingRows) {
  ListOf({});
  controller_->lvFoundClick();  // in the empty list
  EXPECT_FALSE(view_.selectAll);

  controller_->btnBackClick();
  ListOf({{tree_.Path("docs/tool.exe"), "Eicar-Test-Signature"}});
  view_.selectAll = true;
  controller_->cbSelAllClick(true);
  EXPECT_TRUE(view_.rows[0].first.checked);
  EXPECT_TRUE(view_.On(WindowControl::Delete));
  EXPECT_FALSE(view_.On(WindowControl::Clean));
  controller_->btnDeleteClick();
  controller_->WaitForWork();
  EXPECT_EQ(view_.rows[0].first.state, RowState::Deleted);
  EXPECT_FALSE(view_.selectAll);
  EXPECT_FALSE(view_.On(WindowControl::SelectAll));
  EXPECT_FALSE(view_.On(WindowControl::Delete));
}

TEST_F(WindowControllerTest, ActionsShowEachResultAtOnceAndWhyARowStays) {
  const std::string gone = tree_.Path("gone.exe");
  const std::string first = tree_.Write("a.exe", "a");
  const std::string second = tree_.Write("b.exe", "b");
  ListOf({{gone, "Other"}, {first, "Other"}, {second, "Other"}});
  controller_->cbSelAllClick(true);
  // Each result shows while the next row's file is still there.
  bool firstShownAlone = false;
  view_.onRow = [&](std::size_t index) {
    firstShownAlone = firstShownAlone || (index == 1 && view_.rows[1].first.state == RowState::Deleted &&
                                          std::filesystem::exists(second));
  };
  const std::size_t actionsBefore = ActionHistory()->size();
  controller_->btnDeleteClick();
  // It works on a worker: the window is free, busy and closed to the user.
  EXPECT_TRUE(controller_->ActionRunning());
  EXPECT_TRUE(view_.busy);
  for (WindowControl control : {WindowControl::Back, WindowControl::Stop, WindowControl::Delete,
                                WindowControl::List, WindowControl::SelectAll}) {
    EXPECT_FALSE(view_.On(control));
  }
  controller_->btnDeleteClick();  // a second press does nothing
  controller_->WaitForWork();
  EXPECT_FALSE(view_.busy);
  EXPECT_TRUE(firstShownAlone);
  EXPECT_FALSE(std::filesystem::exists(second));
  EXPECT_TRUE(view_.rows[0].first.checked);
  EXPECT_EQ(view_.rows[0].second, "the file no longer exists");
  EXPECT_EQ(controller_->RowTip(0), "the file no longer exists");
  EXPECT_TRUE(view_.On(WindowControl::Delete));
  EXPECT_TRUE(view_.On(WindowControl::SelectAll));
  EXPECT_TRUE(view_.On(WindowControl::Back));
  // What the action changed is journaled for korbu-scan --undo.
  const auto history = ActionHistory();
  ASSERT_TRUE(history) << history.error().reason;
  ASSERT_EQ(history->size(), actionsBefore + 1);
  EXPECT_EQ(history->back().action, "delete");
  EXPECT_EQ(history->back().rows.size(), 3u);
}

// A journal that cannot be written changes nothing: every row stays, and the
// window says why once the action ends.
TEST_F(WindowControllerTest, ARefusedJournalLeavesTheRowsAndIsToldAtTheEnd) {
#ifdef _WIN32
  GTEST_SKIP() << "the journal's folder is the shell's local application data there, which no variable moves";
#endif
  const std::string first = tree_.Write("a.exe", "a");
  ListOf({{first, "Other"}});
  test::WriteFileBytes(prefix_.Path("data"), "a file where the data folder would be");
  controller_->cbSelAllClick(true);
  const std::size_t before = view_.messages.size();
  controller_->btnDeleteClick();
  controller_->WaitForWork();
  EXPECT_TRUE(std::filesystem::exists(first));
  EXPECT_NE(view_.rows[0].first.state, RowState::Deleted);
  ASSERT_EQ(view_.messages.size(), before + 1);
  EXPECT_EQ(view_.messages.back().rfind("Changes refused: ", 0), 0u) << view_.messages.back();
}

TEST(ActionProgressTest, CountsAreGroupedAndTheCloseIsAnnounced) {
  EXPECT_EQ(ActionProgressText("delete", 1234, 10000, false), "Deleting 1,234 of 10,000");
  EXPECT_EQ(ActionProgressText("clean", 0, 7, true), "Cleaning 0 of 7 - the window closes when this has ended");
}

// The status line counts the rows done while the action runs; a close request
// meanwhile is answered there and carried out at the end.
TEST_F(WindowControllerTest, AnActionCountsItsRowsAndAnnouncesAPendingClose) {
  const std::string first = tree_.Write("a.exe", "a");
  const std::string second = tree_.Write("b.exe", "b");
  ListOf({{first, "Other"}, {second, "Other"}});
  const std::string before = view_.texts[WindowLabel::FileScan];
  controller_->cbSelAllClick(true);
  std::vector<std::string> counts;
  view_.onRow = [&](std::size_t) {
    const std::string& now = view_.texts[WindowLabel::FileScan];
    if (counts.empty() || counts.back() != now) counts.push_back(now);
  };
  controller_->btnDeleteClick();
  EXPECT_EQ(view_.texts[WindowLabel::FileScan], "Deleting 0 of 2");
  EXPECT_FALSE(controller_->CloseQuery());
  EXPECT_EQ(view_.texts[WindowLabel::FileScan], "Deleting 0 of 2 - the window closes when this has ended");
  EXPECT_EQ(view_.closeRequests, 0);
  controller_->WaitForWork();
  EXPECT_EQ(counts, (std::vector<std::string>{"Deleting 1 of 2 - the window closes when this has ended",
                                              "Deleting 2 of 2 - the window closes when this has ended"}));
  EXPECT_EQ(view_.texts[WindowLabel::FileScan], before);
  EXPECT_EQ(view_.closeRequests, 1);
}

// A row's prefix decides which Windows system its Clean repairs, so the window
// must get it from the phases' worker along with the row.
TEST(PhaseRelayTest, RowsReachTheWindowWithThePrefixTheirProgramRunsIn) {
  QueuedDispatcher dispatcher;
  test::ListOnlyFrontEnd window;
  PhaseRelay relay(window, dispatcher);
  relay.Begin();
  std::thread worker([&] {
    relay.Detections().AddDetection("C:\\w\\worm.exe", "Brontok-1", DetectionKind::Program, platform::WindowsSystemRef::Prefix("/p/B"));
    relay.Detections().AddRegistryDetection({platform::kHkeyCurrentUser, "Software\\Run", "w"}, "Brontok-1",
                                            platform::WindowsSystemRef::Prefix("/p/B"));
  });
  dispatcher.WaitWithMessages([&] { return window.list.Count() == 2; });
  worker.join();
  ASSERT_EQ(window.list.Count(), 2u);
  EXPECT_EQ(window.list.Row(0).system, platform::WindowsSystemRef::Prefix("/p/B"));
  EXPECT_EQ(window.list.Row(1).system, platform::WindowsSystemRef::Prefix("/p/B"));
  EXPECT_EQ(window.list.Row(1).value.valueName, "w");
}

}  // namespace
}  // namespace korbu
