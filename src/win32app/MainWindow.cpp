#include "win32app/MainWindow.h"

#include <optional>
#include <stdexcept>

#include "ui/AccessKeys.h"
#include "ui/StartLocation.h"
#include "win32app/Controls.h"
#include "win32app/HistoryWindow.h"
#include "win32app/Pictures.h"

namespace korbu::win32app {
namespace {

constexpr int kHeaderHeight = 81;
const wchar_t* const kMainClass = L"TMainForm";
const wchar_t* const kApplicationClass = L"TApplication";
const wchar_t* const kApplicationTitle = L"Selvo Antivirus";
const char* const kNoWindow = "The main window cannot be created: is there a display?";

std::optional<bool> gNextAnswer;
bool gRecordMessages = false;
std::vector<std::string> gQuestions;
std::vector<std::string> gMessages;

int LabelId(WindowLabel label) {
  switch (label) {
    case WindowLabel::Build: return kLbBuild;
    case WindowLabel::EngineVersion: return kLbEngineVer;
    case WindowLabel::Signatures: return kLbVirSign;
    case WindowLabel::CvdVersion: return kLbCVDVer;
    case WindowLabel::CvdDateMain: return kLbCVDDateMain;
    case WindowLabel::CvdDateDaily: return kLbCVDDateDaily;
    case WindowLabel::FileScan: return kLbFileScan;
    case WindowLabel::DetectedCount: return kLbFileDetCount;
    case WindowLabel::InfoScan: return kLbInfoScan;
    case WindowLabel::SplashStatus: break;
  }
  return 0;
}

int ControlIdOf(WindowControl control) {
  switch (control) {
    case WindowControl::List: return kLvFound;
    case WindowControl::SelectAll: return kCbSelAll;
    case WindowControl::Back: return kBtnBack;
    case WindowControl::Clean: return kBtnClean;
    case WindowControl::Delete: return kBtnDelete;
    case WindowControl::Stop: return kBtnCancel2;
    case WindowControl::OptionsPage: break;
  }
  return 0;
}

int OptionId(ScanOption option) {
  switch (option) {
    case ScanOption::Subfolders: return kChkSubfolders;
    case ScanOption::AllFiles: return kChkAllFiles;
    case ScanOption::NewVirus: return kChkNewVirus;
    case ScanOption::Archive: return kChkArchive;
  }
  return 0;
}

}  // namespace

MainWindow::MainWindow(Win32Dispatcher& dispatcher, std::unique_ptr<EngineStartup> engine)
    : dispatcher_(dispatcher), engine_(std::move(engine)) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  RegisterWindowClass(kApplicationClass, DefWindowProcW);
  RegisterWindowClass(kMainClass, Proc);
  // The application's own window: it carries the title, never shows.
  appWindow_ = CreateWindowExW(0, kApplicationClass, kApplicationTitle, WS_POPUP, 0, 0, 0, 0,
                               nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  // Without a window nothing would ever start the engine steps or end the program.
  if (appWindow_ == nullptr) throw std::runtime_error(kNoWindow);

  // Shown and painted before the main window exists.
  splash_ = std::make_unique<SplashWindow>(appWindow_);
  ShowWindow(splash_->Handle(), SW_SHOWNOACTIVATE);
  UpdateWindow(splash_->Handle());
  splashHistory_.push_back(splash_->Status());

  header_ = LoadPicture(kHeaderPicture);
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  RECT frame{0, 0, Scaled(kClientWidth), Scaled(kClientHeight)};
  AdjustWindowRectEx(&frame, style, FALSE, WS_EX_APPWINDOW);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  window_ = CreateWindowExW(WS_EX_APPWINDOW | WS_EX_CONTROLPARENT, kMainClass, L"KORBU", style,
                            (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                            (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, appWindow_,
                            nullptr, GetModuleHandleW(nullptr), this);
  if (window_ == nullptr) {
    splash_.reset();
    DestroyWindow(appWindow_);
    if (header_ != nullptr) DeleteObject(header_);
    throw std::runtime_error(kNoWindow);
  }
  tips_ = std::make_unique<ToolTips>(window_);
  sheetUtama_ = MakePage(window_, 0, kHeaderHeight, kClientWidth, kClientHeight - kHeaderHeight);
  sheetScan_ = MakePage(window_, 0, kHeaderHeight, kClientWidth, kClientHeight - kHeaderHeight);
  BuildOptionsPage();
  BuildScanPage();
  controller_ = std::make_unique<WindowController>(*this, dispatcher_, std::move(engine_));
  list_->OnItemChecked = [this](std::size_t row, bool checked) { controller_->LvFoundItemChecked(row, checked); };
  controller_->FormCreate();

  // A folder or file dragged from Explorer selects its folder in the tree.
  DragAcceptFiles(window_, TRUE);
  ShowWindow(window_, SW_SHOW);
  UpdateWindow(window_);
  // The splash stays above the main window while the engine loads.
  if (splash_) SetWindowPos(splash_->Handle(), HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  // Start-up also runs when the window is never activated.
  PostMessageW(window_, kStartUp, 0, 0);
}

MainWindow::~MainWindow() {
  controller_.reset();  // a walk still running ends while the controls exist
  splash_.reset();
  if (window_ != nullptr) DestroyWindow(window_);
  if (appWindow_ != nullptr) DestroyWindow(appWindow_);
  if (header_ != nullptr) DeleteObject(header_);
}

HWND MainWindow::Control(int id) const {
  if (HWND found = GetDlgItem(sheetUtama_, id)) return found;
  return GetDlgItem(sheetScan_, id);
}

bool MainWindow::ScanPageShown() const { return IsWindowVisible(sheetScan_) != FALSE; }

void MainWindow::SetNextAnswer(bool yes) { gNextAnswer = yes; }
void MainWindow::RecordMessages(bool record) { gRecordMessages = record; }
const std::vector<std::string>& MainWindow::QuestionsAsked() { return gQuestions; }
const std::vector<std::string>& MainWindow::MessagesShown() { return gMessages; }

LRESULT CALLBACK MainWindow::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return RouteToObject(window, message, wParam, lParam, &MainWindow::window_, &MainWindow::OnMessage);
}

LRESULT MainWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      Paint();
      return 0;
    case WM_DPICHANGED:
      // Laid out once for the system's DPI: on a monitor of another one the window
      // keeps its size and layout, whole, rather than taking a size it has no layout for.
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE && controller_ && !controller_->StartupFinished()) {
        // After the activation: start-up destroys a window the system is still
        // going through.
        PostMessageW(window_, kStartUp, 0, 0);
      }
      break;
    case kStartUp:
      if (controller_) controller_->FormActivate();
      return 0;
    case kListClicked:
      if (controller_) controller_->lvFoundClick();
      return 0;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) Command(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      LRESULT result = 0;
      if (tree_ && tree_->Notify(*header, result)) return result;
      if (list_ && list_->Notify(*header, result)) return result;
      break;
    }
    case WM_DRAWITEM:
      DrawBar(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetBkColor(dc, RGB(255, 255, 255));
      if (GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) == kLbScan) SetTextColor(dc, kNavy);
      return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    }
    case WM_SETCURSOR:
      // Asked by the pages for their controls too, before those set their own.
      if (busy_) {
        SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
        return TRUE;
      }
      if (reinterpret_cast<HWND>(wParam) != window_) return FALSE;
      break;
    case WM_DROPFILES:
      Drop(reinterpret_cast<HDROP>(wParam));
      return 0;
    case WM_CLOSE:
      if (!controller_ || controller_->CloseQuery()) DestroyWindow(window_);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

