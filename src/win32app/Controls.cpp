#include "win32app/Controls.h"

#include <memory>

#include "ui/AccessKeys.h"

namespace korbu::win32app {
namespace {

const wchar_t* const kPageClass = L"KorbuPage";

std::vector<RECT>* Frames(HWND page) {
  return reinterpret_cast<std::vector<RECT>*>(GetWindowLongPtrW(page, GWLP_USERDATA));
}

LRESULT CALLBACK PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_APP && message <= 0xBFFF) return SendMessageW(GetParent(page), message, wParam, lParam);
  switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_DRAWITEM:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      return SendMessageW(GetParent(page), message, wParam, lParam);
    case WM_SETCURSOR:
      // The window first: it shows the busy pointer over everything while it works.
      if (SendMessageW(GetParent(page), WM_SETCURSOR, wParam, lParam) != FALSE) return TRUE;
      if (IsPushButton(reinterpret_cast<HWND>(wParam)) && LOWORD(lParam) == HTCLIENT) {
        SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_HAND)));
        return TRUE;
      }
      break;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(page, &paint);
      if (const auto* frames = Frames(page)) {
        HBRUSH blue = CreateSolidBrush(kFrameBlue);
        for (const RECT& frame : *frames) FrameRect(dc, &frame, blue);
        DeleteObject(blue);
      }
      EndPaint(page, &paint);
      return 0;
    }
    case WM_NCDESTROY:
      delete Frames(page);
      SetWindowLongPtrW(page, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return DefWindowProcW(page, message, wParam, lParam);
}

HWND Make(const wchar_t* type, HWND parent, int id, const char* text, DWORD style, int x, int y,
          int width, int height, bool bold) {
  HWND control = CreateWindowExW(0, type, win32::Wide(text).c_str(), WS_CHILD | WS_VISIBLE | style, Scaled(x),
                                 Scaled(y), Scaled(width), Scaled(height),
                                 parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleW(nullptr), nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont(bold)), FALSE);
  return control;
}

int CALLBACK NoteFamily(const LOGFONTW* /*font*/, const TEXTMETRICW* /*metrics*/, DWORD /*type*/, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

// Wine carries Tahoma among its own files, yet a prefix need not list it (Debian's
// Wine 8 draws a wider face instead, which cuts the captions): the program then takes
// Wine's files for itself. Windows has Tahoma and never loads anything here.
void ProvideTahoma(HDC screen) {
  LOGFONTW wanted{};
  wanted.lfCharSet = DEFAULT_CHARSET;
  lstrcpynW(wanted.lfFaceName, L"Tahoma", LF_FACESIZE);
  bool present = false;
  EnumFontFamiliesExW(screen, &wanted, NoteFamily, reinterpret_cast<LPARAM>(&present), 0);
  if (present) return;
  const DWORD need = GetEnvironmentVariableW(L"WINEDATADIR", nullptr, 0);
  std::wstring folder(need, L'\0');
  const DWORD length = need > 0 ? GetEnvironmentVariableW(L"WINEDATADIR", folder.data(), need) : 0;
  if (length == 0 || length >= need) return;
  folder.resize(length);
  if (folder.rfind(L"\\??\\", 0) == 0) folder.erase(0, 4);  // an NT path: \??\Z:\usr\share\wine
  for (const wchar_t* file : {L"\\fonts\\tahoma.ttf", L"\\fonts\\tahomabd.ttf"}) {
    AddFontResourceExW((folder + file).c_str(), FR_PRIVATE, nullptr);
  }
}

constexpr int kCheckMarkSize = 13;

LRESULT CALLBACK GreyBoxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR /*id*/,
                             DWORD_PTR /*data*/) {
  if (message == WM_ENABLE) InvalidateRect(box, nullptr, TRUE);
  if (message != WM_PAINT || IsWindowEnabled(box)) return DefSubclassProc(box, message, wParam, lParam);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(box, &paint);
  RECT client;
  GetClientRect(box, &client);
  // The background the parent gives its buttons, then the box in the system's
  // disabled colours: grey face, grey frame, grey mark.
  auto background = reinterpret_cast<HBRUSH>(
      SendMessageW(GetParent(box), WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(box)));
  FillRect(dc, &client, background != nullptr ? background : GetSysColorBrush(COLOR_BTNFACE));
  const int size = Scaled(kCheckMarkSize);
  const int top = (client.bottom - size) / 2;
  RECT mark{0, top, size, top + size};
  FillRect(dc, &mark, GetSysColorBrush(COLOR_BTNFACE));
  FrameRect(dc, &mark, GetSysColorBrush(COLOR_GRAYTEXT));
  if (Button_GetCheck(box) == BST_CHECKED) {
    HPEN grey = CreatePen(PS_SOLID, Scaled(2), GetSysColor(COLOR_GRAYTEXT));
    HGDIOBJ old = SelectObject(dc, grey);
    MoveToEx(dc, mark.left + Scaled(3), top + Scaled(6), nullptr);
    LineTo(dc, mark.left + Scaled(5), top + Scaled(9));
    LineTo(dc, mark.left + Scaled(10), top + Scaled(3));
    SelectObject(dc, old);
    DeleteObject(grey);
  }
  EndPaint(box, &paint);
  return 0;
}

}  // namespace

