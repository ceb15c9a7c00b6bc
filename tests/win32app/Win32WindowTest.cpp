// The Win32 window driven as a user would, through its controls' messages: start-up,
// a scan that lists a worm file, "Stop" and "Yes", "Back", "Clean" and "Delete",
// "Exit"; and the hand-over's wait. Screenshots go to KORBU_SCREENSHOT_DIR.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>
#include <vector>

#include "support/CrcForge.h"
#include "support/TempTree.h"
#include "platform/FolderHandle.h"
#include "repair/JournalSink.h"
#include "scan/ScanSession.h"
#include "win32app/Controls.h"
#include "win32app/HistoryWindow.h"
#include "win32app/MainWindow.h"
#include "win32app/ShellMenu.h"

namespace korbu::win32app {
namespace {

const char* const kSummaryEnd = "Scan is finished...";

// Saves what the screen shows of the window's client area as a 24-bit BMP (the
// frame is the window manager's, absent on a bare virtual display).
void Screenshot(HWND window, const char* name) {
  const char* dir = std::getenv("KORBU_SCREENSHOT_DIR");
  if (dir == nullptr || window == nullptr) return;
  RECT box;
  GetClientRect(window, &box);
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&box), 2);
  const int width = box.right - box.left;
  const int height = box.bottom - box.top;
  HDC screen = GetDC(nullptr);
  HDC copy = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* pixels = nullptr;
  HBITMAP picture = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
  HGDIOBJ old = SelectObject(copy, picture);
  BitBlt(copy, 0, 0, width, height, screen, box.left, box.top, SRCCOPY);
  GdiFlush();
  const auto stride = static_cast<std::uint32_t>((width * 3 + 3) & ~3);
  const std::uint32_t bytes = stride * static_cast<std::uint32_t>(height);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = file.bfOffBits + bytes;
  std::ofstream out(std::filesystem::path(dir) / (std::string(name) + ".bmp"), std::ios::binary);
  out.write(reinterpret_cast<const char*>(&file), sizeof file);
  out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
  out.write(static_cast<const char*>(pixels), bytes);
  SelectObject(copy, old);
  DeleteObject(picture);
  DeleteDC(copy);
  ReleaseDC(nullptr, screen);
}

