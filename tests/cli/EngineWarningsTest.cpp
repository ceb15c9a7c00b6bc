#include "cli/EngineWarnings.h"

#include <gtest/gtest.h>

namespace korbu::cli {
namespace {
using namespace std::chrono;

TEST(EngineWarnings, DatabaseDatesAreReadAsTheHeadersWriteThem) {
  EXPECT_EQ(DatabaseDay("22 Jun 2021"), sys_days(2021y / June / 22));
  EXPECT_EQ(DatabaseDay("1 Dec 2026"), sys_days(2026y / December / 1));
  for (const char* bad : {"", "22 Jun", "22 June 2021", "31 Feb 2021", "x Jun 2021", "22 Jun 2021x", " 22 Jun 2021"}) {
    EXPECT_FALSE(DatabaseDay(bad)) << bad;
  }
}

TEST(EngineWarnings, TheNewerSetTellsAndAWeekIsStillCurrent) {
  EngineInfo engine;
  engine.active = true;
  engine.mainDate = "22 Jun 2021";
  engine.dailyDate = "3 Dec 2026";
  EXPECT_TRUE(EngineWarnings(engine, true, sys_days(2026y / December / 10)).empty());
  EXPECT_EQ(EngineWarnings(engine, true, sys_days(2026y / December / 11)),
            std::vector<std::string>{"Engine: databases of 3 Dec 2026, 8 days old"});
  // A daily set older than main: main's date is the one that counts.
  std::swap(engine.mainDate, engine.dailyDate);
  EXPECT_TRUE(EngineWarnings(engine, true, sys_days(2026y / December / 10)).empty());
  engine.mainDate = engine.dailyDate = "garbled";
  EXPECT_EQ(EngineWarnings(engine, true, sys_days(2026y / December / 10)),
            std::vector<std::string>{"Engine: the databases carry no date"});
}

TEST(EngineWarnings, AnEngineNotLoadedIsWarnedOfUnlessTurnedOff) {
  EngineInfo engine;
  engine.loaded = Failure("main.cvd or main.cld is missing");
  const auto today = sys_days(2026y / December / 10);
  EXPECT_EQ(EngineWarnings(engine, true, today),
            std::vector<std::string>{"Engine: not loaded, the own detection alone"});
  EXPECT_TRUE(EngineWarnings(engine, false, today).empty());
}

}  // namespace
}  // namespace korbu::cli
