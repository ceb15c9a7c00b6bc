#pragma once
// The program's main window in Win32: the header picture over two pages that only
// the program switches. It shows what WindowController decides and hands it the
// user's doing.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/EngineStartup.h"
#include "ui/WindowController.h"
#include "ui/WindowView.h"
#include "win32app/DetectionListControl.h"
#include "win32app/FolderTree.h"
#include "win32app/SplashWindow.h"
#include "win32app/ToolTips.h"
#include "win32app/Win32Api.h"
#include "win32app/Win32Dispatcher.h"

namespace korbu::win32app {

/// Control ids, for the window's handlers and for tests.
enum ControlId : int {
  kPnlLocation = 100, kTvLocation, kPnlOptions, kChkSubfolders, kChkAllFiles, kLabel1,
  kChkNewVirus, kLabel2, kChkArchive, kLabel8, kPnlInfo, kLabel3, kLbBuild, kLabel4, kLbEngineVer,
  kLabel5, kLbVirSign, kLabel6, kLbCVDVer, kLabel7, kLbCVDDateMain, kLbCVDDateDaily, kLbScan,
  kBtnScan, kBtnCancel, kBtnHistory,
  kPnlStatus = 200, kLbFileScaned, kLbFileScan, kLbFileDetected, kLbFileDetCount, kLbInfo,
  kLbInfoScan, kPnlDetected, kCbSelAll, kLvFound, kBtnBack, kBtnClean, kBtnDelete, kBtnCancel2,
};

class MainWindow final : public WindowView {
 public:
  static constexpr int kClientWidth = 658;
  static constexpr int kClientHeight = 454;

  /// Shows the splash window, then builds the main window (options page shown,
  /// disabled) and shows it. The dispatcher outlives the window. Throws
  /// std::runtime_error when the windows cannot be created (no display).
  MainWindow(Win32Dispatcher& dispatcher, std::unique_ptr<EngineStartup> engine);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  HWND Handle() const { return window_; }
  /// The control of that id on either page; null when there is none.
  HWND Control(int id) const;
  WindowController& Controller() { return *controller_; }
  FolderTree& Tree() { return *tree_; }
  DetectionListControl& List() { return *list_; }
  /// True once the main window is gone (closed by the user or the program).
  bool Closed() const { return window_ == nullptr; }
  /// Every status text the splash window showed, in order.
  const std::vector<std::string>& SplashHistory() const { return splashHistory_; }
  bool ScanPageShown() const;
  /// The tool tip the control of that id carries now, empty for none.
  std::string TipOf(int id) const;

  /// For tests: the answer to the next question instead of a box, and the texts of
  /// message boxes recorded instead of shown.
  static void SetNextAnswer(bool yes);
  static void RecordMessages(bool record);
  static const std::vector<std::string>& QuestionsAsked();
  static const std::vector<std::string>& MessagesShown();

  // WindowView
  void SetText(WindowLabel label, const std::string& text) override;
  void SetTip(WindowLabel label, const std::string& tip) override;
  void SetEnabled(WindowControl control, bool enabled) override;
  void SetStopCaption(const std::string& caption) override;
  void ShowPage(WindowPage page) override;
  void FocusScan() override;
  void SetScanTip(const std::string& tip) override;
  void SetOption(ScanOption option, bool checked) override;
  bool OptionChecked(ScanOption option) const override;
  std::string SelectedLocation() const override;
  void SetSelectAllChecked(bool checked) override;
  void ShowRow(std::size_t index, const DetectionRow& row, const std::string& tip) override;
  void ClearRows() override;
  bool AskConfirm(const std::string& question) override;
  void ShowMessage(const std::string& text) override;
  void ProcessPendingMessages() override;
  void ShowBusy(bool busy) override;
  void HideSplash() override;
  void CloseWindow() override;

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void BuildOptionsPage();
  void BuildScanPage();
  void Command(int id, int code);
  bool Pressable(int id) const;
  void KeepFocusFrom(HWND control);
  void Drop(HDROP drop);
  void Paint();

  Win32Dispatcher& dispatcher_;
  std::unique_ptr<EngineStartup> engine_;
  HWND appWindow_ = nullptr;  // the task bar's "Selvo Antivirus"
  HWND window_ = nullptr;
  HWND sheetUtama_ = nullptr;
  HWND sheetScan_ = nullptr;
  HBITMAP header_ = nullptr;
  std::unique_ptr<SplashWindow> splash_;
  std::unique_ptr<ToolTips> tips_;
  std::vector<std::string> splashHistory_;
  std::unique_ptr<FolderTree> tree_;
  std::unique_ptr<DetectionListControl> list_;
  bool busy_ = false;
  std::unique_ptr<WindowController> controller_;
};

}  // namespace korbu::win32app
