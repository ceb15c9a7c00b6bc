#include "guard/GuardMain.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <iostream>
#include <memory>
#include <optional>

#include "cache/VerdictCache.h"
#include "cli/DisplayText.h"
#include "engine/EngineStartup.h"
#include "guard/AccessLoop.h"
#include "guard/FanotifyGroup.h"
#include "guard/GuardOptions.h"
#include "guard/GuardReport.h"
#include "guard/GuardStatus.h"
#include "guard/IdleSpinners.h"
#include "guard/MountWatcher.h"
#include "platform/FileSystem.h"
#include "repair/Journal.h"
#include "scan/ScanSession.h"

namespace korbu::guard {
namespace {

int g_stopFd = -1;

void OnStopSignal(int) {
  const std::uint64_t one = 1;
  (void)!::write(g_stopFd, &one, sizeof one);
}

int Fail(const std::string& message) {
  std::cerr << "korbu-guard: " << cli::ReadableFileName(message) << "\n";
  return 2;
}

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

// Every access waiting and every written file queued holds a descriptor.
void RaiseDescriptorLimit() {
  rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    (void)::setrlimit(RLIMIT_NOFILE, &limit);
  }
}

}  // namespace

int RunGuard(const std::vector<std::string>& args) {
  const GuardParse parsed = ParseGuardArgs(args);
  if (!parsed.error.empty()) return Fail(parsed.error + " (see --help)");
  const GuardOptions& options = parsed.options;
  if (options.help) {
    std::cout << GuardUsage();
    return 0;
  }
  if (options.version) {
    std::cout << "korbu-guard " << KORBU_BUILD_NAME << "\n";
    return 0;
  }
  if (options.status) return PrintGuardStatus(options.statusFile, std::cout, std::cerr);
  if (::geteuid() != 0) return Fail("the guard must run as root");
  if (options.database && !platform::DirectoryExists(*options.database)) {
    return Fail("not a database folder: " + *options.database);
  }

  g_stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (g_stopFd < 0) return Fail("cannot make the stop signal's descriptor");
  InstallStopSignals();
  RaiseDescriptorLimit();

  const std::unique_ptr<EngineStartup> startup = MakeEngineStartup(options.database.value_or(std::string()));
  const EngineInfo engine = StartEngine(*startup, true);
  if (options.database && !engine.loaded) {
    return Fail("the databases of " + *options.database + " did not load: " + engine.loaded.Reason());
  }
  if (!engine.loaded) std::cerr << "korbu-guard: engine not loaded: " << engine.loaded.Reason() << "\n";
  TClamAV* scanner = startup->Engine();
  if (scanner != nullptr) scanner->SetScanOptions(kScanOptionsWord);

  ScanContext context;
  context.engine = scanner;
  std::unique_ptr<cache::VerdictCache> verdicts;
  if (auto opened = cache::VerdictCache::OpenForUser(); !opened) {
    std::cerr << "korbu-guard: verdict cache not used: " << opened.error().reason << "\n";
  } else if (const Status ready = (*opened)->BeginScan(cache::VerdictSettings{scanner, false, std::nullopt}); !ready) {
    std::cerr << "korbu-guard: verdict cache not used: " << ready.error().reason << "\n";
  } else {
    verdicts = std::move(*opened);
    context.cache = verdicts.get();
  }

  GuardStatus status(options.statusFile);
  if (const Status begun = status.Begin(UtcNow()); !begun) {
    return Fail("cannot keep the status: " + begun.error().reason);
  }
  GuardReport report(ReportSettings{options.syslog, options.notify, options.quarantine}, status);

  Expected<FanotifyGroup> group = FanotifyGroup::Create();
  if (!group) {
    status.End();
    return Fail(group.error().reason);
  }
  for (const std::string& path : options.paths) {
    if (const Status marked = group->MarkMount(path); !marked) {
      status.End();
      return Fail(marked.error().reason);
    }
    report.Watching(path + " (its whole mount)");
  }

  {
    AccessLoop loop(*group, context, report, options.timeout, options.workers,
                    options.spin ? IdleSpinners::ThreadsForProcessors() : 0);
    VolumeWalks walks([&](std::string path) { loop.JudgeNamed(std::move(path)); });
    MountWatcher watcher(options.mountFolders, [&](const std::string& mountPoint) {
      if (const Status marked = group->MarkMount(mountPoint); !marked) {
        report.Info(marked.error().reason);
        return;
      }
      report.Watching(mountPoint + " (removable, scanned now)");
      walks.Start(mountPoint);
    });
    if (options.removable) {
      if (const Status opened = watcher.Open(); !opened) {
        status.End();
        return Fail(opened.error().reason);
      }
      report.Info("watching removable volumes");
    }
    report.Info("ready");
    loop.Run(g_stopFd, options.removable ? watcher.Fd() : -1, [&] { watcher.Changed(); });
    report.Info("stopping: every waiting access is let go");
  }
  status.End();
  report.Info("stopped");
  return 0;
}

}  // namespace korbu::guard