int ScreenDpi() {
  static const int dpi = [] {
    HDC screen = GetDC(nullptr);
    const int found = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen != nullptr) ReleaseDC(nullptr, screen);
    return found > 0 ? found : 96;
  }();
  return dpi;
}

int Scaled(int length) { return MulDiv(length, ScreenDpi(), 96); }

RECT Scaled(RECT box) { return RECT{Scaled(box.left), Scaled(box.top), Scaled(box.right), Scaled(box.bottom)}; }

HFONT WindowFont(bool bold) {
  static HFONT fonts[2] = {};
  HFONT& font = fonts[bold ? 1 : 0];
  if (font == nullptr) {
    HDC screen = GetDC(nullptr);
    if (fonts[0] == nullptr && fonts[1] == nullptr) ProvideTahoma(screen);
    const int height = -MulDiv(8, ScreenDpi(), 72);
    ReleaseDC(nullptr, screen);
    font = CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, L"Tahoma");
  }
  return font;
}

std::string WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return std::string();
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(copied < 0 ? 0 : copied));
  return win32::Utf8(text);
}

void RegisterWindowClass(const wchar_t* name, WNDPROC proc, LPCWSTR cursor) {
  WNDCLASSW type{};
  type.lpfnWndProc = proc;
  type.hInstance = GetModuleHandleW(nullptr);
  type.hCursor = LoadCursorW(nullptr, cursor);
  type.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
  type.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  type.lpszClassName = name;
  RegisterClassW(&type);
}

HWND MakePage(HWND parent, int x, int y, int width, int height) {
  RegisterWindowClass(kPageClass, PageProc);
  HWND page = CreateWindowExW(WS_EX_CONTROLPARENT, kPageClass, L"",
                              WS_CHILD | WS_CLIPSIBLINGS, Scaled(x), Scaled(y), Scaled(width),
                              Scaled(height), parent, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  SetWindowLongPtrW(page, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new std::vector<RECT>));
  return page;
}

void AddFrame(HWND page, RECT frame) {
  if (auto* frames = Frames(page)) frames->push_back(Scaled(frame));
}

HWND MakeLabel(HWND parent, int id, const char* text, int x, int y, int width, int height,
               bool bold, DWORD style) {
  return Make(L"STATIC", parent, id, text, SS_LEFTNOWORDWRAP | SS_NOPREFIX | style, x, y, width, height, bold);
}

HWND MakeBar(HWND parent, int id, const char* text, int x, int y, int width, int height) {
  return Make(L"STATIC", parent, id, text, SS_OWNERDRAW | WS_CLIPSIBLINGS, x, y, width, height, true);
}

HWND MakeCheckBox(HWND parent, int id, const char* text, int x, int y, int width, int height) {
  return Make(L"BUTTON", parent, id, WithAccessKey(text).c_str(), BS_AUTOCHECKBOX | BS_FLAT | WS_TABSTOP, x, y,
              width, height, true);
}

void GreyWhenDisabled(HWND checkBox) { SetWindowSubclass(checkBox, GreyBoxProc, 1, 0); }

HWND MakeButton(HWND parent, int id, const char* text, int x, int y, int width, int height) {
  return Make(L"BUTTON", parent, id, WithAccessKey(text).c_str(), BS_PUSHBUTTON | WS_TABSTOP, x, y, width, height,
              false);
}

void DrawBar(const DRAWITEMSTRUCT& item) {
  RECT face = item.rcItem;
  HBRUSH shadow = CreateSolidBrush(kFrameBlue);
  FillRect(item.hDC, &face, shadow);
  DeleteObject(shadow);
  face.right -= 1;
  face.bottom -= 1;
  HBRUSH light = CreateSolidBrush(kBarFace);
  FillRect(item.hDC, &face, light);
  DeleteObject(light);
  const std::wstring text = win32::Wide(WindowText(item.hwndItem));
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC, kNavy);
  HGDIOBJ old = SelectObject(item.hDC, WindowFont(true));
  DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &face,
            DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(item.hDC, old);
}

bool IsPushButton(HWND control) {
  if (control == nullptr) return false;
  wchar_t type[16] = {};
  GetClassNameW(control, type, 16);
  if (lstrcmpiW(type, L"BUTTON") != 0) return false;
  const LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE) & BS_TYPEMASK;
  return style == BS_PUSHBUTTON || style == BS_DEFPUSHBUTTON;
}

}  // namespace korbu::win32app
