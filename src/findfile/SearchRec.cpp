#include "findfile/SearchRec.h"

#include <chrono>
#include <cmath>

#include "platform/LocalTime.h"

namespace korbu {
namespace {

std::int32_t PackDosTime(const platform::LocalDateTime& t) {
  // The DOS form holds the years 1980 to 2107 only.
  if (t.year < 1980 || t.year > 2107) return 0;
  const auto packed = (static_cast<std::uint32_t>(t.year - 1980) << 25) |
                      (static_cast<std::uint32_t>(t.month) << 21) |
                      (static_cast<std::uint32_t>(t.day) << 16) |
                      (static_cast<std::uint32_t>(t.hour) << 11) |
                      (static_cast<std::uint32_t>(t.minute) << 5) |
                      static_cast<std::uint32_t>(t.second / 2);
  return static_cast<std::int32_t>(packed);
}

}  // namespace

TSearchRec MakeSearchRec(const platform::EntryInfo& info) {
  TSearchRec rec;
  rec.Name = info.name;
  rec.Size = static_cast<std::uint32_t>(info.size & 0xFFFFFFFFu);
  rec.FullSize = info.size;
  rec.Attr = info.attributes;
  rec.CreationTime = info.creationTime;
  rec.LastAccessTime = info.lastAccessTime;
  rec.LastWriteTime = info.lastWriteTime;
  if (auto local = platform::FileTimeToLocalTime(info.lastWriteTime)) rec.Time = PackDosTime(*local);
  return rec;
}

std::optional<double> FileTimeToDateTime(std::int64_t fileTime) {
  auto local = platform::FileTimeToLocalTime(fileTime);
  if (!local) return std::nullopt;
  using namespace std::chrono;
  const sys_days day{year{local->year} / month{static_cast<unsigned>(local->month)} /
                     std::chrono::day{static_cast<unsigned>(local->day)}};
  const sys_days base{year{1899} / December / 30};
  const auto days = static_cast<double>((day - base).count());
  const double time =
      (((local->hour * 60.0 + local->minute) * 60.0 + local->second) * 1000.0 + local->millisecond) /
      86400000.0;
  return days >= 0 ? days + time : days - time;
}

double DatePart(double dateTime) { return std::trunc(dateTime); }

double TimePart(double dateTime) { return std::fabs(dateTime - std::trunc(dateTime)); }

}  // namespace korbu
