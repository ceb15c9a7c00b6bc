#pragma once
// Process-wide set-up of libclamav for the bridge.

#include "bridge/ClamLibrary.h"

namespace korbu::bridge {

/// Binds and initialises libclamav once per process (whichever entry comes
/// first) and returns the result: CL_ERROR when no usable libclamav was found.
clam::cl_error_t EnsureInitialised();

/// From now on libclamav's debug and warning messages reach standard error too;
/// before, only its error messages do.
void EnableDebugMessages();

}  // namespace korbu::bridge
