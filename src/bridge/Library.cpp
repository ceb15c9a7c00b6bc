#include "bridge/Library.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace korbu::bridge {
namespace {

using namespace clam;

std::atomic<bool> debugMessages{false};

// libclamav warns on every load that test or stale databases are old; the
// program has no log, so only errors are passed on unless debugging is on.
extern "C" void PrintMessage(cl_msg severity, const char* fullmsg, const char* /*msg*/,
                             void* /*context*/) {
  if (fullmsg == nullptr) return;
  if (severity >= CL_MSG_ERROR || debugMessages.load(std::memory_order_relaxed)) {
    std::fputs(fullmsg, stderr);
  }
}

}  // namespace

cl_error_t EnsureInitialised() {
  static std::once_flag once;
  static cl_error_t result = CL_ERROR;
  std::call_once(once, [] {
    const ClamFunctions* clam = Clam();
    if (clam == nullptr) return;
    clam->set_clcb_msg(PrintMessage);
    result = clam->init(kInitDefault);
  });
  return result;
}

void EnableDebugMessages() {
  debugMessages.store(true, std::memory_order_relaxed);
  if (const ClamFunctions* clam = Clam()) clam->debug();
}

}  // namespace korbu::bridge
