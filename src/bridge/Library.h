#pragma once
// Process-wide set-up of libclamav for the bridge.

#include <clamav.h>

namespace korbu::bridge {

/// Initialises libclamav once per process (whichever entry comes first) and
/// returns the result of that initialisation.
cl_error_t EnsureInitialised();

/// From now on libclamav's debug and warning messages reach standard error too;
/// before, only its error messages do.
void EnableDebugMessages();

}  // namespace korbu::bridge
