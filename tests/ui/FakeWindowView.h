#pragma once
// A window without a toolkit for the controller's tests: it keeps what the logic
// shows, answers the question as told and lets tests act at each message pump.

#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "dispatch/QueuedDispatcher.h"
#include "engine/EngineStartup.h"
#include "ui/WindowView.h"

namespace korbu::test {

class FakeWindowView final : public WindowView {
 public:
  explicit FakeWindowView(QueuedDispatcher& dispatcher) : dispatcher_(dispatcher) {}

  void SetText(WindowLabel label, const std::string& text) override {
    texts[label] = text;
    if (label == WindowLabel::SplashStatus) splash.push_back(text);
  }
  void SetTip(WindowLabel label, const std::string& tip) override { tips[label] = tip; }
  void SetEnabled(WindowControl control, bool on) override { enabled[control] = on; }
  void SetStopCaption(const std::string& caption) override { stopCaption = caption; }
  void ShowPage(WindowPage shown) override { page = shown; }
  void FocusScan() override {}
  void SetScanTip(const std::string& tip) override { scanTip = tip; }
  void SetOption(ScanOption option, bool checked) override { options[option] = checked; }
  bool OptionChecked(ScanOption option) const override {
    const auto at = options.find(option);
    return at != options.end() && at->second;
  }
  std::string SelectedLocation() const override {
    if (failLocation) throw std::runtime_error("The location tree is gone.");
    return location;
  }
  void SetSelectAllChecked(bool checked) override { selectAll = checked; }
  void ShowRow(std::size_t index, const DetectionRow& row, const std::string& tip) override {
    rowsInOrder = rowsInOrder && index <= rows.size();  // a new row comes right after the last
    if (rows.size() <= index) rows.resize(index + 1);
    rows[index] = {row, tip};
    if (onRow) onRow(index);
  }
  void ClearRows() override { rows.clear(); }
  bool AskConfirm(const std::string& question) override {
    questions.push_back(question);
    if (beforeAnswer) beforeAnswer();
    return answer;
  }
  void ShowMessage(const std::string& text) override { messages.push_back(text); }
  void ProcessPendingMessages() override {
    dispatcher_.ProcessPendingMessages();
    if (onPump) onPump();
  }
  void ShowBusy(bool on) override { busy = on; }
  void HideSplash() override { splashHidden = true; }
  void CloseWindow() override { ++closeRequests; }

  bool On(WindowControl control) const {
    const auto at = enabled.find(control);
    return at != enabled.end() && at->second;
  }
  std::string Text(WindowLabel label) const {
    const auto at = texts.find(label);
    return at == texts.end() ? std::string() : at->second;
  }

  std::map<WindowLabel, std::string> texts;
  std::map<WindowLabel, std::string> tips;
  std::vector<std::string> splash;
  std::map<WindowControl, bool> enabled;
  std::map<ScanOption, bool> options;
  std::string stopCaption;
  std::string scanTip;
  WindowPage page = WindowPage::Options;
  std::string location;
  bool failLocation = false;
  bool selectAll = false;
  std::vector<std::pair<DetectionRow, std::string>> rows;  // as shown, with the tip
  bool rowsInOrder = true;
  std::vector<std::string> questions;
  std::vector<std::string> messages;
  bool answer = true;
  std::function<void()> beforeAnswer;  // runs while the question is open
  std::function<void()> onPump;        // runs at every message pump
  std::function<void(std::size_t)> onRow;  // runs as a row is shown
  bool busy = false;
  bool splashHidden = false;
  int closeRequests = 0;

 private:
  QueuedDispatcher& dispatcher_;
};

/// An engine start-up that answers as told; its database load can be held up.
class FakeEngine final : public EngineStartup {
 public:
  bool library = false;
  bool database = false;
  std::uint32_t signatures = 0;
  std::string reason;  // why the databases do not load
  TClamAV* engine = nullptr;  // what start-up hands the scans
  ClamdScanner* remote = nullptr;  // a clamd that judges in its place
  std::string engineVersion;
  std::function<void()> whileLoading;  // runs on the loading thread
  void CreateEngine() override {}
  Status LibraryAvailable() override { return library ? Ok() : Failure("no engine library"); }
  Status LoadDatabase() override {
    if (whileLoading) whileLoading();
    return database ? Ok() : Failure(reason);
  }
  std::uint32_t SignatureCount() override { return signatures; }
  std::pair<std::string, std::string> DatabaseVersions() override { return {"6", ""}; }
  std::pair<std::string, std::string> DatabaseDates() override { return {"22 Jun 2021", ""}; }
  TClamAV* Engine() override { return engine; }
  ClamdScanner* RemoteEngine() override { return remote; }
  std::string EngineVersion() override { return engineVersion; }
};

}  // namespace korbu::test
