#pragma once
// The history of recorded actions as a modal window over the main one: the
// actions newest first, the selected one's rows and changes, and "Restore". What
// it lists and what Restore does is HistoryModel's.

#include <string>

#include "ui/HistoryModel.h"
#include "win32app/Win32Api.h"

namespace korbu::win32app {

class HistoryWindow {
 public:
  enum ControlId : int { kLbHistory = 300, kMemDetails, kLbOutcome, kBtnRestore, kBtnClose };
  static constexpr int kClientWidth = 620;
  static constexpr int kClientHeight = 420;

  /// Builds and shows the window, owned by owner and filled from actionsFolder.
  /// Throws std::runtime_error when it cannot be created.
  explicit HistoryWindow(HWND owner, std::string actionsFolder = ActionsFolder());
  ~HistoryWindow();
  HistoryWindow(const HistoryWindow&) = delete;
  HistoryWindow& operator=(const HistoryWindow&) = delete;

  /// Shows the history over owner, which takes no input until it is closed.
  static void ShowModal(HWND owner);

  HWND Handle() const { return window_; }
  HWND Control(int id) const { return GetDlgItem(window_, id); }
  bool Closed() const { return window_ == nullptr; }
  /// Selects the entry at index, as a click on it does.
  void Select(int index);

  /// For tests: the answer to the next question instead of a box.
  static void SetNextAnswer(bool yes);

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void Fill(const std::string& keepId);
  void ShowSelected();
  void RestoreSelected();
  int Selected() const;

  HWND owner_;
  HistoryModel model_;
  HWND window_ = nullptr;
};

}  // namespace korbu::win32app