// The first item dropped, while the options page is open to the user: its folder
// is selected, and a file is what "Scan" then judges alone.
void MainWindow::Drop(HDROP drop) {
  std::wstring name;
  if (DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) > 0) {
    name.resize(DragQueryFileW(drop, 0, nullptr, 0) + 1);
    name.resize(DragQueryFileW(drop, 0, name.data(), static_cast<UINT>(name.size())));
  }
  DragFinish(drop);
  if (name.empty() || !controller_ || ScanPageShown() || !IsWindowEnabled(sheetUtama_)) return;
  const std::string path = win32::Utf8(name);
  const std::string folder = FolderToSelect(path);
  if (folder.empty() || !tree_->SelectPath(folder)) return;
  controller_->SetFileTarget(FileToScan(path));
  SetFocus(tree_->Handle());
}

void MainWindow::Paint() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window_, &paint);
  DrawPicture(dc, header_, 0, 0);
  EndPaint(window_, &paint);
}

// A key presses a button only as a click could: on the page shown, while enabled.
bool MainWindow::Pressable(int id) const {
  HWND button = Control(id);
  return button != nullptr && IsWindowVisible(button) && IsWindowEnabled(button) &&
         IsWindowEnabled(GetParent(button));
}

void MainWindow::Command(int id, int /*code*/) {
  if (!controller_) return;
  // Escape (from the dialog keys) is "Back" on the scan page and "Exit" on the
  // options page; Enter in the folder tree is "Scan".
  if (id == IDCANCEL) {
    id = ScanPageShown() ? kBtnBack : kBtnCancel;
    if (!Pressable(id)) return;
  } else if (id == IDOK) {
    if (GetFocus() != tree_->Handle() || !Pressable(kBtnScan)) return;
    id = kBtnScan;
  }
  switch (id) {
    case kBtnScan: controller_->btnScanClick(); break;
    case kBtnCancel: controller_->btnCancelClick(); break;
    case kBtnHistory: HistoryWindow::ShowModal(window_); break;
    case kBtnCancel2: controller_->btnCancel2Click(); break;
    case kBtnBack: controller_->btnBackClick(); break;
    case kBtnClean: controller_->btnCleanClick(); break;
    case kBtnDelete: controller_->btnDeleteClick(); break;
    case kCbSelAll:
      controller_->cbSelAllClick(Button_GetCheck(Control(kCbSelAll)) == BST_CHECKED);
      break;
    default: break;
  }
}

