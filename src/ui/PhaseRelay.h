#pragma once
// The front end that the memory and registry phases see on their worker thread:
// what they show and the rows they add reach the window's front end on the main
// thread, in the order made, and a stop asked for ends the phase at the next
// object.

#include <atomic>
#include <string>

#include "dispatch/MainThreadDispatcher.h"
#include "scan/DetectionList.h"
#include "scan/ScanFrontEnd.h"

namespace korbu {

class PhaseRelay final : public ScanFrontEnd {
 public:
  /// Thrown between two objects once Stop was called. Not a std::exception, so
  /// that the phases' per-object error handling lets it through.
  struct Stopped {};

  /// window and dispatcher outlive the relay.
  PhaseRelay(ScanFrontEnd& window, MainThreadDispatcher& dispatcher);

  /// Main thread, before the phases start: takes the window's rows as they are
  /// and forgets an earlier stop.
  void Begin();
  /// Any thread: the phases end at their next object.
  void Stop() { stop_ = true; }
  bool StopAsked() const { return stop_; }

  ScanOptions ReadOptions() const override;
  /// The window's rows as the worker knows them; each row the worker adds here is
  /// added to the window's list as well, before the worker goes on.
  DetectionList& Detections() override { return rows_; }
  void ShowOperation(const std::string& text) override;
  void ShowObject(const std::string& text) override;
  /// Where the phases let messages run: throws Stopped once a stop was asked.
  void ProcessPendingMessages() override;

 private:
  void RowAdded(std::size_t index);

  ScanFrontEnd& window_;
  MainThreadDispatcher& dispatcher_;
  DetectionList rows_;
  std::atomic<bool> stop_{false};
};

}  // namespace korbu
