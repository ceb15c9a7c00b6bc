#include "win32app/DetectionListControl.h"

#include <cstring>

#include "cli/RowTexts.h"
#include "win32app/Controls.h"

namespace korbu::win32app {
namespace {

constexpr int kColumnWidths[] = {250, 150, 180};
const wchar_t* const kColumnNames[] = {L"File Name", L"Virus Name", L"Information"};

// The check box is the item's state image: 1 unchecked, 2 checked.
bool CheckedState(UINT state) { return ((state & LVIS_STATEIMAGEMASK) >> 12) == 2; }

}  // namespace

DetectionListControl::DetectionListControl(HWND parent, int id, int x, int y, int width, int height) {
  list_ = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"",
                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL |
                              LVS_SHOWSELALWAYS | LVS_NOSORTHEADER,
                          Scaled(x), Scaled(y), Scaled(width), Scaled(height), parent,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                          GetModuleHandleW(nullptr), nullptr);
  SendMessageW(list_, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont(false)), FALSE);
  ListView_SetExtendedListViewStyle(list_, LVS_EX_CHECKBOXES | LVS_EX_GRIDLINES |
                                               LVS_EX_FULLROWSELECT | LVS_EX_LABELTIP |
                                               LVS_EX_INFOTIP);
  for (int column = 0; column < 3; ++column) {
    LVCOLUMNW data{};
    data.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    data.cx = Scaled(kColumnWidths[column]);
    data.pszText = const_cast<wchar_t*>(kColumnNames[column]);
    data.iSubItem = column;
    SendMessageW(list_, LVM_INSERTCOLUMNW, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&data));
  }
}

void DetectionListControl::ShowRow(std::size_t index, const DetectionRow& row, const std::string& tip) {
  following_ = true;
  // Rows are only ever appended, so the control is at most the new rows behind.
  while (RowCount() <= index) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(RowCount());
    item.pszText = const_cast<wchar_t*>(L"");
    SendMessageW(list_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
  }
  if (tips_.size() <= index) tips_.resize(index + 1);
  tips_[index] = tip;
  const std::string texts[] = {RowFileName(row), row.virusName, RowInformation(row)};
  for (int column = 0; column < 3; ++column) {
    if (CellText(index, column) == texts[column]) continue;
    std::wstring text = win32::Wide(texts[column]);
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text.data();
    SendMessageW(list_, LVM_SETITEMTEXTW, index, reinterpret_cast<LPARAM>(&item));
  }
  if (Checked(index) != row.checked) ListView_SetCheckState(list_, static_cast<int>(index), row.checked);
  following_ = false;
}

void DetectionListControl::SetEnabled(bool enabled) {
  EnableWindow(list_, enabled ? TRUE : FALSE);
  // The control itself looks the same either way.
  const COLORREF face = GetSysColor(enabled ? COLOR_WINDOW : COLOR_BTNFACE);
  ListView_SetBkColor(list_, face);
  ListView_SetTextBkColor(list_, face);
  ListView_SetTextColor(list_, GetSysColor(enabled ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT));
  InvalidateRect(list_, nullptr, TRUE);
}

void DetectionListControl::Clear() {
  following_ = true;
  ListView_DeleteAllItems(list_);
  tips_.clear();
  following_ = false;
}

std::size_t DetectionListControl::RowCount() const {
  const auto count = ListView_GetItemCount(list_);
  return count < 0 ? 0 : static_cast<std::size_t>(count);
}

std::string DetectionListControl::CellText(std::size_t row, int column) const {
  // Doubled until the text fits: the control cuts what does not.
  for (std::size_t size = 256; size <= 65536; size *= 2) {
    std::wstring text(size, L'\0');
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text.data();
    item.cchTextMax = static_cast<int>(size);
    const auto length = SendMessageW(list_, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    if (length < 0) return std::string();
    if (static_cast<std::size_t>(length) + 1 < size) {
      text.resize(static_cast<std::size_t>(length));
      return win32::Utf8(text);
    }
  }
  return std::string();
}

std::string DetectionListControl::InfoTip(std::size_t row) const {
  if (row >= RowCount()) return std::string();
  std::string reason = Tip(row);
  if (!reason.empty()) return reason;
  std::string name = CellText(row, 0);
  RECT label{};
  label.left = LVIR_LABEL;
  if (SendMessageW(list_, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&label)) == FALSE) return name;
  const std::wstring wide = win32::Wide(name);
  const auto needed = SendMessageW(list_, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  // The control leaves a few pixels either side of a label's text.
  return needed + Scaled(12) > label.right - label.left ? name : std::string();
}

bool DetectionListControl::Checked(std::size_t row) const {
  return ListView_GetCheckState(list_, static_cast<int>(row)) != 0;
}

bool DetectionListControl::Notify(const NMHDR& header, LRESULT& result) {
  if (header.hwndFrom != list_) return false;
  switch (header.code) {
    case LVN_ITEMCHANGED: {
      const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
      const bool markChanged = (change.uChanged & LVIF_STATE) != 0 &&
                               ((change.uNewState ^ change.uOldState) & LVIS_STATEIMAGEMASK) != 0 &&
                               (change.uOldState & LVIS_STATEIMAGEMASK) != 0;
      if (!following_ && markChanged && change.iItem >= 0 && OnItemChecked) {
        OnItemChecked(static_cast<std::size_t>(change.iItem), CheckedState(change.uNewState));
      }
      result = 0;
      return true;
    }
    case NM_CLICK:
    case NM_DBLCLK:
      // Handled once the click is over: the control changes the mark after telling.
      PostMessageW(GetParent(list_), kListClicked, 0, reinterpret_cast<LPARAM>(list_));
      result = 0;
      return true;
    case LVN_KEYDOWN:
      if (reinterpret_cast<const NMLVKEYDOWN&>(header).wVKey == VK_SPACE) {
        PostMessageW(GetParent(list_), kListClicked, 0, reinterpret_cast<LPARAM>(list_));
      }
      result = 0;
      return true;
    case LVN_GETINFOTIPW: {
      auto& tip = const_cast<NMLVGETINFOTIPW&>(reinterpret_cast<const NMLVGETINFOTIPW&>(header));
      const std::wstring text = win32::Wide(tip.iItem >= 0 ? InfoTip(static_cast<std::size_t>(tip.iItem)) : std::string());
      if (!text.empty() && tip.pszText != nullptr && tip.cchTextMax > 0) {
        // Cut to the room given, never between the two halves of a surrogate pair.
        const auto room = static_cast<std::size_t>(tip.cchTextMax) - 1;
        std::size_t length = text.size() < room ? text.size() : room;
        if (length < text.size() && length > 0 && text[length - 1] >= 0xD800 && text[length - 1] <= 0xDBFF) --length;
        std::memcpy(tip.pszText, text.data(), length * sizeof(wchar_t));
        tip.pszText[length] = L'\0';
      }
      result = 0;
      return true;
    }
    default:
      return false;
  }
}

}  // namespace korbu::win32app