class Win32WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    MainWindow::RecordMessages(true);
    tree_.Write("worm.exe", test::VariantFile(1));
    tree_.Write("docs/readme.txt", "nothing to see");
    window_ = std::make_unique<MainWindow>(dispatcher_, MakeEngineStartup());
    ASSERT_TRUE(Pump([this] { return window_->Controller().StartupFinished(); }));
  }
  void TearDown() override {
    window_.reset();
    // The closed window's quit must not end the next test's pumps.
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
    CoUninitialize();
  }

  // Runs the window's messages until done holds; false after 60 s.
  bool Pump(const std::function<bool()>& done) {
    for (int i = 0; i < 6000; ++i) {
      dispatcher_.ProcessPendingMessages();
      if (done()) return true;
      Sleep(10);
    }
    return false;
  }
  void Settle() {
    for (int i = 0; i < 20; ++i) {
      dispatcher_.ProcessPendingMessages();
      Sleep(10);
    }
  }
  std::string Text(int id) const { return WindowText(window_->Control(id)); }
  // What a button shows: its access key's "&" is no part of the text.
  std::string Caption(int id) const {
    std::string text = Text(id);
    text.erase(std::remove(text.begin(), text.end(), '&'), text.end());
    return text;
  }
  // A key as the program's message loop hands it to the window's dialog keys.
  void Key(UINT message, WPARAM key) {
    MSG press{};
    press.hwnd = GetFocus() != nullptr ? GetFocus() : window_->Handle();
    press.message = message;
    press.wParam = key;
    IsDialogMessageW(window_->Handle(), &press);
    Settle();
  }
  // The names of a node's children, sorted, and the node of each.
  std::map<std::string, HTREEITEM> Children(HWND tree, HTREEITEM parent) {
    std::map<std::string, HTREEITEM> names;
    for (HTREEITEM child = TreeView_GetChild(tree, parent); child != nullptr; child = TreeView_GetNextSibling(tree, child)) {
      wchar_t name[MAX_PATH] = {};
      TVITEMW data{};
      data.mask = TVIF_TEXT;
      data.hItem = child;
      data.pszText = name;
      data.cchTextMax = MAX_PATH;
      SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
      names.emplace(win32::Utf8(name), child);
    }
    return names;
  }
  std::vector<std::string> ChildNames(HWND tree, HTREEITEM parent) {
    std::vector<std::string> names;
    for (const auto& entry : Children(tree, parent)) names.push_back(entry.first);
    return names;
  }
  bool Enabled(int id) const { return IsWindowEnabled(window_->Control(id)) != FALSE; }
  // A click as the user makes it: only on an enabled control of an enabled page.
  void Click(int id) {
    HWND control = window_->Control(id);
    ASSERT_NE(control, nullptr);
    ASSERT_TRUE(IsWindowEnabled(control) && IsWindowEnabled(GetParent(control))) << "control " << id;
    if ((GetWindowLongPtrA(control, GWL_STYLE) & BS_TYPEMASK) == BS_AUTOCHECKBOX) {
      Button_SetCheck(control, Button_GetCheck(control) == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
    }
    SendMessageA(GetParent(control), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(control));
  }
  // The user ticks a row's box, then the click reaches the list.
  void Mark(std::size_t row) {
    ListView_SetCheckState(window_->Control(kLvFound), static_cast<int>(row), TRUE);
    PostMessageA(window_->Handle(), kListClicked, 0, 0);
    Settle();
  }
  void ScanTree() {
    ASSERT_TRUE(window_->Tree().SelectPath(tree_.Path()));
    Click(kBtnScan);
  }
  // Clicks an action's button and waits for the action to end.
  void Act(int id) {
    Click(id);
    EXPECT_TRUE(window_->Controller().ActionRunning());
    window_->Controller().WaitForWork();
  }

  test::TempTree tree_;
  Win32Dispatcher dispatcher_;
  std::unique_ptr<MainWindow> window_;
};

TEST_F(Win32WindowTest, StartUpReportsEachStepAndShowsTheEngineInformation) {
  EXPECT_EQ(window_->SplashHistory(),
            (std::vector<std::string>{"Application initialization...", "DLL initialization...",
                                      "DLL NOT loaded.", "Database initialization...",
                                      "Database NOT loaded."}));
  EXPECT_EQ(WindowText(window_->Handle()), "KORBU");
  EXPECT_EQ(WindowText(GetWindow(window_->Handle(), GW_OWNER)), "Selvo Antivirus");
  RECT client;
  GetClientRect(window_->Handle(), &client);
  EXPECT_EQ(client.right, Scaled(MainWindow::kClientWidth));
  EXPECT_EQ(client.bottom, Scaled(MainWindow::kClientHeight));
  EXPECT_EQ(Text(kLbBuild), "1.0.0 RC1");
  EXPECT_EQ(Text(kLbEngineVer), "16");
  EXPECT_EQ(Text(kLbVirSign), "16 viruses");
  EXPECT_EQ(Text(kLbCVDVer), "[Main: ; Daily: ]");
  EXPECT_EQ(Text(kLbCVDDateDaily), "[Daily: ]");
  EXPECT_EQ(Button_GetCheck(window_->Control(kChkArchive)), BST_CHECKED);
  EXPECT_TRUE(IsWindowEnabled(GetParent(window_->Control(kBtnScan))));
  EXPECT_FALSE(window_->ScanPageShown());
  // Each caption shows whole in its label, in Tahoma.
  HDC dc = GetDC(window_->Handle());
  SelectObject(dc, WindowFont(false));
  for (int id : {kLabel3, kLabel4, kLabel5, kLabel6, kLabel7, kLbFileScaned, kLbFileDetected, kLbInfo}) {
    const std::string caption = Text(id);
    SIZE extent{};
    GetTextExtentPoint32A(dc, caption.c_str(), static_cast<int>(caption.size()), &extent);
    RECT label;
    GetClientRect(window_->Control(id), &label);
    EXPECT_LE(extent.cx, label.right) << caption;
  }
  char face[LF_FACESIZE] = {};
  GetTextFaceA(dc, LF_FACESIZE, face);
  EXPECT_STREQ(face, "Tahoma");
  ReleaseDC(window_->Handle(), dc);
  // Tips: why no databases are loaded, and a path the label cuts, whole.
  EXPECT_NE(window_->TipOf(kLbVirSign), "");
  EXPECT_EQ(window_->TipOf(kCbSelAll), "Check this box for select all.");
  window_->Controller().ShowObject("C:\\a.exe");
  EXPECT_EQ(window_->TipOf(kLbFileScan), "");
  std::string deep = "C:";
  for (int i = 0; i < 40; ++i) deep += "\\folder" + std::to_string(i);
  window_->Controller().ShowObject(deep);
  EXPECT_EQ(Text(kLbFileScan), deep);
  EXPECT_EQ(window_->TipOf(kLbFileScan), deep);
  window_->Controller().ShowObject(std::string());
  // My Computer names no folder; its drives are below it.
  HWND folders = window_->Control(kTvLocation);
  TreeView_SelectItem(folders, TreeView_GetRoot(folders));
  EXPECT_FALSE(std::filesystem::is_directory(window_->SelectedLocation()));
  EXPECT_NE(TreeView_GetChild(folders, TreeView_GetRoot(folders)), nullptr);
  // Only a folder with subfolders shows the mark to open it.
  ASSERT_TRUE(window_->Tree().SelectPath(tree_.Path()));
  const auto children = [&](HTREEITEM item) {
    TVITEMA data{};
    data.mask = TVIF_CHILDREN;
    data.hItem = item;
    return TreeView_GetItem(folders, &data) ? data.cChildren : -1;
  };
  HTREEITEM here = TreeView_GetSelection(folders);
  EXPECT_EQ(children(here), 1);
  TreeView_Expand(folders, here, TVE_EXPAND);
  HTREEITEM docs = TreeView_GetChild(folders, here);
  ASSERT_NE(docs, nullptr);
  EXPECT_EQ(children(docs), 0);
  Settle();
  Screenshot(window_->Handle(), "win32-options");
}

