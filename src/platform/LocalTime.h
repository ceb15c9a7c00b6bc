#pragma once
// Local calendar time of a file time, for tests and records that show times the way
// the user's clock reads them.

#include <cstdint>
#include <optional>

namespace korbu::platform {

/// A moment broken down in the local time zone.
struct LocalDateTime {
  int year = 0;         // e.g. 2024
  int month = 0;        // 1..12
  int day = 0;          // 1..31
  int hour = 0;         // 0..23
  int minute = 0;       // 0..59
  int second = 0;       // 0..59 (60 on a leap second)
  int millisecond = 0;  // 0..999
};

/// The local time of a file time (100-nanosecond ticks since 1601-01-01 UTC);
/// empty when the platform cannot convert it (out of its range).
std::optional<LocalDateTime> FileTimeToLocalTime(std::int64_t fileTime);

}  // namespace korbu::platform
