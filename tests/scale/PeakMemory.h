#pragma once
// The process's peak resident size, for checks that memory stays flat.

#include <cstdint>

namespace korbu::test {

/// VmHWM of this process in KiB; -1 when it cannot be read.
std::int64_t PeakResidentKiB();

/// Brings the peak back down to the present resident size, so that a measurement
/// is not hidden by an earlier peak; false when the kernel does not allow it.
bool ResetPeakResident();

}  // namespace korbu::test
