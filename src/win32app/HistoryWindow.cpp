#include "win32app/HistoryWindow.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

#include "win32app/Controls.h"

namespace korbu::win32app {
namespace {

const wchar_t* const kHistoryClass = L"KorbuHistory";
constexpr int kMargin = 8;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;

std::optional<bool> gNextAnswer;

// The edit control breaks lines at "\r\n" only.
std::wstring EditText(const std::string& text) {
  std::string lines;
  for (char c : text) {
    if (c == '\n') lines += '\r';
    lines += c;
  }
  return win32::Wide(lines);
}

HWND MakeBox(HWND parent, const wchar_t* type, int id, DWORD style, int x, int y, int width, int height) {
  HWND box = CreateWindowExW(WS_EX_CLIENTEDGE, type, L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, Scaled(x),
                             Scaled(y), Scaled(width), Scaled(height), parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  SendMessageW(box, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont(false)), FALSE);
  return box;
}

}  // namespace

HistoryWindow::HistoryWindow(HWND owner, std::string actionsFolder) : owner_(owner), model_(std::move(actionsFolder)) {
  RegisterWindowClass(kHistoryClass, Proc);
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
  RECT frame{0, 0, Scaled(kClientWidth), Scaled(kClientHeight)};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  RECT over{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  if (owner != nullptr) GetWindowRect(owner, &over);
  const int left = std::max(0, static_cast<int>(over.left + (over.right - over.left - width) / 2));
  const int top = std::max(0, static_cast<int>(over.top + (over.bottom - over.top - height) / 2));
  window_ = CreateWindowExW(exStyle, kHistoryClass, win32::Wide(kHistoryTitle).c_str(), style, left, top, width,
                            height, owner, nullptr, GetModuleHandleW(nullptr), this);
  if (window_ == nullptr) throw std::runtime_error("The history window cannot be created.");

  const int inner = kClientWidth - 2 * kMargin;
  MakeBox(window_, L"LISTBOX", kLbHistory, LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_HSCROLL, kMargin,
          kMargin, inner, 130);
  MakeBox(window_, L"EDIT", kMemDetails,
          ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL | ES_AUTOVSCROLL | WS_VSCROLL | WS_HSCROLL, kMargin, 146, inner,
          180);
  MakeLabel(window_, kLbOutcome, "", kMargin, 332, inner, 48);
  const int buttonsTop = kClientHeight - kMargin - kButtonHeight;
  MakeButton(window_, kBtnRestore, kRestoreCaption, kClientWidth - kMargin - 2 * kButtonWidth - 8, buttonsTop,
             kButtonWidth, kButtonHeight);
  MakeButton(window_, kBtnClose, kCloseCaption, kClientWidth - kMargin - kButtonWidth, buttonsTop, kButtonWidth,
             kButtonHeight);
  Fill(std::string());
  ShowWindow(window_, SW_SHOW);
  SetFocus(Control(kLbHistory));
}

HistoryWindow::~HistoryWindow() {
  if (window_ != nullptr) DestroyWindow(window_);
}

void HistoryWindow::SetNextAnswer(bool yes) { gNextAnswer = yes; }

void HistoryWindow::ShowModal(HWND owner) {
  HistoryWindow history(owner);
  if (owner != nullptr) EnableWindow(owner, FALSE);
  MSG message;
  bool quit = false;
  while (!history.Closed()) {
    if (GetMessageW(&message, nullptr, 0, 0) <= 0) {
      quit = true;
      break;
    }
    if (!IsDialogMessageW(history.Handle(), &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  if (owner != nullptr) {
    EnableWindow(owner, TRUE);
    SetActiveWindow(owner);
  }
  // The program's own loop ends on the quit this one took.
  if (quit) PostQuitMessage(static_cast<int>(message.wParam));
}

LRESULT CALLBACK HistoryWindow::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return RouteToObject(window, message, wParam, lParam, &HistoryWindow::window_, &HistoryWindow::OnMessage);
}

LRESULT HistoryWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (id == kLbHistory && HIWORD(wParam) == LBN_SELCHANGE) {
        ShowSelected();
      } else if (id == kBtnRestore && HIWORD(wParam) == BN_CLICKED) {
        RestoreSelected();
      } else if (id == kBtnClose || id == IDCANCEL) {
        PostMessageW(window_, WM_CLOSE, 0, 0);
      }
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetBkColor(dc, RGB(255, 255, 255));
      return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    }
    case WM_CLOSE:
      // The owner takes input again before this window goes, so that it gets the activation.
      if (owner_ != nullptr) EnableWindow(owner_, TRUE);
      DestroyWindow(window_);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

void HistoryWindow::Fill(const std::string& keepId) {
  const std::string error = model_.Reload();
  HWND list = Control(kLbHistory);
  SendMessageW(list, LB_RESETCONTENT, 0, 0);
  int current = model_.Entries().empty() ? -1 : 0;
  int widest = 0;
  HDC dc = GetDC(list);
  HGDIOBJ old = SelectObject(dc, WindowFont(false));
  const auto add = [&](const std::string& text) {
    const std::wstring line = win32::Wide(text);
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    SIZE size{};
    GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &size);
    widest = std::max(widest, static_cast<int>(size.cx));
  };
  for (std::size_t i = 0; i < model_.Entries().size(); ++i) {
    add(model_.Entries()[i].title);
    if (model_.Entries()[i].id == keepId) current = static_cast<int>(i);
  }
  if (model_.Entries().empty()) add(error.empty() ? HistoryModel::EmptyText() : error);
  SelectObject(dc, old);
  ReleaseDC(list, dc);
  // Long titles scroll sideways rather than being cut.
  SendMessageW(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest + Scaled(8)), 0);
  SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(current), 0);
  ShowSelected();
}

int HistoryWindow::Selected() const {
  const auto index = static_cast<int>(SendMessageW(Control(kLbHistory), LB_GETCURSEL, 0, 0));
  return index >= 0 && static_cast<std::size_t>(index) < model_.Entries().size() ? index : -1;
}

void HistoryWindow::Select(int index) {
  SendMessageW(Control(kLbHistory), LB_SETCURSEL, static_cast<WPARAM>(index), 0);
  ShowSelected();
}

void HistoryWindow::ShowSelected() {
  const int index = Selected();
  const std::string details = index < 0 ? std::string() : model_.Details(static_cast<std::size_t>(index));
  SetWindowTextW(Control(kMemDetails), EditText(details).c_str());
  const bool restorable = index >= 0 && model_.Entries()[static_cast<std::size_t>(index)].restorable;
  EnableWindow(Control(kBtnRestore), restorable ? TRUE : FALSE);
}

void HistoryWindow::RestoreSelected() {
  const int index = Selected();
  if (index < 0 || !model_.Entries()[static_cast<std::size_t>(index)].restorable) return;
  bool yes = false;
  if (gNextAnswer) {
    yes = *gNextAnswer;
    gNextAnswer.reset();
  } else {
    yes = MessageBoxW(window_, win32::Wide(kRestoreQuestion).c_str(), L"Confirm", MB_YESNO | MB_ICONQUESTION) == IDYES;
  }
  if (!yes) return;
  const std::string id = model_.Entries()[static_cast<std::size_t>(index)].id;
  HCURSOR before = SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
  const std::string told = model_.Restore(static_cast<std::size_t>(index));
  SetCursor(before);
  SetWindowTextW(Control(kLbOutcome), win32::Wide(told).c_str());
  Fill(id);
}

}  // namespace korbu::win32app
