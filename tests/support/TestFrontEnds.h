#pragma once
// Scan front ends for tests: one that keeps only the detection list, one that also
// records every text the scan shows.

#include <string>
#include <vector>

#include "scan/DetectionList.h"
#include "scan/ScanFrontEnd.h"

namespace korbu::test {

/// Default options, no labels, no messages to run; the errors shown are kept.
class ListOnlyFrontEnd : public ScanFrontEnd {
 public:
  DetectionList list;
  std::vector<std::string> errors;  // "object: reason"
  ScanOptions ReadOptions() const override { return {}; }
  DetectionList& Detections() override { return list; }
  void ShowOperation(const std::string&) override {}
  void ShowObject(const std::string&) override {}
  void ProcessPendingMessages() override {}
  void ShowFileError(const std::string& path, const std::string& reason) override {
    errors.push_back(path + ": " + reason);
  }
};

/// Keeps every text and row a scan shows; all calls come on the main thread.
class RecordingFrontEnd : public ScanFrontEnd {
 public:
  ScanOptions options;
  DetectionList list;
  std::vector<std::string> operations;
  std::vector<std::string> objects;

  ScanOptions ReadOptions() const override { return options; }
  DetectionList& Detections() override { return list; }
  void ShowOperation(const std::string& text) override { operations.push_back(text); }
  void ShowObject(const std::string& text) override { objects.push_back(text); }
  void ProcessPendingMessages() override {}
};

}  // namespace korbu::test
