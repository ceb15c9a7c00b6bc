// korbu-win32-stalls: how long the Win32 window's main thread goes without
// answering, measured by a message sent to the window every 5 ms from another
// thread (the longest wait for the answer). Runs under Wine on a display.
//
//   korbu-win32-stalls startup SECONDS   start-up with an engine whose database
//                                        load takes SECONDS (no ClamAV for Windows
//                                        runs here to load real databases)
//   korbu-win32-stalls clean FOLDER      a scan of FOLDER (all three phases, own
//                                        detection only), then "Clean" of every row
//
// Prints one line per measured stretch:
//   <what> seconds=S max_gap_ms=M at_s=A [details]
// where M is the longest wait and A when it ended, counted from the stretch's start; an
// "idle" stretch of the ready window gives what the machine's own load costs.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "win32app/Controls.h"
#include "win32app/MainWindow.h"

namespace korbu::win32app {
namespace {

using Clock = std::chrono::steady_clock;

struct Stretch {
  double seconds = 0;
  double maxGapMs = 0;
  double maxGapAt = 0;
};

class SlowEngine final : public EngineStartup {
 public:
  explicit SlowEngine(double seconds) : seconds_(seconds) {}
  void CreateEngine() override {}
  Status LibraryAvailable() override { return Failure("no engine in this benchmark"); }
  Status LoadDatabase() override {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds_));
    return Failure("no engine in this benchmark");
  }
  std::uint32_t SignatureCount() override { return 0; }
  std::pair<std::string, std::string> DatabaseVersions() override { return {}; }
  std::pair<std::string, std::string> DatabaseDates() override { return {}; }

 private:
  double seconds_;
};

// A probe thread sends the window a message every 5 ms and times how long the
// main thread takes to take it: sent messages are taken whenever it looks at its
// queue, in its own loop and in every wait and modal loop alike. (A timer of the
// main thread is no probe here: its ticks come only once no other message waits.)
class AnswerProbe {
 public:
  explicit AnswerProbe(HWND window) : window_(window), thread_([this] { Run(); }) {}
  ~AnswerProbe() {
    stop_ = true;
    thread_.join();
  }
  // Restarts the figures.
  void Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    begin_ = Clock::now();
    longest_ = {};
    longestAt_ = begin_;
  }
  Stretch Read() {
    std::lock_guard<std::mutex> lock(mutex_);
    return {std::chrono::duration<double>(Clock::now() - begin_).count(),
            std::chrono::duration<double, std::milli>(longest_).count(),
            std::chrono::duration<double>(longestAt_ - begin_).count()};
  }

 private:
  void Run() {
    while (!stop_) {
      const auto sent = Clock::now();
      DWORD_PTR ignored = 0;
      SendMessageTimeoutA(window_, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &ignored);
      const auto answered = Clock::now();
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (sent >= begin_ && answered - sent > longest_) {
          longest_ = answered - sent;
          longestAt_ = answered;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  HWND window_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  Clock::time_point begin_ = Clock::now();
  Clock::duration longest_{};
  Clock::time_point longestAt_ = begin_;
  std::thread thread_;
};

AnswerProbe* gProbe = nullptr;

// Runs the window's messages until done holds, probing meanwhile. Work that
// start() runs inside itself (the window of old ran its actions inside the
// click) counts as well.
Stretch Measure(Win32Dispatcher& dispatcher, const std::function<void()>& start, const std::function<bool()>& done) {
  gProbe->Reset();
  start();
  while (!done() && !dispatcher.QuitSeen()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    dispatcher.ProcessPendingMessages();
  }
  return gProbe->Read();
}

void Print(const char* what, const Stretch& stretch, const std::string& details = {}) {
  std::printf("%s seconds=%.3f max_gap_ms=%.1f at_s=%.3f%s%s\n", what, stretch.seconds, stretch.maxGapMs,
              stretch.maxGapAt, details.empty() ? "" : " ", details.c_str());
  std::fflush(stdout);
}

void MeasureIdle(Win32Dispatcher& dispatcher) {
  const auto begin = Clock::now();
  Print("idle", Measure(dispatcher, [] {}, [&] { return Clock::now() - begin >= std::chrono::seconds(3); }));
}

void Click(MainWindow& window, int id) {
  HWND control = window.Control(id);
  SendMessageA(GetParent(control), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
}

int StartUp(double seconds) {
  Win32Dispatcher dispatcher;
  MainWindow window(dispatcher, std::make_unique<SlowEngine>(seconds));
  AnswerProbe probe(window.Handle());
  gProbe = &probe;
  Print("startup", Measure(dispatcher, [] {}, [&] { return window.Controller().StartupFinished(); }));
  MeasureIdle(dispatcher);
  return 0;
}

int ScanAndClean(const char* folder) {
  Win32Dispatcher dispatcher;
  MainWindow window(dispatcher, std::make_unique<SlowEngine>(0));
  AnswerProbe probe(window.Handle());
  gProbe = &probe;
  Measure(dispatcher, [] {}, [&] { return window.Controller().StartupFinished(); });
  if (!window.Tree().SelectPath(folder)) {
    std::fprintf(stderr, "the folder tree does not show %s\n", folder);
    return 2;
  }
  WindowController& logic = window.Controller();
  MeasureIdle(dispatcher);
  const Stretch scanned = Measure(dispatcher, [&] { Click(window, kBtnScan); }, [&] { return !logic.ScanRunning(); });
  const std::size_t rows = window.List().RowCount();
  Print("scan", scanned, "rows=" + std::to_string(rows));
  if (rows == 0) {
    std::fprintf(stderr, "the scan listed nothing to clean\n");
    return 1;
  }
  Button_SetCheck(window.Control(kCbSelAll), BST_CHECKED);
  Click(window, kCbSelAll);
  const Stretch cleaned =
      Measure(dispatcher, [&] { Click(window, kBtnClean); }, [&] { return !logic.ActionRunning(); });
  std::size_t handled = 0;
  for (std::size_t i = 0; i < rows; ++i) {
    if (window.List().CellText(i, 2) == "This object was cleaned!") ++handled;
  }
  Print("clean", cleaned, "rows=" + std::to_string(rows) + " cleaned=" + std::to_string(handled));
  return 0;
}

}  // namespace
}  // namespace korbu::win32app

int main(int argc, char** argv) {
  const std::string mode = argc == 3 ? argv[1] : "";
  if (mode != "startup" && mode != "clean") {
    std::fprintf(stderr, "usage: korbu-win32-stalls startup SECONDS | clean FOLDER\n");
    return 2;
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  const int status = mode == "startup" ? korbu::win32app::StartUp(std::atof(argv[2]))
                                       : korbu::win32app::ScanAndClean(argv[2]);
  CoUninitialize();
  return status;
}
