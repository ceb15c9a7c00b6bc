#include "platform/LocalTime.h"

#include "platform/win32/WindowsSupport.h"

namespace korbu::platform {

std::optional<LocalDateTime> FileTimeToLocalTime(std::int64_t fileTime) {
  if (fileTime < 0) return std::nullopt;
  FILETIME utc;
  utc.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(fileTime) & 0xFFFFFFFFu);
  utc.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(fileTime) >> 32);
  SYSTEMTIME utcParts;
  SYSTEMTIME local;
  if (!::FileTimeToSystemTime(&utc, &utcParts)) return std::nullopt;
  if (!::SystemTimeToTzSpecificLocalTime(nullptr, &utcParts, &local)) return std::nullopt;
  LocalDateTime out;
  out.year = local.wYear;
  out.month = local.wMonth;
  out.day = local.wDay;
  out.hour = local.wHour;
  out.minute = local.wMinute;
  out.second = local.wSecond;
  out.millisecond = local.wMilliseconds;
  return out;
}

}  // namespace korbu::platform
