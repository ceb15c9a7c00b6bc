// Which signatures a database update added, and when that cannot be told safely.
#include <gtest/gtest.h>

#include "engine/SignatureDelta.h"
#include "engine/SignatureLines.h"
#include "platform/Sha256.h"
#include "support/TempTree.h"

namespace korbu {
namespace {
using test::TempTree;

// A loose database set: file name to content.
std::vector<RecordedDatabase> Set(const TempTree& tree, const std::string& folder,
                                  const std::vector<std::pair<std::string, std::string>>& files) {
  std::vector<RecordedDatabase> set;
  for (const auto& [name, content] : files) {
    const std::string path = tree.Write(folder + "/" + name, content);
    Expected<SignatureRecord> record = RecordDatabase(path);
    EXPECT_TRUE(record) << record.Reason();
    set.push_back({path, platform::Sha256Hex(content), record ? *record : SignatureRecord{}});
  }
  return set;
}

constexpr char kBody[] = "Old.Body:0:*:6f6c64206f6e65\n";
constexpr char kHash[] = "44d88612fea8a8f36de82e1278abb02f:68:Old.Hash\n";

TEST(SignatureDelta, OnlyTheAddedSignaturesGoIntoTheSmallEngine) {
  TempTree tree;
  const auto before = Set(tree, "a", {{"x.ndb", kBody}, {"y.hdb", kHash}, {"z.fp", "aa:1:ok\n"}});
  const auto now = Set(tree, "b",
                       {{"x.ndb", std::string(kBody) + "New.Body:0:*:6e6577\n# a comment\n"},
                        {"y.hdb", kHash},
                        {"z.fp", "aa:1:ok\nbb:2:also\n"},
                        {"t.ftm", "0:0:4d5a:PE:CL_TYPE_ANY:CL_TYPE_MSEXE\n"}});
  // An added file-type rule is a change the small engine cannot judge...
  EXPECT_EQ(PlanDelta(before, now).kind, DeltaPlan::Kind::Full);
  // ...while the same rule on both sides goes into it whole, with every allowance.
  const auto withTypes = Set(tree, "c", {{"x.ndb", kBody}, {"y.hdb", kHash}, {"z.fp", "aa:1:ok\n"},
                                         {"t.ftm", "0:0:4d5a:PE:CL_TYPE_ANY:CL_TYPE_MSEXE\n"}});
  const DeltaPlan plan = PlanDelta(withTypes, now);
  ASSERT_EQ(plan.kind, DeltaPlan::Kind::Small) << plan.reason;
  EXPECT_EQ(plan.newSignatures, 1u);
  EXPECT_TRUE(plan.official.empty());
  EXPECT_EQ(plan.local.at("added.ndb"), "New.Body:0:*:6e6577\n");
  EXPECT_EQ(plan.local.at("allowed.fp"), "aa:1:ok\nbb:2:also\n");
  EXPECT_EQ(plan.local.at("shaping.ftm"), "0:0:4d5a:PE:CL_TYPE_ANY:CL_TYPE_MSEXE\n");
  EXPECT_EQ(plan.local.count("added.hdb"), 0u);

  // A signature moved to another file, one removed, an allowance added: nothing new.
  const auto moved = Set(tree, "d", {{"w.ndb", kBody}, {"z.fp", "aa:1:ok\ncc:3:more\n"}});
  EXPECT_EQ(PlanDelta(before, moved).kind, DeltaPlan::Kind::Unchanged);
}

TEST(SignatureDelta, JudgesInFullWhatCannotBeToldLineByLine) {
  TempTree tree;
  const auto before = Set(tree, "a", {{"x.ndb", kBody}, {"z.fp", "aa:1:ok\n"}, {"i.ign2", "Some.Sig\n"}});
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> now;
  };
  const Case cases[] = {
      {"allowance removed", {{"x.ndb", kBody}, {"i.ign2", "Some.Sig\n"}}},
      {"ignore entry removed", {{"x.ndb", kBody}, {"z.fp", "aa:1:ok\n"}}},
      {"added signature named by an ignore entry",
       {{"x.ndb", std::string(kBody) + "Some.Sig:0:*:6e6577\n"}, {"z.fp", "aa:1:ok\n"}, {"i.ign2", "Some.Sig\n"}}},
      {"macro group member added",
       {{"x.ndb", std::string(kBody) + "Macro.Part:0:$12:6e6577\n"}, {"z.fp", "aa:1:ok\n"}, {"i.ign2", "Some.Sig\n"}}},
      {"bytecode added", {{"x.ndb", kBody}, {"z.fp", "aa:1:ok\n"}, {"i.ign2", "Some.Sig\n"}, {"b.cbc", "ClamBC\n"}}},
      {"container rule added",
       {{"x.ndb", kBody}, {"z.fp", "aa:1:ok\n"}, {"i.ign2", "Some.Sig\n"}, {"c.cdb", "Name:CL_TYPE_ZIP:*\n"}}},
      {"phishing rule added",
       {{"x.ndb", kBody}, {"z.fp", "aa:1:ok\n"}, {"i.ign2", "Some.Sig\n"}, {"p.pdb", "R:.+\\.example\\.com\n"}}},
  };
  int n = 0;
  for (const Case& c : cases) {
    const auto now = Set(tree, "n" + std::to_string(n++), c.now);
    const DeltaPlan plan = PlanDelta(before, now);
    EXPECT_EQ(plan.kind, DeltaPlan::Kind::Full) << c.what;
    EXPECT_FALSE(plan.reason.empty()) << c.what;
  }
}

TEST(SignatureDelta, SignedContainersAreReadAndTheirLinesKeepTheirOrigin) {
  const std::string db = test::SharedDir().empty() ? std::string() : test::SharedDir() + "/engine-test-db";
  if (db.empty()) GTEST_SKIP() << "no shared test databases";
  std::vector<std::string> members;
  ASSERT_TRUE(ReadSignatureLines(db + "/main.cvd", [&](std::string_view member, std::string_view) {
    if (members.empty() || members.back() != member) members.emplace_back(member);
  }));
  EXPECT_NE(std::find(members.begin(), members.end(), "test.hdb"), members.end());
  EXPECT_EQ(std::find(members.begin(), members.end(), "COPYING"), members.end());
  Expected<SignatureRecord> main = RecordDatabase(db + "/main.cvd");
  ASSERT_TRUE(main) << main.Reason();
  EXPECT_TRUE(main->official);
  EXPECT_FALSE(main->detections.empty());
  // The same line from a loose file is another signature: its name gains a suffix.
  TempTree tree;
  Expected<SignatureRecord> loose =
      RecordDatabase(tree.Write("l.hdb", "44d88612fea8a8f36de82e1278abb02f:68:Eicar-Test-Signature\n"));
  ASSERT_TRUE(loose);
  EXPECT_FALSE(std::binary_search(main->detections.begin(), main->detections.end(), loose->detections.at(0)));
  // A container cut short is refused, not read in part.
  const std::string whole = test::ReadFileBytes(db + "/main.cvd");
  EXPECT_FALSE(RecordDatabase(tree.Write("cut.cvd", whole.substr(0, whole.size() / 2))));
}

TEST(SignatureDelta, RecordsSurviveOnlyWhole) {
  TempTree tree;
  Expected<SignatureRecord> record = RecordDatabase(tree.Write("x.ndb", kBody));
  ASSERT_TRUE(record);
  const std::string bytes = SerializeRecord(*record);
  Expected<SignatureRecord> back = ParseRecord(bytes);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->detections, record->detections);
  EXPECT_EQ(back->environment, record->environment);
  EXPECT_FALSE(ParseRecord(bytes.substr(0, bytes.size() - 1)));
  std::string flipped = bytes;
  flipped[12] ^= 1;
  EXPECT_FALSE(ParseRecord(flipped));
}

}  // namespace
}  // namespace korbu