// ---- WindowView ----

void MainWindow::SetText(WindowLabel label, const std::string& text) {
  if (label == WindowLabel::SplashStatus) {
    splashHistory_.push_back(text);
    if (splash_) splash_->SetStatus(text);
    return;
  }
  HWND control = Control(LabelId(label));
  if (control == nullptr) return;
  SetWindowTextW(control, win32::Wide(text).c_str());
  // A path cut by the label's ellipsis shows whole in its tip.
  if (label == WindowLabel::FileScan) tips_->Set(control, TextFits(control, text) ? std::string() : text);
}

void MainWindow::SetTip(WindowLabel label, const std::string& tip) {
  tips_->Set(Control(LabelId(label)), tip);
}

std::string MainWindow::TipOf(int id) const { return tips_->Get(Control(id)); }

void MainWindow::SetEnabled(WindowControl control, bool enabled) {
  HWND target = control == WindowControl::OptionsPage ? sheetUtama_
                : control == WindowControl::List      ? list_->Handle()
                                                      : Control(ControlIdOf(control));
  if (target == nullptr) return;
  if (!enabled) KeepFocusFrom(target);
  if (control == WindowControl::List) {
    list_->SetEnabled(enabled);
  } else {
    EnableWindow(target, enabled ? TRUE : FALSE);
  }
}

void MainWindow::KeepFocusFrom(HWND control) {
  HWND focus = GetFocus();
  if (focus == nullptr || (focus != control && IsChild(control, focus) == FALSE)) return;
  // A disabled control loses the focus to nothing, and the keys then reach no
  // control: it goes on to the page's next one that takes it.
  HWND page = GetParent(control);
  HWND next = page != nullptr && page != window_ ? GetNextDlgTabItem(page, control, FALSE) : nullptr;
  SetFocus(next != nullptr && next != control ? next : window_);
}

void MainWindow::SetStopCaption(const std::string& caption) {
  SetWindowTextW(Control(kBtnCancel2), win32::Wide(WithAccessKey(caption)).c_str());
}

void MainWindow::ShowPage(WindowPage page) {
  const bool scan = page == WindowPage::Scan;
  ShowWindow(scan ? sheetScan_ : sheetUtama_, SW_SHOW);
  ShowWindow(scan ? sheetUtama_ : sheetScan_, SW_HIDE);
}

void MainWindow::FocusScan() { SetFocus(Control(kBtnScan)); }

void MainWindow::SetScanTip(const std::string& tip) { tips_->Set(Control(kBtnScan), tip); }

void MainWindow::SetOption(ScanOption option, bool checked) {
  Button_SetCheck(Control(OptionId(option)), checked ? BST_CHECKED : BST_UNCHECKED);
}

bool MainWindow::OptionChecked(ScanOption option) const {
  return Button_GetCheck(Control(OptionId(option))) == BST_CHECKED;
}

std::string MainWindow::SelectedLocation() const { return tree_->SelectedPath(); }

void MainWindow::SetSelectAllChecked(bool checked) {
  Button_SetCheck(Control(kCbSelAll), checked ? BST_CHECKED : BST_UNCHECKED);
}

void MainWindow::ShowRow(std::size_t index, const DetectionRow& row, const std::string& tip) {
  list_->ShowRow(index, row, tip);
}

void MainWindow::ClearRows() { list_->Clear(); }

bool MainWindow::AskConfirm(const std::string& question) {
  gQuestions.push_back(question);
  if (gNextAnswer) {
    const bool answer = *gNextAnswer;
    gNextAnswer.reset();
    return answer;
  }
  return MessageBoxW(window_, win32::Wide(question).c_str(), L"Confirm", MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void MainWindow::ShowMessage(const std::string& text) {
  gMessages.push_back(text);
  if (gRecordMessages) return;
  MessageBoxW(window_, win32::Wide(text).c_str(), kApplicationTitle, MB_OK | MB_ICONERROR);
}

void MainWindow::ProcessPendingMessages() { dispatcher_.ProcessPendingMessages(); }

void MainWindow::ShowBusy(bool busy) {
  busy_ = busy;
  // At once where the pointer rests, not only once it moves.
  POINT where;
  if (GetCursorPos(&where) && window_ != nullptr) {
    HWND under = WindowFromPoint(where);
    if (under != nullptr && (under == window_ || IsChild(window_, under))) {
      SendMessageW(under, WM_SETCURSOR, reinterpret_cast<WPARAM>(under), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    }
  }
}

void MainWindow::HideSplash() {
  if (!splash_) return;
  ShowWindow(splash_->Handle(), SW_HIDE);
  splash_.reset();
}

void MainWindow::CloseWindow() {
  if (window_ != nullptr) PostMessageW(window_, WM_CLOSE, 0, 0);
}

}  // namespace korbu::win32app
