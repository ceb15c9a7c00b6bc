#pragma once
// Where each kind of line of the text report goes: standard output (not with
// --json, whose document stands alone there), standard error for errors, and the
// log file of --log. --quiet keeps only detections, actions and errors.

#include <fstream>
#include <functional>
#include <string>

namespace korbu::cli {

class TextReport {
 public:
  /// beforeOutput runs before any line is written (it clears the progress line).
  TextReport(bool json, bool quiet, std::function<void()> beforeOutput);

  /// Appends to the log file from now on; false, with the reason, when it cannot
  /// be opened.
  bool OpenLog(const std::string& path, std::string& reason);

  /// Engine lines and the summary. Text may hold several lines, each ended.
  void Info(const std::string& text);
  /// A detection line, and the line of a file not scanned whole: both stay with
  /// --quiet, since either changes what a clean result means.
  void Detection(const std::string& line);
  /// The result lines of --clean or --delete (on standard error with --json).
  void Action(const std::string& text);
  /// An error line, on standard error (standard output after ErrorsToOutput,
  /// unless the JSON document has it to itself).
  void Error(const std::string& line);
  /// clamscan's --stdout: the error lines go with the rest of the report.
  void ErrorsToOutput() { errorsToOutput_ = true; }

  /// False when standard output or the log could not be written.
  bool Written() const;

 private:
  void Put(std::ostream& out, const std::string& text);
  bool json_;
  bool quiet_;
  std::function<void()> beforeOutput_;
  std::ofstream log_;
  bool logOpen_ = false;
  bool errorsToOutput_ = false;
};

}  // namespace korbu::cli
