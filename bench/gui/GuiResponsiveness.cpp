// gui-responsiveness FOLDER: scans FOLDER from the real main window (own detection
// only, no engine) while a 5 ms timer measures how long the event loop is kept
// from running, and counts how often the object label changes. Prints one line:
//   files=N seconds=S ticks=T label_changes=L max_gap_ms=M p99_gap_ms=P

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/FolderTree.h"
#include "app/MainForm.h"
#include "OwnDetectionOnly.h"
#include "engine/EngineStartup.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: gui-responsiveness FOLDER\n");
    return 2;
  }
  QApplication app(argc, argv);
  korbu::TMainForm form(std::make_unique<korbu::bench::OwnDetectionOnly>());
  form.FormActivate();
  form.show();
  auto* folders = form.findChild<korbu::TFolderTree*>(QStringLiteral("tvLocation"));
  auto* scan = form.findChild<QPushButton*>(QStringLiteral("btnScan"));
  auto* object = form.findChild<QLabel*>(QStringLiteral("lbFileScan"));
  auto* summary = form.findChild<QLabel*>(QStringLiteral("lbInfoScan"));
  if (folders == nullptr || scan == nullptr || object == nullptr || summary == nullptr) return 2;
  const QString folder = QString::fromLocal8Bit(argv[1]);
  QElapsedTimer waited;
  waited.start();
  while (!folders->SelectPath(folder)) {
    if (waited.elapsed() > 30000) {
      std::fprintf(stderr, "the folder tree does not show %s\n", argv[1]);
      return 2;
    }
    QTest::qWait(20);
  }

  std::vector<qint64> gaps;
  long labelChanges = 0;
  QString lastLabel;
  QElapsedTimer clock;
  qint64 lastTick = 0;
  QTimer ticker;
  ticker.setInterval(5);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    gaps.push_back(now - lastTick);
    lastTick = now;
    if (object->text() != lastLabel) {
      lastLabel = object->text();
      ++labelChanges;
    }
  });
  clock.start();
  ticker.start();
  scan->click();  // runs the memory and registry phases, then starts the walk
  while (form.Controller().ScanBusy()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
  ticker.stop();

  std::sort(gaps.begin(), gaps.end());
  const double maxGap = gaps.empty() ? 0 : static_cast<double>(gaps.back()) / 1e6;
  const double p99 = gaps.empty() ? 0 : static_cast<double>(gaps[gaps.size() * 99 / 100]) / 1e6;
  std::printf("summary=\"%s\"\n", summary->text().toLocal8Bit().constData());
  std::printf("seconds=%.3f ticks=%zu label_changes=%ld max_gap_ms=%.1f p99_gap_ms=%.1f\n", seconds,
              gaps.size(), labelChanges, maxGap, p99);
  return 0;
}
