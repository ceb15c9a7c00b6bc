#pragma once
// The directory entry record that the search tests and reports, and the local
// date-time form of its file times.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/FileSystem.h"

namespace korbu {

struct TSearchRec {
  std::string Name;        // without its folder
  std::uint32_t Size = 0;  // low 32 bits of the size in bytes
  std::uint64_t FullSize = 0;  // the whole size: what the size test compares
  std::uint32_t Attr = 0;  // Windows attribute bits
  std::int32_t Time = 0;   // local last-write time packed as DOS date and time; 0 if out of range
  // File times as the platform gives them (100-ns ticks since 1601-01-01 UTC).
  std::int64_t CreationTime = 0;
  std::int64_t LastAccessTime = 0;
  std::int64_t LastWriteTime = 0;
};

/// The record of one entry the platform listed.
TSearchRec MakeSearchRec(const platform::EntryInfo& info);

/// A file time as a local date-time: days since 1899-12-30, the time of day as the
/// fraction (before that day the day count is negative and the fraction is taken
/// off it). Empty when the time cannot be converted.
std::optional<double> FileTimeToDateTime(std::int64_t fileTime);

/// Whole-day part and (non-negative) time-of-day part of a date-time.
double DatePart(double dateTime);
double TimePart(double dateTime);

}  // namespace korbu
