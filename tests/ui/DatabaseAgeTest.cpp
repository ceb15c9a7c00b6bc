// The word about the databases' age on the window's date labels.
#include <gtest/gtest.h>

#include "ui/DatabaseAge.h"

namespace korbu {
namespace {

using namespace std::chrono;

TEST(DatabaseAgeTip, WarnsOfTheNewestDatabaseOnlyWhenItIsOld) {
  const sys_days today = 2026y / December / 10;
  EXPECT_EQ(DatabaseAgeTip("22 Jun 2021", "", today), "Engine: databases of 22 Jun 2021, 1997 days old");
  // A fresh daily set makes an old main one current.
  EXPECT_EQ(DatabaseAgeTip("22 Jun 2021", "9 Dec 2026", today), "");
  EXPECT_EQ(DatabaseAgeTip("3 Dec 2026", "", today), "");
  EXPECT_EQ(DatabaseAgeTip("2 Dec 2026", "", today), "Engine: databases of 2 Dec 2026, 8 days old");
}

TEST(DatabaseAgeTip, SaysNothingWhereNoDateIsShownAndWarnsOfDatesThatNameNoDay) {
  const sys_days today = 2026y / December / 10;
  EXPECT_EQ(DatabaseAgeTip("", "", today), "");
  EXPECT_EQ(DatabaseAgeTip("31 Feb 2021", "", today), "Engine: the databases carry no date");
}

}  // namespace
}  // namespace korbu
