#pragma once
// The command line's side of the scan seam: options from the arguments, rows kept
// in a detection list, progress on standard error when it is a terminal.

#include <chrono>
#include <functional>
#include <string>

#include "scan/ScanFrontEnd.h"

namespace korbu::cli {

class CliFrontEnd final : public ScanFrontEnd {
 public:
  CliFrontEnd(ScanOptions options, bool showProgress);
  ~CliFrontEnd() override;

  ScanOptions ReadOptions() const override { return options_; }
  DetectionList& Detections() override { return detections_; }
  void ShowOperation(const std::string& text) override { operation_ = text; }
  void ShowObject(const std::string& text) override;
  void ProcessPendingMessages() override {}
  void ShowFileError(const std::string& path, const std::string& reason) override {
    if (OnFileError) OnFileError(path, reason);
  }

  void ShowOtherUsersProgramError(const std::string& path, const std::string& reason) override {
    if (OnOtherUsersProgramError) OnOtherUsersProgramError(path, reason);
  }

  void ShowNotJudgedWhole(const std::string& path, const EngineLimitReached& limit) override {
    if (OnNotJudgedWhole) OnNotJudgedWhole(path, limit);
  }

  /// Where the walk's file errors go.
  std::function<void(const std::string& path, const std::string& reason)> OnFileError;
  /// Where the errors about other users' running programs go.
  std::function<void(const std::string& path, const std::string& reason)> OnOtherUsersProgramError;
  /// Where the files the engine could not judge whole go.
  std::function<void(const std::string& path, const EngineLimitReached& limit)> OnNotJudgedWhole;

  /// The last operation text: after the walk, the summary line.
  const std::string& Operation() const { return operation_; }

  /// The files scanned so far, shown before the current path.
  std::function<long long()> FilesSoFar;

  /// Takes the progress line off the terminal (before other output).
  void ClearProgress();

 private:
  ScanOptions options_;
  bool showProgress_;
  bool progressShown_ = false;
  std::chrono::steady_clock::time_point lastShown_{};
  DetectionList detections_;
  std::string operation_;
};

}  // namespace korbu::cli
