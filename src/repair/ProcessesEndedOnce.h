#pragma once
// Ending the programs that run a file costs a reading of the whole process
// table; an action over thousands of rows must not pay it once per row.

#include <map>
#include <string>
#include <vector>

#include "repair/RepairChanges.h"

namespace korbu {

/// Passes EndProcesses on once per file and action, and only for a file that a
/// program of one reading of the running programs (RunningPrograms of the inner
/// sink, at the first request) runs under the same file name, in any letter
/// case; every other file has no program to end. A file asked for again gets
/// the first answer. Where the inner sink cannot tell what runs, every file is
/// passed on, once.
class ProcessesEndedOnce final : public ForwardingSink {
 public:
  explicit ProcessesEndedOnce(ChangeSink& inner) : ForwardingSink(inner) {}
  Status EndProcesses(const std::string& imagePath) override;

 private:
  bool MayRun(const std::string& imagePath);
  bool listed_ = false;
  bool unlisted_ = false;              // the table could not be read
  std::vector<std::string> running_;   // the file names of the running images, lowered
  std::map<std::string, Status> ended_;
};

}  // namespace korbu