// Run at 96 DPI and, by scripts/test-windows.sh, at 192: every caption shows whole
// in its control and no two controls of a page overlap, apart from the select-all
// box that sits on its heading bar.
TEST_F(Win32WindowTest, TheLayoutFollowsTheScreenDpi) {
  HDC dc = GetDC(window_->Handle());
  const auto width = [&](HWND control) {
    const std::wstring text = win32::Wide(WindowText(control));
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(dc, old);
    return extent.cx;
  };
  for (HWND page : {GetParent(window_->Control(kBtnScan)), GetParent(window_->Control(kBtnBack))}) {
    std::vector<std::pair<int, RECT>> boxes;
    for (HWND control = GetWindow(page, GW_CHILD); control != nullptr; control = GetWindow(control, GW_HWNDNEXT)) {
      const int id = GetDlgCtrlID(control);
      RECT box;
      GetWindowRect(control, &box);
      MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&box), 2);
      wchar_t type[32] = {};
      GetClassNameW(control, type, 32);
      const LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE);
      // A check box's text follows its box; a push button leaves room either side.
      int room = box.right - box.left;
      if (lstrcmpiW(type, L"BUTTON") == 0) room -= (style & BS_TYPEMASK) == BS_AUTOCHECKBOX ? Scaled(18) : Scaled(6);
      if ((lstrcmpiW(type, L"BUTTON") == 0 || lstrcmpiW(type, L"STATIC") == 0) && width(control) > 0) {
        EXPECT_LE(width(control), room) << "control " << id << " \"" << WindowText(control) << "\" at " << ScreenDpi() << " DPI";
        EXPECT_GE(box.bottom - box.top, Scaled(13)) << "control " << id;
      }
      boxes.emplace_back(id, box);
    }
    for (std::size_t i = 0; i < boxes.size(); ++i) {
      for (std::size_t j = i + 1; j < boxes.size(); ++j) {
        const int a = boxes[i].first;
        const int b = boxes[j].first;
        if ((a == kCbSelAll && b == kPnlDetected) || (b == kCbSelAll && a == kPnlDetected)) continue;
        RECT both;
        EXPECT_FALSE(IntersectRect(&both, &boxes[i].second, &boxes[j].second)) << "controls " << a << " and " << b;
      }
    }
  }
  ReleaseDC(window_->Handle(), dc);
  RECT client;
  GetClientRect(window_->Handle(), &client);
  EXPECT_EQ(client.right, Scaled(MainWindow::kClientWidth));
  const std::string dpi = std::to_string(ScreenDpi());
  Screenshot(window_->Handle(), ("win32-options-" + dpi + "dpi").c_str());
  window_->ShowPage(WindowPage::Scan);
  window_->Controller().Detections().AddDetection("C:\\windows\\ShellNew\\sempalong.exe", "Brontok-4");
  ListView_SetItemState(window_->Control(kLvFound), 0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  SetFocus(window_->Control(kLvFound));
  Settle();
  Screenshot(window_->Handle(), ("win32-scan-" + dpi + "dpi").c_str());
}

