// The forms names and data take between the program, the registry and the Wine
// helper: WTF-8 names, wide string data, and the helper's hex protocol.

#include <gtest/gtest.h>

#include "platform/Registry.h"
#include "platform/Utf16Text.h"
#include "platform/wine/RegProtocol.h"

namespace korbu {
namespace {

using platform::Utf16ToWtf8;
using platform::Wtf8ToUtf16;
using winereg::Operation;
using winereg::Result;

TEST(RegistryNames, EveryUnitSequenceRoundTripsThroughWtf8) {
  const std::u16string units[] = {
      std::u16string(u"a\0b", 3),             // a zero unit
      u"\xd800", u"x\xdfff" u"y",             // lone surrogates
      u"\xd800\xdc00", u"\xdbff\xdfff",       // pairs: plain UTF-8
      u"\xdc00\xd800",                        // low before high: two lone ones
      u"Tok\u4e2d\u6587 \u00e9",
  };
  for (const std::u16string& text : units) EXPECT_EQ(Wtf8ToUtf16(Utf16ToWtf8(text)), text);
  EXPECT_EQ(Utf16ToWtf8(u"\xd83d\xde00"), "\xf0\x9f\x98\x80");
  EXPECT_EQ(Utf16ToWtf8(u"\xd800"), "\xed\xa0\x80");
  // Bytes that begin no sequence become U+FFFD, each.
  EXPECT_EQ(Wtf8ToUtf16("a\xff\xc3"), u"a\xfffd\xfffd");
  EXPECT_EQ(Wtf8ToUtf16("\xc0\xaf"), u"\xfffd\xfffd");  // overlong

  // String data as text: up to the first zero unit, an odd last byte left out.
  EXPECT_EQ(platform::RegistryText(platform::RegistryStringData("C:\\\xe4\xb8\xad.exe")), "C:\\\xe4\xb8\xad.exe");
  EXPECT_EQ(platform::RegistryText(std::string("a\0\0\0b\0", 6)), "a");
  EXPECT_EQ(platform::RegistryText(std::string("a\0b", 3)), "a");
}

TEST(WineHelperProtocol, RequestsCarryAnyNameAndData) {
  std::vector<Operation> ops(5);
  ops[0] = {Operation::Kind::Read, platform::kHkeyCurrentUser, u"Software\\Run", {}, 0, {}};
  ops[1] = {Operation::Kind::Set, platform::kHkeyLocalMachine, u"K", std::u16string(u"a\0\xd800 \n", 5), 0xFFFFFFFF,
            std::string("\0\n .\r", 5)};
  ops[2] = {Operation::Kind::Delete, platform::kHkeyCurrentUser, u"K", u"", 0, {}};
  ops[3] = {Operation::Kind::CreateKey, platform::kHkeyCurrentUser, u"", {}, 0, {}};
  ops[4] = {Operation::Kind::DeleteEmptyKey, platform::kHkeyCurrentUser, u"K\\L", {}, 0, {}};
  const std::string request = winereg::FormatRequest(ops);
  // Nothing but hex digits, '-', blanks, letters of the verbs and line ends.
  EXPECT_EQ(request.find_first_not_of("0123456789abcdefKORBUEGSDCX -.\n"), std::string::npos) << request;
  const auto parsed = winereg::ParseRequest(request);
  ASSERT_TRUE(parsed) << parsed.Reason();
  ASSERT_EQ(parsed->size(), ops.size());
  for (std::size_t i = 0; i < ops.size(); ++i) {
    EXPECT_EQ((*parsed)[i].kind, ops[i].kind);
    EXPECT_EQ((*parsed)[i].root, ops[i].root);
    EXPECT_EQ((*parsed)[i].key, ops[i].key);
    EXPECT_EQ((*parsed)[i].name, ops[i].name);
    EXPECT_EQ((*parsed)[i].type, ops[i].type);
    EXPECT_EQ((*parsed)[i].data, ops[i].data);
  }
  EXPECT_FALSE(winereg::ParseRequest(request.substr(0, request.size() - 2)));  // no end line
}

TEST(WineHelperProtocol, RepliesAreTakenOnlyWhole) {
  const std::vector<Operation> ops = {
      {Operation::Kind::Read, platform::kHkeyCurrentUser, u"Run", {}, 0, {}},
      {Operation::Kind::Read, platform::kHkeyCurrentUser, u"Gone", {}, 0, {}},
      {Operation::Kind::Set, platform::kHkeyCurrentUser, u"Run", u"x", 1, "y"},
  };
  std::vector<Result> results(3);
  results[0].outcome = Result::Outcome::Done;
  results[0].values = {{std::u16string(u"n\0m", 3), 1, std::string("\0\1", 2)}, {u"", 3, ""}};
  results[1].outcome = Result::Outcome::NotFound;
  results[2].outcome = Result::Outcome::Failed;
  results[2].code = 5;
  // Whatever Wine printed before the answer is passed over.
  const std::string reply = "fixme:something\r\n" + winereg::FormatReply(results);
  const auto parsed = winereg::ParseReply(reply, ops);
  ASSERT_TRUE(parsed) << parsed.Reason();
  ASSERT_EQ(parsed->size(), 3u);
  EXPECT_EQ((*parsed)[0].values.size(), 2u);
  EXPECT_EQ((*parsed)[0].values[0].name, std::u16string(u"n\0m", 3));
  EXPECT_EQ((*parsed)[0].values[0].data, std::string("\0\1", 2));
  EXPECT_EQ((*parsed)[1].outcome, Result::Outcome::NotFound);
  EXPECT_EQ((*parsed)[2].code, 5u);

  const std::string whole = winereg::FormatReply(results);
  for (std::size_t cut : {whole.size() - 2, whole.find("V ") + 3, std::size_t{12}})
    EXPECT_FALSE(winereg::ParseReply(whole.substr(0, cut), ops)) << cut;  // cut short
  EXPECT_FALSE(winereg::ParseReply(whole, {ops[0], ops[1]}));  // answers more than was asked
  for (const char* bad : {"K 2\nV 6 1 -\n", "K 1\nV 6g00 1 -\n", "K 1\nV - 100000000 -\n", "K 1\nV - 1\n"}) {
    std::string malformed = "KORBU-REG 1\nOK\n" + std::string(bad) + "NF\nOK\n.\n";
    EXPECT_FALSE(winereg::ParseReply(malformed, ops)) << bad;
  }
  EXPECT_FALSE(winereg::ParseReply("", ops));
}

}  // namespace
}  // namespace korbu
