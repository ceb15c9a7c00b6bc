#pragma once
// The window's tool tips: one tooltip control serving every control that carries a
// tip, so that a tip can change with what its control shows.

#include <string>
#include <vector>

#include "win32app/Win32Api.h"

namespace korbu::win32app {

class ToolTips {
 public:
  /// The tooltip control is owned by owner and goes with it.
  explicit ToolTips(HWND owner);
  ToolTips(const ToolTips&) = delete;
  ToolTips& operator=(const ToolTips&) = delete;

  /// Gives control its tip; an empty tip shows nothing. A static control needs
  /// SS_NOTIFY to see the mouse.
  void Set(HWND control, const std::string& tip);
  /// The tip control carries now, empty for none.
  std::string Get(HWND control) const;

 private:
  HWND tips_ = nullptr;
  std::vector<HWND> tools_;
};

/// True when text fits on one line in label with the label's font.
bool TextFits(HWND label, const std::string& text);

}  // namespace korbu::win32app