// Hovering over a row shows its whole name when the column cuts it, or the reason an
// action left it pending.
TEST_F(Win32WindowTest, ARowsTipShowsTheWholeNameTheColumnCuts) {
  std::string deep = "C:";
  for (int i = 0; i < 12; ++i) deep += "\\folder" + std::to_string(i);
  deep += "\\worm.exe";
  window_->Controller().Detections().AddDetection("C:\\a.exe", "Brontok-1");
  window_->Controller().Detections().AddDetection(deep, "Brontok-1");
  DetectionListControl& list = window_->List();
  EXPECT_EQ(list.InfoTip(0), "");
  EXPECT_EQ(list.InfoTip(1), deep);
  EXPECT_EQ(list.InfoTip(2), "");
  // As the control asks for it, into the room it gives.
  std::wstring room(8, L'x');
  NMLVGETINFOTIPW ask{};
  ask.hdr.hwndFrom = window_->Control(kLvFound);
  ask.hdr.idFrom = kLvFound;
  ask.hdr.code = LVN_GETINFOTIPW;
  ask.pszText = room.data();
  ask.cchTextMax = static_cast<int>(room.size());
  ask.iItem = 1;
  SendMessageW(window_->Handle(), WM_NOTIFY, kLvFound, reinterpret_cast<LPARAM>(&ask));
  EXPECT_EQ(std::wstring(room.c_str()), win32::Wide(deep.substr(0, 7)));
}

// Enter in the tree scans, an access key presses its button, Escape is "Back" on the
// scan page and "Exit" on the options page; a button disabled under the focus
// hands it on to an enabled control.
TEST_F(Win32WindowTest, TheKeysDriveTheWindowAndTheFocusStaysOnAnEnabledControl) {
  for (int id : {kBtnScan, kBtnCancel, kBtnBack, kBtnClean, kBtnDelete, kBtnCancel2, kChkSubfolders, kChkAllFiles,
                 kChkNewVirus, kChkArchive}) {
    const std::string keyed = Text(id);
    EXPECT_EQ(std::count(keyed.begin(), keyed.end(), '&'), 1) << keyed;
  }
  ASSERT_TRUE(window_->Tree().SelectPath(tree_.Path()));
  SetFocus(window_->Control(kTvLocation));
  Key(WM_KEYDOWN, VK_RETURN);
  EXPECT_TRUE(window_->ScanPageShown());
  ASSERT_TRUE(Pump([this] { return !window_->Controller().ScanRunning(); }));
  EXPECT_EQ(window_->List().RowCount(), 1u);

  // Delete under the focus goes disabled: the focus moves on, within the page.
  window_->SetEnabled(WindowControl::Delete, true);
  SetFocus(window_->Control(kBtnDelete));
  window_->SetEnabled(WindowControl::Delete, false);
  HWND focus = GetFocus();
  ASSERT_NE(focus, nullptr);
  EXPECT_NE(focus, window_->Control(kBtnDelete));
  EXPECT_TRUE(IsWindowEnabled(focus));
  EXPECT_EQ(GetParent(focus), GetParent(window_->Control(kBtnDelete)));

  Key(WM_KEYDOWN, VK_ESCAPE);
  EXPECT_FALSE(window_->ScanPageShown());
  EXPECT_EQ(window_->List().RowCount(), 0u);
  // Alt+U: "Scan s&ubfolders".
  ASSERT_EQ(Button_GetCheck(window_->Control(kChkSubfolders)), BST_CHECKED);
  SetFocus(window_->Control(kTvLocation));
  Key(WM_SYSCHAR, 'u');
  EXPECT_EQ(Button_GetCheck(window_->Control(kChkSubfolders)), BST_UNCHECKED);
  Key(WM_KEYDOWN, VK_ESCAPE);
  EXPECT_TRUE(Pump([this] { return window_->Closed(); }));
}

