// korbu-scan -d as clamscan takes it, through the real binary: one database file,
// several -d all loaded, and a database that does not load named in the refusal.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <cstdio>
#include <string>

#include "support/CommandRun.h"
#include "support/TempTree.h"

namespace korbu::cli {
namespace {

struct Databases {
  test::TempTree tree;
  std::string hashed = tree.Write("scan/hashed.txt", "korbu hash signature target\n");
  std::string marked = tree.Write("scan/marked.bin", "leading bytes korbu-ndb-marker trailing\n");
  std::string plain = tree.Write("scan/plain.txt", "nothing to see\n");
  // MD5 of hashed.txt, its size, a name.
  std::string hdb = tree.Write("sigs/own.hdb", "c048b617031b50b474d63ceaed450e88:28:Korbu.Test.Hash\n");
  std::string ndb = tree.Write("sigs/own.ndb", "Korbu.Test.Body:0:*:6b6f7262752d6e64622d6d61726b6572\n");
  std::string broken = tree.Write("sigs/broken.ndb", "this is no signature\n");
};

test::CommandRun Scan(const std::string& databases, const std::string& path) {
  const std::string command = std::string(KORBU_SCAN_EXE) + " --no-memory --no-registry --no-cache --no-summary " +
                              databases + " " + test::ShellQuote(path) + " 2>&1";
  return test::FinishCommand(::popen(command.c_str(), "r"));
}

std::string D(const std::string& path) { return "-d " + test::ShellQuote(path); }

bool EngineMissing(const test::CommandRun& run) { return run.output.find("no engine library") != std::string::npos; }

TEST(CliDatabasesEndToEnd, FilesAndSeveralDatabasesAllLoadAndABadOneIsNamed) {
  Databases t;
  const test::CommandRun both = Scan(D(t.hdb) + " " + D(t.ndb), t.tree.Path("scan"));
  if (EngineMissing(both)) GTEST_SKIP() << "no engine library: " << both.output;
  EXPECT_EQ(both.status, 1) << both.output;
  EXPECT_NE(both.output.find(t.hashed + ": Korbu.Test.Hash"), std::string::npos) << both.output;
  EXPECT_NE(both.output.find(t.marked + ": Korbu.Test.Body"), std::string::npos) << both.output;
  EXPECT_EQ(both.output.find(t.plain), std::string::npos) << both.output;

  // The last -d does not replace the others.
  const test::CommandRun one = Scan(D(t.ndb), t.hashed);
  EXPECT_EQ(one.status, 0) << one.output;

  for (const std::string& bad : {t.broken, t.tree.Path("sigs/missing.hdb")}) {
    const test::CommandRun refused = Scan(D(t.hdb) + " " + D(bad), t.hashed);
    EXPECT_EQ(refused.status, 2) << refused.output;
    EXPECT_NE(refused.output.find(bad), std::string::npos) << refused.output;
    EXPECT_EQ(refused.output.find("FOUND"), std::string::npos) << refused.output;  // nothing scanned
  }
}

TEST(CliDatabasesEndToEnd, SignedDatabasesNamedOneByOneKeepTheirVersions) {
  const std::string shared = test::SharedDir();
  if (shared.empty()) GTEST_SKIP() << "the shared test databases (../shared/engine-test-db) are absent";
  Databases t;
  const std::string eicar = t.tree.Write(
      "scan/eicar.com", "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*");
  const std::string db = shared + "/engine-test-db/";
  const test::CommandRun run = Scan(D(db + "main.cvd") + " " + D(db + "daily.cvd") + " " + D(t.hdb) +
                                        " --stdout", t.tree.Path("scan"));
  if (EngineMissing(run)) GTEST_SKIP() << "no engine library: " << run.output;
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find(eicar + ": Eicar-Test-Signature FOUND"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find(t.hashed + ": Korbu.Test.Hash"), std::string::npos) << run.output;

  const std::string version = std::string(KORBU_SCAN_EXE) + " -V " + D(db + "main.cvd") + " " + D(db + "daily.cvd");
  const test::CommandRun shown = test::RunCommand(version);
  EXPECT_NE(shown.output.find("main 6 (22 Jun 2021), daily 3 (22 Jun 2021)"), std::string::npos) << shown.output;
}

// What clamscan parses beyond the desktop program's option word, and its limit of
// the bytes one scan reads: the marker is found only where the engine decodes.
TEST(CliDatabasesEndToEnd, PdfStreamsAreDecodedAndTheScanSizeLimitHolds) {
  Databases t;
  const std::string pdf = t.tree.Write("doc/m.pdf",
                                       "%PDF-1.4\n1 0 obj\n<< /Length 33 /Filter /ASCIIHexDecode >>\nstream\n"
                                       "6b6f7262752d6e64622d6d61726b6572>\nendstream\nendobj\n"
                                       "trailer\n<< /Root 1 0 R >>\n%%EOF\n");
  const test::CommandRun decoded = Scan(D(t.ndb), pdf);
  if (EngineMissing(decoded)) GTEST_SKIP() << "no engine library: " << decoded.output;
  EXPECT_EQ(decoded.status, 1) << decoded.output;
  EXPECT_NE(decoded.output.find(pdf + ": Korbu.Test.Body"), std::string::npos) << decoded.output;
  EXPECT_EQ(Scan(D(t.ndb) + " --scan-pdf=no", pdf).status, 0);

  // Two members of 700,000 bytes before the marked one: over a 1M budget the
  // scan ends with the limit's alert, not with "clean".
  t.tree.Write("tar/a", std::string(700000, 'a'));
  t.tree.Write("tar/b", std::string(700000, 'b'));
  t.tree.Write("tar/c", "korbu-ndb-marker");
  const std::string tar = t.tree.Path("m.tar");
  if (test::RunCommand("tar -cf " + test::ShellQuote(tar) + " -C " + test::ShellQuote(t.tree.Path("tar")) + " a b c")
          .status != 0) {
    GTEST_SKIP() << "tar could not make the archive";
  }
  const std::string whole = D(t.ndb) + " --max-filesize 0";
  EXPECT_NE(Scan(whole, tar).output.find(tar + ": Korbu.Test.Body"), std::string::npos);
  const test::CommandRun limited = Scan(whole + " --max-scansize 1M", tar);
  EXPECT_EQ(limited.status, 1) << limited.output;
  EXPECT_NE(limited.output.find(tar + ": Heuristics.Limits.Exceeded.MaxScanSize FOUND"), std::string::npos)
      << limited.output;
}

}  // namespace
}  // namespace korbu::cli
#endif
