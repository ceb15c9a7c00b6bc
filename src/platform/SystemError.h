#pragma once
// The reason the system gave for the call that just failed, as an Error.

#include <string_view>

#include "platform/Expected.h"

namespace korbu::platform {

/// The error of the last failed system call on this thread (errno on POSIX,
/// GetLastError() on Windows), in the system's words. Call it right after the
/// failing call, before anything else can change that state.
Error LastSystemError();

/// The Error for a system error code, in the system's words.
Error SystemError(int code);

}  // namespace korbu::platform