// A folder's subfolders are read again each time it is opened: one made since
// shows, one removed goes, and the ones still there keep their nodes.
TEST_F(Win32WindowTest, TheFolderTreeReadsAFolderAgainWhenItOpens) {
  tree_.Write("old/keep.txt", "x");
  HWND folders = window_->Control(kTvLocation);
  ASSERT_TRUE(window_->Tree().SelectPath(tree_.Path()));
  HTREEITEM here = TreeView_GetSelection(folders);
  // Opened and closed as the user does, with the keys on the selected node.
  const auto open = [&](bool opened) {
    SendMessageW(folders, WM_KEYDOWN, opened ? VK_ADD : VK_SUBTRACT, 0);
    Settle();
  };
  open(true);
  EXPECT_EQ(ChildNames(folders, here), (std::vector<std::string>{"docs", "old"}));
  HTREEITEM docs = Children(folders, here)["docs"];
  open(false);
  std::filesystem::remove_all(std::filesystem::path(tree_.Path()) / "old");
  std::filesystem::create_directory(std::filesystem::path(tree_.Path()) / "new");
  open(true);
  EXPECT_EQ(ChildNames(folders, here), (std::vector<std::string>{"docs", "new"}));
  EXPECT_EQ(Children(folders, here)["docs"], docs);
  // Emptied: no mark to open it any more.
  std::filesystem::remove_all(std::filesystem::path(tree_.Path()) / "docs");
  std::filesystem::remove_all(std::filesystem::path(tree_.Path()) / "new");
  open(false);
  open(true);
  EXPECT_TRUE(ChildNames(folders, here).empty());
}

TEST_F(Win32WindowTest, AScanListsTheWormFileAndEndsWithTheSummary) {
  ScanTree();
  EXPECT_TRUE(window_->ScanPageShown());
  EXPECT_EQ(Caption(kBtnCancel2), "Stop");
  EXPECT_FALSE(Enabled(kLvFound));
  // Closed to the user, and it looks it.
  EXPECT_EQ(ListView_GetBkColor(window_->Control(kLvFound)), GetSysColor(COLOR_BTNFACE));
  ASSERT_TRUE(Pump([this] { return !window_->Controller().ScanRunning(); }));
  DetectionListControl& list = window_->List();
  ASSERT_EQ(list.RowCount(), 1u);
  EXPECT_EQ(std::filesystem::path(list.CellText(0, 0)).filename(), "worm.exe");
  EXPECT_EQ(list.CellText(0, 1), "Brontok-1");
  EXPECT_EQ(list.CellText(0, 2), "");
  EXPECT_EQ(Text(kLbFileDetCount), "1");
  EXPECT_NE(Text(kLbInfoScan).find(kSummaryEnd), std::string::npos);
  EXPECT_EQ(Text(kLbFileScan), "");
  EXPECT_EQ(Caption(kBtnCancel2), "Exit");
  EXPECT_TRUE(Enabled(kLvFound));
  EXPECT_EQ(ListView_GetBkColor(window_->Control(kLvFound)), GetSysColor(COLOR_WINDOW));
  EXPECT_TRUE(Enabled(kCbSelAll));
  EXPECT_FALSE(Enabled(kBtnClean));
  Mark(0);
  EXPECT_TRUE(Enabled(kBtnClean));
  EXPECT_TRUE(Enabled(kBtnDelete));
  EXPECT_EQ(Button_GetCheck(window_->Control(kCbSelAll)), BST_CHECKED);
  Screenshot(window_->Handle(), "win32-scan");

  Click(kBtnBack);
  EXPECT_FALSE(window_->ScanPageShown());
  EXPECT_EQ(window_->List().RowCount(), 0u);
}

