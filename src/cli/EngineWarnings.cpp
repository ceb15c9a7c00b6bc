#include "cli/EngineWarnings.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string_view>

namespace korbu::cli {
namespace {

constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::optional<int> Number(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::chrono::sys_days> DatabaseDay(const std::string& date) {
  const std::string_view text(date);
  const std::size_t first = text.find(' ');
  const std::size_t second = first == std::string_view::npos ? first : text.find(' ', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  const auto day = Number(text.substr(0, first));
  const auto year = Number(text.substr(second + 1));
  const auto month = std::find(kMonths.begin(), kMonths.end(), text.substr(first + 1, second - first - 1));
  if (!day || !year || month == kMonths.end()) return std::nullopt;
  const std::chrono::year_month_day ymd{std::chrono::year(*year),
                                        std::chrono::month(static_cast<unsigned>(month - kMonths.begin() + 1)),
                                        std::chrono::day(static_cast<unsigned>(*day))};
  if (!ymd.ok()) return std::nullopt;
  return std::chrono::sys_days(ymd);
}

std::vector<std::string> EngineWarnings(const EngineInfo& engine, bool engineWanted, std::chrono::sys_days today) {
  if (!engineWanted) return {};
  if (!engine.active) return {"Engine: not loaded, the own detection alone"};
  // The newer of the two sets tells how current the signatures are.
  std::optional<std::chrono::sys_days> newest;
  std::string newestText;
  for (const std::string* date : {&engine.mainDate, &engine.dailyDate}) {
    const auto day = DatabaseDay(*date);
    if (day && (!newest || *day > *newest)) {
      newest = day;
      newestText = *date;
    }
  }
  if (!newest) return {"Engine: the databases carry no date"};
  const auto age = (today - *newest).count();
  if (age <= kOldDatabaseDays) return {};
  return {"Engine: databases of " + newestText + ", " + std::to_string(age) + " days old"};
}

}  // namespace korbu::cli
