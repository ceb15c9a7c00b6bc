#include "platform/SystemError.h"

#include <cerrno>
#include <system_error>

namespace korbu::platform {

Error SystemError(int code) {
  if (code == 0) return Failure("unknown error");
  return Error{std::generic_category().message(code), code};
}

Error LastSystemError() { return SystemError(errno); }

}  // namespace korbu::platform
