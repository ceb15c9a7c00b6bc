#pragma once
// A scan front end that keeps the detection list and nothing else: default options,
// no labels, no messages to run.

#include <string>

#include "scan/DetectionList.h"
#include "scan/ScanFrontEnd.h"

namespace korbu::test {

class ListOnlyFrontEnd : public ScanFrontEnd {
 public:
  DetectionList list;
  ScanOptions ReadOptions() const override { return {}; }
  DetectionList& Detections() override { return list; }
  void ShowOperation(const std::string&) override {}
  void ShowObject(const std::string&) override {}
  void ProcessPendingMessages() override {}
};

}  // namespace korbu::test
