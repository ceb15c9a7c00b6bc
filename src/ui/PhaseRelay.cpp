#include "ui/PhaseRelay.h"

namespace korbu {

PhaseRelay::PhaseRelay(ScanFrontEnd& window, MainThreadDispatcher& dispatcher)
    : window_(window), dispatcher_(dispatcher) {}

void PhaseRelay::Begin() {
  rows_.SetChangeHandler(nullptr);
  rows_ = window_.Detections();
  rows_.SetChangeHandler([this](std::size_t index) { RowAdded(index); });
  stop_ = false;
}

void PhaseRelay::RowAdded(std::size_t index) {
  // The phases only ever add rows.
  if (index >= rows_.Count()) return;
  const DetectionRow& row = rows_.Row(index);
  dispatcher_.RunOnMainThread([&] { window_.Detections().AddRow(row); });
}

ScanOptions PhaseRelay::ReadOptions() const {
  ScanOptions options;
  dispatcher_.RunOnMainThread([&] { options = window_.ReadOptions(); });
  return options;
}

void PhaseRelay::ShowOperation(const std::string& text) {
  dispatcher_.RunOnMainThread([&] { window_.ShowOperation(text); });
}

void PhaseRelay::ShowObject(const std::string& text) {
  dispatcher_.RunOnMainThread([&] { window_.ShowObject(text); });
}

void PhaseRelay::ProcessPendingMessages() {
  if (stop_) throw Stopped{};
}

}  // namespace korbu
