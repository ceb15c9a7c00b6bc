#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <clamav.h>

#include "bridge/LegacyOptions.h"
#include "bridge/VirusName.h"

namespace korbu::bridge {
namespace {

TEST(VirusNameCopy, LongNamesAreCutInsideTheBuffer) {
  char buffer[kNameBufferSize + 8];
  std::memset(buffer, '#', sizeof buffer);
  std::string longName(700, 'V');
  CopyVirusName(longName.c_str(), buffer);
  EXPECT_EQ(std::strlen(buffer), kNameBufferSize - 1);
  EXPECT_EQ(buffer[kNameBufferSize - 1], '\0');
  EXPECT_EQ(buffer[kNameBufferSize], '#') << "written past the name buffer";

  std::string exact(kNameBufferSize - 1, 'E');
  CopyVirusName(exact.c_str(), buffer);
  EXPECT_EQ(std::string(buffer), exact);

  CopyVirusName("Eicar-Test-Signature", buffer);
  EXPECT_STREQ(buffer, "Eicar-Test-Signature");
  CopyVirusName(nullptr, buffer);
  EXPECT_STREQ(buffer, "");
  CopyVirusName("ignored", nullptr);  // must not crash
}

TEST(LegacyOptionWord, MapsTheProgramsWords) {
  clam::cl_scan_options o = MapLegacyOptions(878);
  EXPECT_EQ(o.parse, static_cast<uint32_t>(CL_SCAN_PARSE_MAIL | CL_SCAN_PARSE_OLE2 | CL_SCAN_PARSE_PE));
  EXPECT_EQ(o.heuristic,
            static_cast<uint32_t>(CL_SCAN_HEURISTIC_ENCRYPTED_ARCHIVE | CL_SCAN_HEURISTIC_ENCRYPTED_DOC |
                                  CL_SCAN_HEURISTIC_BROKEN | CL_SCAN_HEURISTIC_EXCEEDS_MAX));
  EXPECT_EQ(o.general, static_cast<uint32_t>(CL_SCAN_GENERAL_HEURISTICS));
  EXPECT_EQ(o.mail, 0u);

  clam::cl_scan_options archive = MapLegacyOptions(879);
  EXPECT_EQ(archive.parse, o.parse | CL_SCAN_PARSE_ARCHIVE);
  EXPECT_EQ(archive.heuristic, o.heuristic);

  clam::cl_scan_options all = MapLegacyOptions(1023);
  EXPECT_EQ(all.parse & CL_SCAN_PARSE_HTML, static_cast<uint32_t>(CL_SCAN_PARSE_HTML));

  // MAILURL and the bits above ALGORITHMIC have no successor.
  clam::cl_scan_options none = MapLegacyOptions(CLAM_SCAN_MAILURL | 0xFC00u);
  EXPECT_EQ(none.general | none.parse | none.heuristic | none.mail | none.dev, 0u);
}

TEST(LegacyLimits, PositiveFieldsReplaceTheDefaults) {
  EngineLimitValues defaults{17, 10000, 100 << 20};
  EXPECT_EQ(LimitsFromRecord(nullptr, defaults), defaults);
  clam_limits record{6, 1000, 1000, 0, 0, 10485760};
  EXPECT_EQ(LimitsFromRecord(&record, defaults), (EngineLimitValues{6, 1000, 10485760}));
  record.maxreclevel = 0;
  record.maxfiles = -5;
  EXPECT_EQ(LimitsFromRecord(&record, defaults), (EngineLimitValues{17, 10000, 10485760}));
}

}  // namespace
}  // namespace korbu::bridge
