#pragma once
// The C library's heap, set for a process that scans. libclamav takes and gives
// back a few megabytes for every file it scans (more with larger databases); by
// default the C library hands blocks of that size back to the system each time,
// so every file costs fresh pages: page faults, and flushes of every core's
// address cache while other threads scan.

namespace korbu::platform {

/// Keeps freed blocks of up to 32 MiB in the process for reuse, and up to 64 MiB
/// free at the top of a heap before any is given back. Call it before scanning;
/// where the C library has no such settings it does nothing.
void KeepFreedMemoryForReuse();

}  // namespace korbu::platform
