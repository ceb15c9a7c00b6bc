#include "platform/LocalTime.h"

#include <ctime>

namespace korbu::platform {

std::optional<LocalDateTime> FileTimeToLocalTime(std::int64_t fileTime) {
  constexpr std::int64_t kTicksPerSecond = 10000000;
  constexpr std::int64_t kEpochDifference = 11644473600LL;  // seconds 1601 -> 1970
  // Floor division, so that times before 1970 keep a positive sub-second part.
  std::int64_t seconds = fileTime / kTicksPerSecond;
  std::int64_t ticks = fileTime % kTicksPerSecond;
  if (ticks < 0) {
    ticks += kTicksPerSecond;
    --seconds;
  }
  const auto unixSeconds = static_cast<std::time_t>(seconds - kEpochDifference);
  struct tm parts {};
  if (::localtime_r(&unixSeconds, &parts) == nullptr) return std::nullopt;
  LocalDateTime out;
  out.year = parts.tm_year + 1900;
  out.month = parts.tm_mon + 1;
  out.day = parts.tm_mday;
  out.hour = parts.tm_hour;
  out.minute = parts.tm_min;
  out.second = parts.tm_sec;
  out.millisecond = static_cast<int>(ticks / 10000);
  return out;
}

}  // namespace korbu::platform
