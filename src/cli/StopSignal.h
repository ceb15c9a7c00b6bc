#pragma once
// Ctrl-C and SIGTERM stop a scan the way "Stop" does: the walk ends, what was done
// is reported. The handler only notes the request; a watcher thread acts on it.

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace korbu::cli {

/// From now on SIGINT and SIGTERM are noted instead of ending the program; a
/// second one ends it as usual. One that the program was started ignoring stays
/// ignored.
void InstallStopSignals();

/// True once a stop signal arrived.
bool StopRequested();

/// After a stop signal, once the report is written: ends the program by that
/// signal with its default action, so that the shell sees it (130 for SIGINT,
/// 143 for SIGTERM); on Windows with the status of a program Ctrl-C ended.
/// Returns at once when no stop signal arrived.
void EndIfStopped();

/// While it lives, calls stop on its own thread a few times a second once a stop
/// signal has arrived (stop must be safe to repeat and to call from any thread).
class StopWatcher {
 public:
  explicit StopWatcher(std::function<void()> stop);
  ~StopWatcher();
  StopWatcher(const StopWatcher&) = delete;
  StopWatcher& operator=(const StopWatcher&) = delete;

 private:
  std::function<void()> stop_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace korbu::cli
