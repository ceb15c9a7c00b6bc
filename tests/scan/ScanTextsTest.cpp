#include <gtest/gtest.h>

#include "scan/ScanTexts.h"

namespace korbu {
namespace {

TEST(ScanTexts, LabelsAsTheWindowShowsThem) {
  EXPECT_EQ(SummaryLine(1520, 230), "1520 file(s) and 230 Folder(s) scanned. Scan is finished...");
  EXPECT_EQ(SignatureLabel(0), "16 viruses");
  EXPECT_EQ(SignatureLabel(17), "33 viruses");
  EXPECT_EQ(SignatureLabel(999), "1.015 viruses");
  EXPECT_EQ(SignatureLabel(4294967295u), "4.294.967.311 viruses");
  EXPECT_EQ(DatabaseVersionLabel("6", "3"), "[Main: 6; Daily: 3]");
  EXPECT_EQ(DatabaseVersionLabel("", ""), "[Main: ; Daily: ]");
  EXPECT_EQ(MainDateLabel("22 Jun 2021"), "[Main: 22 Jun 2021]");
  EXPECT_EQ(DailyDateLabel(""), "[Daily: ]");
}

}  // namespace
}  // namespace korbu
