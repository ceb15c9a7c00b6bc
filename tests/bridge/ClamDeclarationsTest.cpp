// The bridge's own declarations of libclamav's interface against Debian's
// clamav.h: a value or layout that drifted would make every call misbehave.

#include <clamav.h>
#include <gtest/gtest.h>

#include <cstddef>

#include "bridge/ClamTypes.h"

namespace korbu::bridge {
namespace {

namespace own = clam;

#define SAME_ENUM(name) EXPECT_EQ(static_cast<int>(own::name), static_cast<int>(::name)) << #name

TEST(ClamDeclarations, MatchDebiansHeader) {
  SAME_ENUM(CL_SUCCESS);
  SAME_ENUM(CL_VIRUS);
  SAME_ENUM(CL_ENULLARG);
  SAME_ENUM(CL_EARG);
  SAME_ENUM(CL_EOPEN);
  SAME_ENUM(CL_EMEM);
  SAME_ENUM(CL_EMAXSIZE);
  SAME_ENUM(CL_EVERIFY);
  SAME_ENUM(CL_ERROR);
  SAME_ENUM(CL_ELAST_ERROR);
  SAME_ENUM(CL_ENGINE_MAX_SCANSIZE);
  SAME_ENUM(CL_ENGINE_MAX_FILESIZE);
  SAME_ENUM(CL_ENGINE_MAX_RECURSION);
  SAME_ENUM(CL_ENGINE_MAX_FILES);
  SAME_ENUM(CL_ENGINE_DISABLE_CACHE);
  SAME_ENUM(CL_MSG_INFO_VERBOSE);
  SAME_ENUM(CL_MSG_WARN);
  SAME_ENUM(CL_MSG_ERROR);

  EXPECT_EQ(own::kScanGeneralHeuristics, CL_SCAN_GENERAL_HEURISTICS);
  EXPECT_EQ(own::kScanParseArchive, CL_SCAN_PARSE_ARCHIVE);
  EXPECT_EQ(own::kScanParseMail, CL_SCAN_PARSE_MAIL);
  EXPECT_EQ(own::kScanParseOle2, CL_SCAN_PARSE_OLE2);
  EXPECT_EQ(own::kScanParseHtml, CL_SCAN_PARSE_HTML);
  EXPECT_EQ(own::kScanParsePe, CL_SCAN_PARSE_PE);
  EXPECT_EQ(own::kScanParseElf, CL_SCAN_PARSE_ELF);
  EXPECT_EQ(own::kScanParsePdf, CL_SCAN_PARSE_PDF);
  EXPECT_EQ(own::kScanParseSwf, CL_SCAN_PARSE_SWF);
  EXPECT_EQ(own::kScanParseHwp3, CL_SCAN_PARSE_HWP3);
  EXPECT_EQ(own::kScanParseXmlDocs, CL_SCAN_PARSE_XMLDOCS);
  EXPECT_EQ(own::kScanParseOneNote, CL_SCAN_PARSE_ONENOTE);
  EXPECT_EQ(own::kScanHeuristicBroken, CL_SCAN_HEURISTIC_BROKEN);
  EXPECT_EQ(own::kScanHeuristicExceedsMax, CL_SCAN_HEURISTIC_EXCEEDS_MAX);
  EXPECT_EQ(own::kScanHeuristicEncryptedArchive, CL_SCAN_HEURISTIC_ENCRYPTED_ARCHIVE);
  EXPECT_EQ(own::kScanHeuristicEncryptedDoc, CL_SCAN_HEURISTIC_ENCRYPTED_DOC);
  EXPECT_EQ(own::kDbStandardOptions, static_cast<unsigned int>(CL_DB_STDOPT));
  EXPECT_EQ(own::kInitDefault, static_cast<unsigned int>(CL_INIT_DEFAULT));
  EXPECT_EQ(own::kCountPrecision, static_cast<unsigned long>(CL_COUNT_PRECISION));

  EXPECT_EQ(sizeof(own::cl_error_t), sizeof(::cl_error_t));
  EXPECT_EQ(sizeof(own::cl_engine_field), sizeof(::cl_engine_field));
  EXPECT_EQ(sizeof(own::cl_msg), sizeof(::cl_msg));
  EXPECT_EQ(sizeof(own::cl_scan_options), sizeof(::cl_scan_options));
  EXPECT_EQ(offsetof(own::cl_scan_options, general), offsetof(::cl_scan_options, general));
  EXPECT_EQ(offsetof(own::cl_scan_options, parse), offsetof(::cl_scan_options, parse));
  EXPECT_EQ(offsetof(own::cl_scan_options, heuristic), offsetof(::cl_scan_options, heuristic));
  EXPECT_EQ(offsetof(own::cl_scan_options, mail), offsetof(::cl_scan_options, mail));
  EXPECT_EQ(offsetof(own::cl_scan_options, dev), offsetof(::cl_scan_options, dev));
}

}  // namespace
}  // namespace korbu::bridge