TEST_F(Win32WindowTest, NamesOutsideTheCodePageAndPastMaxPathShowAsTheyAre) {
  // "中文夹" and "Tök.exe", and a worm twelve long folders down from "Ελλάδα".
  const std::string folder = "\xE4\xB8\xAD\xE6\x96\x87\xE5\xA4\xB9";
  const std::string named = tree_.Write(folder + "/T\xC3\xB6k.exe", test::VariantFile(2));
  std::string deep = "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1";
  for (int i = 0; i < 12; ++i) deep += "/folder_with_a_rather_long_name_" + std::to_string(i);
  const std::string deepWorm = tree_.Write(deep + "/deep.exe", test::VariantFile(3));
  ASSERT_GT(deepWorm.size(), 300u);
  // The folder tree reaches the folder by its name and gives it back whole.
  ASSERT_TRUE(window_->Tree().SelectPath(tree_.Path(folder)));
  EXPECT_EQ(window_->SelectedLocation(), tree_.Path(folder));
  ScanTree();
  ASSERT_TRUE(Pump([this] { return !window_->Controller().ScanRunning(); }));
  std::vector<std::string> rows;
  for (std::size_t row = 0; row < window_->List().RowCount(); ++row) rows.push_back(window_->List().CellText(row, 0));
  std::sort(rows.begin(), rows.end());
  std::vector<std::string> expected{named, deepWorm, tree_.Path("worm.exe")};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(rows, expected);
  // Wide enough for the screenshot to show the names past the temporary folder.
  ListView_SetColumnWidth(window_->Control(kLvFound), 0, LVSCW_AUTOSIZE);
  ListView_Scroll(window_->Control(kLvFound), static_cast<int>(tree_.Path().size()) * 5, 0);
  Settle();
  Screenshot(window_->Handle(), "win32-names");
}

TEST_F(Win32WindowTest, StopAndYesEndTheWalkWithTheCountsReached) {
  const auto asked = MainWindow::QuestionsAsked().size();
  ScanTree();
  window_->Controller().WaitForWork();
  // The walk cannot end before the window takes its messages again.
  ASSERT_TRUE(window_->Controller().ScanBusy());
  MainWindow::SetNextAnswer(true);
  Click(kBtnCancel2);
  EXPECT_FALSE(window_->Controller().ScanBusy());
  ASSERT_EQ(MainWindow::QuestionsAsked().size(), asked + 1);
  EXPECT_EQ(MainWindow::QuestionsAsked().back(), "Scanning is under process, would you want to stop?");
  EXPECT_EQ(Text(kLbFileScan), "Scan stopped by user.");
  EXPECT_NE(Text(kLbInfoScan).find(kSummaryEnd), std::string::npos);
  EXPECT_EQ(Caption(kBtnCancel2), "Exit");
  EXPECT_TRUE(Enabled(kLvFound));
  Settle();
  Screenshot(window_->Handle(), "win32-stopped");

  // "Exit" now closes the window without a question.
  Click(kBtnCancel2);
  EXPECT_TRUE(Pump([this] { return window_->Closed(); }));
  EXPECT_EQ(MainWindow::QuestionsAsked().size(), asked + 1);
}

TEST_F(Win32WindowTest, CleanAndDeleteHandleTheirRows) {
  if (std::getenv("KORBU_WINDOWS_DAMAGE_TESTS") == nullptr) {
    GTEST_SKIP() << "the repair changes this Wine prefix: set KORBU_WINDOWS_DAMAGE_TESTS in a fresh one";
  }
  const std::string second = tree_.Write("docs/worm2.exe", test::VariantFile(2));
  ScanTree();
  ASSERT_TRUE(Pump([this] { return !window_->Controller().ScanRunning(); }));
  DetectionListControl& list = window_->List();
  ASSERT_EQ(list.RowCount(), 2u);
  Mark(0);
  Act(kBtnClean);
  EXPECT_EQ(list.CellText(0, 2), "This object was cleaned!");
  EXPECT_FALSE(list.Checked(0));
  EXPECT_FALSE(std::filesystem::exists(tree_.Path("worm.exe")));
  EXPECT_FALSE(Enabled(kBtnClean));
  Mark(1);
  Act(kBtnDelete);
  EXPECT_EQ(list.CellText(1, 2), "This object was deleted!");
  EXPECT_FALSE(std::filesystem::exists(second));
  // Nothing is left to act on.
  EXPECT_FALSE(Enabled(kCbSelAll));
  EXPECT_EQ(Button_GetCheck(window_->Control(kCbSelAll)), BST_UNCHECKED);
  EXPECT_FALSE(Enabled(kBtnDelete));
  Settle();
  Screenshot(window_->Handle(), "win32-actions");
}

