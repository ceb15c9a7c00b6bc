#pragma once
// How the guard's threads are scheduled. Judging a file that nobody waits for (a
// file written, a new volume's) yields the processor at once to every other
// program, so that a program writing many files never waits behind the guard's
// own work; should such a judgement wait too long for a processor (a busy
// machine), it is raised to a low priority of its own. The event thread asks for
// short slices, so that an access waiting for its answer gets it without waiting
// out whatever else runs.

#include <sys/types.h>

namespace korbu::guard {

/// The thread tid runs only where no other program wants the processor.
void ScheduleIdle(pid_t tid);
/// The thread tid runs as a normal thread at nice.
void ScheduleNormal(pid_t tid, int nice);
/// The calling thread asks the scheduler for short slices (kernels from 6.12
/// honour it; older ones keep their own).
void AskShortSlices();

}  // namespace korbu::guard
