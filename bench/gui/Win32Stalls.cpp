// korbu-win32-stalls: how long the Win32 window's main thread goes without
// answering, measured by a 5 ms timer on that thread (the longest gap between two
// of its ticks). Runs under Wine on a display.
//
//   korbu-win32-stalls startup SECONDS   start-up with an engine whose database
//                                        load takes SECONDS (no ClamAV for Windows
//                                        runs here to load real databases)
//   korbu-win32-stalls clean FOLDER      a scan of FOLDER (all three phases, own
//                                        detection only), then "Clean" of every row
//
// Prints one line per measured stretch:
//   <what> seconds=S max_gap_ms=M [details]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "win32app/Controls.h"
#include "win32app/MainWindow.h"

namespace korbu::win32app {
namespace {

using Clock = std::chrono::steady_clock;

class SlowEngine final : public EngineStartup {
 public:
  explicit SlowEngine(double seconds) : seconds_(seconds) {}
  void CreateEngine() override {}
  bool LibraryAvailable() override { return false; }
  bool LoadDatabase() override {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds_));
    return false;
  }
  std::uint32_t SignatureCount() override { return 0; }
  std::pair<std::string, std::string> DatabaseVersions() override { return {}; }
  std::pair<std::string, std::string> DatabaseDates() override { return {}; }

 private:
  double seconds_;
};

Clock::time_point gLastTick;
Clock::duration gLongest{};

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
  const auto now = Clock::now();
  gLongest = std::max(gLongest, now - gLastTick);
  gLastTick = now;
}

struct Stretch {
  double seconds = 0;
  double maxGapMs = 0;
};

// Runs the window's messages until done holds, timing the ticks meanwhile. Work
// that start() runs inside itself (the window of old ran its actions inside the
// click) counts as well.
Stretch Measure(Win32Dispatcher& dispatcher, const std::function<void()>& start, const std::function<bool()>& done) {
  const auto begin = Clock::now();
  gLastTick = begin;
  gLongest = {};
  const UINT_PTR timer = SetTimer(nullptr, 0, 5, Tick);
  start();
  while (!done() && !dispatcher.QuitSeen()) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    dispatcher.ProcessPendingMessages();
  }
  const auto end = Clock::now();
  gLongest = std::max(gLongest, end - gLastTick);
  KillTimer(nullptr, timer);
  return {std::chrono::duration<double>(end - begin).count(),
          std::chrono::duration<double, std::milli>(gLongest).count()};
}

void Click(MainWindow& window, int id) {
  HWND control = window.Control(id);
  SendMessageA(GetParent(control), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
}

int StartUp(double seconds) {
  Win32Dispatcher dispatcher;
  MainWindow window(dispatcher, std::make_unique<SlowEngine>(seconds));
  const Stretch stretch = Measure(dispatcher, [] {}, [&] { return window.Controller().StartupFinished(); });
  std::printf("startup seconds=%.3f max_gap_ms=%.1f\n", stretch.seconds, stretch.maxGapMs);
  return 0;
}

int ScanAndClean(const char* folder) {
  Win32Dispatcher dispatcher;
  MainWindow window(dispatcher, std::make_unique<SlowEngine>(0));
  Measure(dispatcher, [] {}, [&] { return window.Controller().StartupFinished(); });
  if (!window.Tree().SelectPath(folder)) {
    std::fprintf(stderr, "the folder tree does not show %s\n", folder);
    return 2;
  }
  WindowController& logic = window.Controller();
  const Stretch scanned = Measure(dispatcher, [&] { Click(window, kBtnScan); }, [&] { return !logic.ScanRunning(); });
  const std::size_t rows = window.List().RowCount();
  std::printf("scan seconds=%.3f max_gap_ms=%.1f rows=%zu\n", scanned.seconds, scanned.maxGapMs, rows);
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
  std::printf("clean seconds=%.3f max_gap_ms=%.1f rows=%zu cleaned=%zu\n", cleaned.seconds, cleaned.maxGapMs, rows,
              handled);
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