TEST_F(Win32WindowTest, TheHistoryListsADeleteAndRestoresItAfterTheQuestion) {
  EXPECT_EQ(Caption(kBtnHistory), "History");
  EXPECT_TRUE(Enabled(kBtnHistory));
  const std::string file = tree_.Write("deleted/eicar.com", "the deleted file");
  const std::string actions = tree_.Path("data/actions");
  {
    DetectionList rows;
    rows.AddDetection(file, "Eicar-Test-Signature");
    rows.SetChecked(0, true);
    JournalSink sink("delete", rows, actions);
    const auto folder = platform::Folder::Open(tree_.Path("deleted"));
    ASSERT_TRUE(folder);
    ASSERT_TRUE(sink.DeleteFile(*folder, "eicar.com"));
  }
  ASSERT_FALSE(std::filesystem::exists(file));

  HistoryWindow history(window_->Handle(), actions);
  HWND list = history.Control(HistoryWindow::kLbHistory);
  ASSERT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), 1);
  EXPECT_NE(WindowText(history.Control(HistoryWindow::kMemDetails)).find("Removed to the quarantine: " + file),
            std::string::npos);
  HWND restore = history.Control(HistoryWindow::kBtnRestore);
  ASSERT_TRUE(IsWindowEnabled(restore));
  Settle();
  Screenshot(history.Handle(), "win32-history");

  HistoryWindow::SetNextAnswer(false);
  SendMessageW(restore, BM_CLICK, 0, 0);
  EXPECT_FALSE(std::filesystem::exists(file));
  HistoryWindow::SetNextAnswer(true);
  SendMessageW(restore, BM_CLICK, 0, 0);
  EXPECT_EQ(test::ReadFileBytes(file), "the deleted file");
  EXPECT_EQ(WindowText(history.Control(HistoryWindow::kLbOutcome)),
            "Restored: everything the action changed is as it was before.");
  EXPECT_FALSE(IsWindowEnabled(restore));
  EXPECT_NE(WindowText(history.Control(HistoryWindow::kMemDetails)).find("Already restored on "), std::string::npos);
  Settle();
  Screenshot(history.Handle(), "win32-history-restored");
  SendMessageW(history.Control(HistoryWindow::kBtnClose), BM_CLICK, 0, 0);
  EXPECT_TRUE(Pump([&] { return history.Closed(); }));
}

// An item dragged from Explorer and dropped on the window, as the shell hands it over.
void DropOn(HWND window, const std::string& path) {
  const std::wstring name = win32::Wide(path);
  const SIZE_T bytes = sizeof(DROPFILES) + (name.size() + 2) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GHND, bytes);
  auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  std::copy(name.begin(), name.end(), reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(drop) + sizeof(DROPFILES)));
  GlobalUnlock(memory);
  SendMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);  // the window frees it
}

