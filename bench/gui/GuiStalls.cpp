// gui-stalls: how long the Qt window's main thread goes without answering, measured
// by a 5 ms timer on that thread (the longest gap between two of its ticks).
//
//   gui-stalls startup DBDIR   start-up of the real window with the program's engine
//                              set-up over the databases in DBDIR
//   gui-stalls clean FOLDER    a scan of FOLDER (all three phases, own detection
//                              only) in the WINEPREFIX the caller set, then "Clean"
//                              of every row it listed
//   gui-stalls forge IN OUT    writes IN with the checksum of a known variant to OUT,
//                              so that a harmless program stands in for the worm
//
// Prints one line per measured stretch:
//   <what> seconds=S max_gap_ms=M at_s=A [details]
// where A is when the longest gap ended, counted from the stretch's start; an
// "idle" stretch of the ready window gives what the machine's own load costs.

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "app/FolderTree.h"
#include "app/MainForm.h"
#include "app/SplashForm.h"
#include "detect/VariantTable.h"
#include "OwnDetectionOnly.h"
#include "engine/EngineStartup.h"
#include "support/CrcForge.h"

namespace {

// Runs the event loop until done holds, timing the main thread's ticks meanwhile.
// Work started by start() may run inside it (the old window ran actions inside the
// click) or after it returns: either way its stalls fall between two ticks.
struct Stretch {
  double seconds = 0;
  double maxGapMs = 0;
  double maxGapAt = 0;
};

Stretch Measure(const std::function<void()>& start, const std::function<bool()>& done) {
  QElapsedTimer clock;
  qint64 last = 0;
  qint64 longest = 0;
  qint64 longestAt = 0;
  const auto tick = [&] {
    const qint64 now = clock.nsecsElapsed();
    if (now - last > longest) {
      longest = now - last;
      longestAt = now;
    }
    last = now;
  };
  QTimer ticker;
  ticker.setInterval(5);
  QObject::connect(&ticker, &QTimer::timeout, tick);
  clock.start();
  ticker.start();
  start();
  while (!done()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
  tick();
  ticker.stop();
  return {static_cast<double>(last) / 1e9, static_cast<double>(longest) / 1e6, static_cast<double>(longestAt) / 1e9};
}

void Print(const char* what, const Stretch& stretch, const std::string& details = {}) {
  std::printf("%s seconds=%.3f max_gap_ms=%.1f at_s=%.3f%s%s\n", what, stretch.seconds, stretch.maxGapMs,
              stretch.maxGapAt, details.empty() ? "" : " ", details.c_str());
  std::fflush(stdout);
}

void MeasureIdle() {
  QElapsedTimer idle;
  idle.start();
  Print("idle", Measure([] {}, [&] { return idle.elapsed() >= 3000; }));
}

int StartUp(const char* databases) {
  auto* splash = new korbu::TSplashForm;
  splash->show();
  korbu::TMainForm form(korbu::MakeEngineStartup(databases));
  form.AttachSplash(splash);
  const Stretch stretch = Measure([&] { form.show(); }, [&] { return form.Controller().StartupFinished(); });
  const auto* signatures = form.findChild<QLabel*>(QStringLiteral("lbVirSign"));
  Print("startup", stretch,
        "signatures=\"" + (signatures != nullptr ? signatures->text().toStdString() : std::string()) + "\"");
  MeasureIdle();
  return 0;
}

int ScanAndClean(const char* folder) {
  korbu::TMainForm form(std::make_unique<korbu::bench::OwnDetectionOnly>());
  form.show();
  Measure([] {}, [&] { return form.Controller().StartupFinished(); });
  auto* folders = form.findChild<korbu::TFolderTree*>(QStringLiteral("tvLocation"));
  auto* scan = form.findChild<QPushButton*>(QStringLiteral("btnScan"));
  auto* clean = form.findChild<QPushButton*>(QStringLiteral("btnClean"));
  auto* selectAll = form.findChild<QCheckBox*>(QStringLiteral("cbSelAll"));
  auto* list = form.findChild<QTreeWidget*>(QStringLiteral("LvFound"));
  if (folders == nullptr || scan == nullptr || clean == nullptr || selectAll == nullptr || list == nullptr) return 2;
  QElapsedTimer waited;
  waited.start();
  while (!folders->SelectPath(QString::fromLocal8Bit(folder))) {
    if (waited.elapsed() > 30000) {
      std::fprintf(stderr, "the folder tree does not show %s\n", folder);
      return 2;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }

  auto& logic = form.Controller();
  MeasureIdle();
  const Stretch scanned = Measure([&] { scan->click(); }, [&] { return !logic.ScanRunning(); });
  Print("scan", scanned, "rows=" + std::to_string(list->topLevelItemCount()));
  if (!selectAll->isEnabled() || list->topLevelItemCount() == 0) {
    std::fprintf(stderr, "the scan listed nothing to clean\n");
    return 1;
  }
  selectAll->click();
  const Stretch cleaned = Measure([&] { clean->click(); }, [&] { return !logic.ActionRunning(); });
  int handled = 0;
  for (int i = 0; i < list->topLevelItemCount(); ++i) {
    if (list->topLevelItem(i)->text(2) == QStringLiteral("This object was cleaned!")) ++handled;
  }
  Print("clean", cleaned, "rows=" + std::to_string(list->topLevelItemCount()) + " cleaned=" + std::to_string(handled));
  return 0;
}

int Forge(const char* in, const char* out) {
  std::ifstream source(in, std::ios::binary);
  const std::string program((std::istreambuf_iterator<char>(source)), std::istreambuf_iterator<char>());
  if (program.empty()) return 2;
  std::ofstream(out, std::ios::binary) << korbu::test::ForgeFileWithCrc(program, korbu::VariantCrcTable[2]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc >= 3 ? argv[1] : "";
  if (mode == "forge" && argc == 4) return Forge(argv[2], argv[3]);
  if ((mode != "startup" && mode != "clean") || argc != 3) {
    std::fprintf(stderr, "usage: gui-stalls startup DBDIR | clean FOLDER | forge IN OUT\n");
    return 2;
  }
  QApplication app(argc, argv);
  return mode == "startup" ? StartUp(argv[2]) : ScanAndClean(argv[2]);
}
