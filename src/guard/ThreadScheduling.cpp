#include "guard/ThreadScheduling.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace korbu::guard {
namespace {

// The shortest slice the scheduler grants: an answer takes a few microseconds.
constexpr std::uint64_t kShortSliceNs = 100 * 1000;

// The kernel's struct sched_attr (its first version); glibc has no wrapper, and
// the kernel's header clashes with glibc's <sched.h>.
struct SchedAttr {
  std::uint32_t size;
  std::uint32_t policy;
  std::uint64_t flags;
  std::int32_t nice;
  std::uint32_t priority;
  std::uint64_t runtime;
  std::uint64_t deadline;
  std::uint64_t period;
};

}  // namespace

void ScheduleIdle(pid_t tid) {
  const sched_param none{};
  (void)::sched_setscheduler(tid, SCHED_IDLE, &none);
}

void ScheduleNormal(pid_t tid, int nice) {
  const sched_param none{};
  (void)::sched_setscheduler(tid, SCHED_OTHER, &none);
  (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);
}

void AskShortSlices() {
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, 0);
  SchedAttr attr{};
  attr.size = sizeof attr;
  attr.policy = SCHED_OTHER;
  attr.nice = errno == 0 ? nice : 0;
  attr.runtime = kShortSliceNs;
  (void)::syscall(SYS_sched_setattr, 0, &attr, 0U);
}

}  // namespace korbu::guard