TEST_F(Win32WindowTest, ADroppedFileIsScannedAloneAndWhatIsLeftOutIsSaid) {
  tree_.Write("big.zip", std::string(kWalkSizeLimit + 1, 'b'));
  DropOn(window_->Handle(), tree_.Path("worm.exe"));
  EXPECT_EQ(std::filesystem::path(window_->Tree().SelectedPath()), std::filesystem::path(tree_.Path()));
  EXPECT_NE(window_->TipOf(kBtnScan).find("worm.exe"), std::string::npos) << window_->TipOf(kBtnScan);
  Click(kBtnScan);
  ASSERT_TRUE(Pump([this] { return !window_->Controller().ScanRunning(); }));
  ASSERT_EQ(window_->List().RowCount(), 1u);
  EXPECT_EQ(Text(kLbInfoScan), "1 file(s) and 0 Folder(s) scanned. Scan is finished...");
  Click(kBtnBack);

  // A folder dropped: walked, and the file over the size limit is counted and named.
  DropOn(window_->Handle(), tree_.Path());
  EXPECT_EQ(window_->TipOf(kBtnScan), "");
  Click(kBtnScan);
  ASSERT_TRUE(Pump([this] { return !window_->Controller().ScanRunning(); }));
  EXPECT_EQ(window_->List().RowCount(), 1u);
  EXPECT_EQ(Text(kLbInfoScan), "2 file(s) and 2 Folder(s) scanned. Scan is finished... 1 file(s) left out.");
  EXPECT_NE(window_->TipOf(kLbInfoScan).find("big.zip: over the size limit of 100 KiB"), std::string::npos)
      << window_->TipOf(kLbInfoScan);
  Settle();
  Screenshot(window_->Handle(), "win32-left-out");
}

TEST(ShellMenu, RegistersTheEntryForFilesAndFoldersOfTheUserAndRemovesIt) {
  // A key of this test's own, not the user's classes.
  const std::wstring root = L"Software\\KorbuShellMenuTest-" + std::to_wstring(GetCurrentProcessId());
  const std::wstring classes = root + L"\\Classes";
  const std::wstring program = L"C:\\Program Files\\KORBU \x4E2D\\korbu.exe";
  ASSERT_TRUE(RegisterShellMenu(program, classes));
  const auto read = [&](const std::wstring& key) {
    wchar_t text[512] = {};
    DWORD size = sizeof text;
    const LSTATUS got = RegGetValueW(HKEY_CURRENT_USER, (classes + key).c_str(), nullptr, RRF_RT_REG_SZ, nullptr, text, &size);
    return got == ERROR_SUCCESS ? std::wstring(text) : std::wstring(L"<none>");
  };
  for (const wchar_t* kind : {L"\\*", L"\\Directory"}) {
    const std::wstring verb = std::wstring(kind) + L"\\shell\\KORBU";
    EXPECT_EQ(read(verb), L"Scan with KORBU");
    EXPECT_EQ(read(verb + L"\\command"), L"\"" + program + L"\" \"%1\"");
  }
  EXPECT_FALSE(RegisterShellMenu(L"C:\\a\" & calc.exe \"", classes));  // would run another program
  ASSERT_TRUE(UnregisterShellMenu(classes));
  EXPECT_EQ(read(L"\\*\\shell\\KORBU"), L"<none>");
  EXPECT_EQ(read(L"\\Directory\\shell\\KORBU\\command"), L"<none>");
  EXPECT_TRUE(UnregisterShellMenu(classes));  // nothing left: still done
  RegDeleteTreeW(HKEY_CURRENT_USER, root.c_str());
}

// A window that counts the key presses it is given.
int gKeys = 0;
LRESULT CALLBACK CountKeys(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_KEYDOWN) ++gKeys;
  return DefWindowProcA(window, message, wParam, lParam);
}

TEST(Win32Dispatcher, TheWaitRunsHandOversInOrderDropsInputAndEndsOnQuit) {
  Win32Dispatcher dispatcher;
  std::vector<int> order;
  bool stop = false;
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i) dispatcher.RunOnMainThread([&order, i] { order.push_back(i); });
    dispatcher.RunOnMainThread([&stop] { stop = true; });
  });
  dispatcher.WaitWithMessages([&] { return stop; });
  worker.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));

  WNDCLASSA type{};
  type.lpfnWndProc = CountKeys;
  type.hInstance = GetModuleHandleA(nullptr);
  type.lpszClassName = "KorbuKeyCounter";
  RegisterClassA(&type);
  HWND window = CreateWindowExA(0, type.lpszClassName, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                type.hInstance, nullptr);
  PostMessageA(window, WM_KEYDOWN, 'A', 0);
  PostQuitMessage(0);
  dispatcher.WaitWithMessages([] { return false; });  // returns only through the quit
  EXPECT_TRUE(dispatcher.QuitSeen());
  EXPECT_EQ(gKeys, 0);
  DestroyWindow(window);
}

}  // namespace
}  // namespace korbu::win32app
