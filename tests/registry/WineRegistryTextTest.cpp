// The reader and writer of Wine's registry text, without any file.

#include <gtest/gtest.h>

#include <string>

#include "RegistryTestPrefix.h"
#include "platform/Registry.h"
#include "platform/Utf16Text.h"
#include "platform/wine/WineRegistryCodec.h"
#include "platform/wine/WineRegistryText.h"
#include "platform/wine/WineRegistryValue.h"

namespace korbu::platform::wine {
namespace {

using test::kSampleSystemReg;

const WineKeyPath kTypes = {u"Software", u"Wine", u"Types"};
const WineKeyPath kRun = {u"Software", u"Microsoft", u"Windows", u"CurrentVersion", u"Run"};

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

std::string Wide(std::u16string_view text) {
  std::u16string terminated(text);
  terminated.push_back(u'\0');
  return Utf16LeBytes(terminated);
}

std::string ReplaceOnce(std::string text, std::string_view from, std::string_view to) {
  const auto pos = text.find(from);
  EXPECT_NE(pos, std::string::npos) << from;
  if (pos != std::string::npos) text.replace(pos, from.size(), to);
  return text;
}

WineValue Value(std::u16string name, std::uint32_t type, std::string data) {
  return WineValue{std::move(name), type, std::move(data)};
}

TEST(WineRegistryText, ReadsEveryValueForm) {
  const WineRegistryText text{std::string(kSampleSystemReg)};
  ASSERT_TRUE(text.Valid());
  const auto values = text.Values(kTypes);
  ASSERT_EQ(values.size(), 7u);
  EXPECT_EQ(values[0].name, u"");
  EXPECT_EQ(values[0].type, kRegSz);
  EXPECT_EQ(values[0].data, Wide(u"default text"));
  EXPECT_EQ(values[1].type, kRegBinary);
  EXPECT_EQ(values[1].data, Bytes({0, 1, 2, 0xff}));
  EXPECT_EQ(values[2].type, kRegDword);
  EXPECT_EQ(values[2].data, Bytes({0x2a, 0, 0, 0}));
  EXPECT_EQ(values[3].type, kRegExpandSz);
  EXPECT_EQ(values[3].data, Wide(u"%SystemRoot%\\system32"));
  EXPECT_EQ(values[4].name, u"Long");
  ASSERT_EQ(values[4].data.size(), 26u);  // continued on a second line
  EXPECT_EQ(values[4].data[25], 0x19);
  EXPECT_EQ(values[5].type, kRegMultiSz);
  EXPECT_EQ(values[5].data, Wide(std::u16string(u"one\0two\0", 8)));
  EXPECT_EQ(values[6].type, kRegQword);
  EXPECT_EQ(values[6].data, Bytes({1, 0, 0, 0, 0, 0, 0, 0}));

  EXPECT_EQ(text.Find({u"SOFTWARE", u"wine", u"TYPES"}, u"dWoRd")->data, Bytes({0x2a, 0, 0, 0}));
  EXPECT_FALSE(text.Find(kTypes, u"Missing"));
}

TEST(WineRegistryText, DecodesEscapesInNamesAndData) {
  const std::string file =
      "WINE REGISTRY Version 2\n"
      "[Esc\\\\Br\\[ack\\]et] 1\n"
      "\"q\\\"uote\\\\\"=\"a\\\\b\\\"c\\nd\\re\\tf\\0g\"\n"
      "\"hex\"=\"\\xe9\\x00e9a\\x20ac\\x\"\n"
      "\"oct\"=\"\\101\\0012\\7\"\n"
      "\"pair\"=\"\\xd83d\\xde00\"\n"
      "\"utf8\"=\"caf\xc3\xa9 \xe9\xe4\xb8\\\xc3\xa9\xc0\x80\xed\xa0\x80\"\n"
      "[Runs\\\\\\\\Of\\\\] 1\n"
      "\"in runs\"=dword:zz\n";
  const WineRegistryText text{file};
  const WineKeyPath key = {u"Esc", u"Br[ack]et"};
  ASSERT_TRUE(text.KeyExists(key));
  const auto values = text.Values(key);
  ASSERT_EQ(values.size(), 5u);
  EXPECT_EQ(values[0].name, u"q\"uote\\");
  EXPECT_EQ(values[0].data, Wide(std::u16string(u"a\\b\"c\nd\re\tf\0g", 13)));
  EXPECT_EQ(values[1].data, Wide(u"\u00e9\u00e9a\u20acx"));
  EXPECT_EQ(values[2].data, Wide(std::u16string(u"A\u00012\u0007", 4)));
  EXPECT_EQ(values[3].data, Wide(u"\xd83d\xde00"));
  // Raw bytes as wineserver reads them: UTF-8 sequences (a surrogate's too), an
  // unknown escape read as the character after it, and bytes of no sequence
  // (a lone lead byte, a cut sequence, an overlong form) left out.
  EXPECT_EQ(values[4].data, Wide(u"caf\u00e9 \u00e9\xd800"));
  // A header's runs of backslashes part one pair of keys; a dword Wine cannot
  // read is 0, as strtoul makes it.
  EXPECT_EQ(text.Find({u"Runs", u"Of"}, u"in runs")->data, Bytes({0, 0, 0, 0}));
}

TEST(WineRegistryText, WritesValuesAsWineDoes) {
  EXPECT_EQ(FormatValue(Value(u"Dll", kRegMultiSz, Wide(std::u16string(u"cryptnet.dll\0", 13))), "\n"),
            "\"Dll\"=str(7):\"cryptnet.dll\\0\"\n");
  EXPECT_EQ(FormatValue(Value(u"", kRegExpandSz, Wide(u"%x%")), "\n"), "@=str(2):\"%x%\"\n");
  EXPECT_EQ(FormatValue(Value(u"D", kRegDword, Bytes({0x2a, 0, 0, 0x80})), "\n"), "\"D\"=dword:8000002a\n");
  EXPECT_EQ(FormatValue(Value(u"B", kRegBinary, Bytes({1, 0xab})), "\n"), "\"B\"=hex:01,ab\n");
  EXPECT_EQ(FormatValue(Value(u"N", kRegNone, ""), "\n"), "\"N\"=hex(0):\n");
  EXPECT_EQ(FormatValue(Value(u"q\"\\", kRegSz, Wide(u"\u00e9a\u00e9g\u20ac\t\x01" u"5")), "\n"),
            "\"q\\\"\\\\\"=\"\\x00e9a\\xe9g\\x20ac\\t\\0015\"\n");
  // Data that is no terminated UTF-16 text cannot be written as a string.
  EXPECT_EQ(FormatValue(Value(u"S", kRegSz, "ab"), "\n"), "\"S\"=hex(1):61,62\n");
  EXPECT_EQ(FormatValue(Value(u"S", kRegSz, ""), "\n"), "\"S\"=hex(1):\n");
  EXPECT_EQ(FormatValue(Value(u"W", kRegDword, Bytes({1, 2})), "\n"), "\"W\"=hex(4):01,02\n");
  // Only string data has a terminator to leave out; a name keeps its last zero unit.
  EXPECT_EQ(FormatValue(Value(std::u16string(u"n\0", 2), kRegSz, Wide(std::u16string(u"x\0", 2))), "\n"),
            "\"n\\0\"=\"x\\0\"\n");

  // Long lists wrap after 76 columns with a continuation, as in Wine's files.
  const std::string formatted = FormatValue(Value(u"FilterData", kRegBinary, std::string(40, '\x33')), "\n");
  EXPECT_EQ(formatted.substr(0, formatted.find('\n') + 1),
            "\"FilterData\"=hex:33,33,33,33,33,33,33,33,33,33,33,33,33,33,33,33,33,33,33,33,\\\n");
  EXPECT_EQ(formatted.substr(formatted.find('\n') + 1, 5), "  33,");
}

TEST(WineRegistryText, EveryValueSurvivesWritingAndReading) {
  std::u16string units;
  for (char16_t c = 1; c < 0x200; ++c) units.push_back(c);
  units += u"\xd83d\xde00\u20ac0";
  std::string binary;
  for (int i = 0; i < 300; ++i) binary.push_back(static_cast<char>(i));
  const WineValue samples[] = {
      Value(units, kRegSz, Wide(units)),
      Value(u"expand", kRegExpandSz, Wide(u"%PATH%;\\\"x\"")),
      Value(u"multi", kRegMultiSz, Wide(std::u16string(u"a\0\0b\0", 5))),
      Value(u"", kRegBinary, binary),
      Value(u"dword", kRegDword, Bytes({0xff, 0xfe, 0xfd, 0xfc})),
      Value(u"odd", kRegSz, std::string("abc", 3)),
      Value(u"link", kRegLink, Bytes({0x5c, 0})),
      Value(u"big", 0xffffffffu, Bytes({7})),
      Value(std::u16string(u"zero\0", 5), kRegDword, Bytes({1, 2, 3, 4})),
      Value(std::u16string(u"\0", 1), kRegSz, Wide(std::u16string(u"\0", 1))),
  };
  for (const WineValue& sample : samples) {
    const std::string file = "WINE REGISTRY Version 2\n\n[K] 1\n" + FormatValue(sample, "\n");
    const WineRegistryText text{file};
    const auto found = text.Find({u"K"}, sample.name);
    ASSERT_TRUE(found) << file;
    EXPECT_EQ(text.Values({u"K"}).front().name, sample.name) << file;
    EXPECT_EQ(found->type, sample.type) << file;
    EXPECT_EQ(found->data, sample.data) << file;
  }
}

TEST(WineRegistryText, ChangingAValueTouchesOnlyItsLines) {
  const std::string original(kSampleSystemReg);
  const WineRegistryText text{original};

  auto changed = text.WithValue(kRun, Value(u"ZULU", kRegSz, Wide(u"x")), 5);
  ASSERT_TRUE(changed);
  EXPECT_EQ(*changed, ReplaceOnce(original, "\"Zulu\"=\"C:\\\\windows\\\\zulu.exe /quiet\"", "\"Zulu\"=\"x\""));

  // A value spread over two lines is replaced whole.
  changed = text.WithValue(kTypes, Value(u"Long", kRegDword, Bytes({1, 0, 0, 0})), 5);
  ASSERT_TRUE(changed);
  const std::size_t from = original.find("\"Long\"=");
  const std::size_t to = original.find("\"Multi\"");
  EXPECT_EQ(*changed, original.substr(0, from) + "\"Long\"=dword:00000001\n" + original.substr(to));

  // A new value goes between its neighbours in name order.
  changed = text.WithValue(kRun, Value(u"Mike", kRegSz, Wide(u"m")), 5);
  ASSERT_TRUE(changed);
  EXPECT_EQ(*changed, ReplaceOnce(original, "\"Zulu\"=", "\"Mike\"=\"m\"\n\"Zulu\"="));

  auto removed = text.WithoutValue(kTypes, u"long");
  ASSERT_TRUE(removed);
  EXPECT_EQ(*removed, original.substr(0, from) + original.substr(to));
  EXPECT_FALSE(text.WithoutValue(kTypes, u"Nothing"));
  EXPECT_FALSE(text.WithoutValue({u"No", u"Key"}, u"Alpha"));
}

TEST(WineRegistryText, ChangesKeepNamesAndNeighboursWhole) {
  // A raw zero byte ends the line for wineserver, which then cannot read the
  // entry; a name with a zero unit is written with an escape and reads back.
  static constexpr char kFile[] = "WINE REGISTRY Version 2\n[A] 1\n\"Tra\0\"=\"x\"\n";
  const std::string file(kFile, sizeof kFile - 1);
  const std::u16string name(u"Tra\0", 4);
  EXPECT_TRUE(WineRegistryText{file}.Values({u"A"}).empty());
  auto changed = WineRegistryText{file}.WithValue({u"A"}, Value(name, kRegDword, Bytes({1, 2, 3, 4})), 1);
  ASSERT_TRUE(changed);
  EXPECT_EQ(*changed, file + "\"Tra\\0\"=dword:04030201\n");
  const WineRegistryText reread{*changed};
  ASSERT_EQ(reread.Values({u"A"}).size(), 1u);
  EXPECT_EQ(reread.Values({u"A"})[0].name, name);
  EXPECT_EQ(reread.Find({u"A"}, name)->data, Bytes({1, 2, 3, 4}));
  EXPECT_FALSE(reread.Find({u"A"}, u"Tra"));

  // A list whose continuation is a blank line ends there: a new value goes after it,
  // not in between, where it would be taken for the list's next line.
  const std::string hex = "WINE REGISTRY Version 2\n[A] 1\n\"a\"=hex:01,\\\n\n[B] 1\n";
  const WineRegistryText listed{hex};
  ASSERT_EQ(listed.Find({u"A"}, u"a")->data, Bytes({1}));
  changed = listed.WithValue({u"A"}, Value(u"b", kRegDword, Bytes({0, 0, 0, 0})), 1);
  ASSERT_TRUE(changed);
  EXPECT_EQ(*changed, ReplaceOnce(hex, "\n\n[B]", "\n\n\"b\"=dword:00000000\n[B]"));
  const WineRegistryText both{*changed};
  EXPECT_EQ(both.Find({u"A"}, u"a")->data, Bytes({1}));
  EXPECT_TRUE(both.Find({u"A"}, u"b"));
}

TEST(WineRegistryText, NewKeysGoWhereWineWouldPutThem) {
  const std::string original(kSampleSystemReg);
  const WineRegistryText text{original};
  const std::int64_t now = 1700000100;
  const std::string stamp = "] 1700000100\n#time=1da17480207ca00\n";

  // Between its neighbours in the depth-first name order.
  auto changed = text.WithValue({u"Software", u"Microsoft", u"New"}, Value(u"v", kRegDword, Bytes({1, 0, 0, 0})), now);
  ASSERT_TRUE(changed);
  EXPECT_EQ(*changed, ReplaceOnce(original, "[Software\\\\Microsoft\\\\Windows",
                                  "[Software\\\\Microsoft\\\\New" + stamp +
                                      "\"v\"=dword:00000001\n\n[Software\\\\Microsoft\\\\Windows"));

  // At the end, after a blank line.
  changed = text.WithKey({u"Zeta", u"K[1]"}, now);
  ASSERT_TRUE(changed);
  EXPECT_EQ(*changed, original + "\n[Zeta\\\\K\\[1\\]" + stamp);
  const WineRegistryText reread{*changed};
  EXPECT_TRUE(reread.KeyExists({u"zeta", u"k[1]"}));
  EXPECT_TRUE(reread.Values({u"Zeta", u"K[1]"}).empty());

  // Keys that exist, if only through a key below them, are not added again.
  EXPECT_FALSE(text.WithKey({u"software", u"CLASSES"}, now));
  EXPECT_FALSE(text.WithKey({}, now));
  EXPECT_TRUE(text.KeyExists({u"Software", u"Classes", u"exefile"}));
  EXPECT_FALSE(text.KeyExists({u"Software", u"Class"}));

  // A component that is empty or holds a backslash has no header that reads back
  // as it ("[Sof\Korbu]" is the key "SofKorbu"): such a key is refused.
  const WineRegistryText single{"WINE REGISTRY Version 2\n\n[Sof\\Korbu] 1\n"};
  EXPECT_TRUE(single.KeyExists({u"SofKorbu"}));
  for (const WineKeyPath& bad : {WineKeyPath{u"Sof\\Korbu"}, WineKeyPath{u"A", u""}, WineKeyPath{u"\\"}}) {
    EXPECT_FALSE(single.WithValue(bad, Value(u"v", kRegSz, Wide(u"x")), now));
    EXPECT_FALSE(single.WithKey(bad, now));
  }
  changed = single.WithValue({u"SofKorbu"}, Value(u"v", kRegSz, Wide(u"x")), now);
  ASSERT_TRUE(changed);
  EXPECT_EQ(WineRegistryText{*changed}.Find({u"SofKorbu"}, u"v")->data, Wide(u"x"));
  // A last zero unit is part of the key's name.
  changed = single.WithKey({std::u16string(u"Z\0", 2)}, now);
  ASSERT_TRUE(changed);
  EXPECT_TRUE(WineRegistryText{*changed}.KeyExists({std::u16string(u"Z\0", 2)}));
  EXPECT_FALSE(WineRegistryText{*changed}.KeyExists({u"Z"}));

  // A file whose last line has no line end gets one before the new text.
  const WineRegistryText unterminated{"WINE REGISTRY Version 2\n[A] 1\n\"x\"=\"1\""};
  changed = unterminated.WithValue({u"A"}, Value(u"y", kRegSz, Wide(u"2")), now);
  ASSERT_TRUE(changed);
  EXPECT_EQ(*changed, "WINE REGISTRY Version 2\n[A] 1\n\"x\"=\"1\"\n\"y\"=\"2\"\n");
}

TEST(WineRegistryText, KeepsWindowsLineEnds) {
  const WineRegistryText text{"WINE REGISTRY Version 2\r\n\r\n[A] 1\r\n\"x\"=\"1\"\r\n"};
  ASSERT_TRUE(text.Valid());
  EXPECT_EQ(text.Find({u"A"}, u"x")->data, Wide(u"1"));
  auto changed = text.WithValue({u"A"}, Value(u"x", kRegSz, Wide(u"2")), 1);
  ASSERT_TRUE(changed);
  EXPECT_EQ(*changed, "WINE REGISTRY Version 2\r\n\r\n[A] 1\r\n\"x\"=\"2\"\r\n");
}

TEST(WineRegistryText, RepeatedEntriesActAsWineLoadsThem) {
  const std::string file =
      "WINE REGISTRY Version 2\n"
      "[A] 1\n\"v\"=\"first\"\n\"w\"=\"w\"\n"
      "[B] 1\n\"v\"=\"other key\"\n"
      "[a] 2\n\"V\"=\"last\"\n";
  const WineRegistryText text{file};
  const auto values = text.Values({u"A"});
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].name, u"v");
  EXPECT_EQ(values[0].data, Wide(u"last"));
  EXPECT_EQ(text.Find({u"A"}, u"v")->data, Wide(u"last"));

  // Setting changes the entry that wins; deleting removes every entry of the name.
  auto changed = text.WithValue({u"A"}, Value(u"v", kRegSz, Wide(u"new")), 1);
  ASSERT_TRUE(changed);
  EXPECT_EQ(*changed, ReplaceOnce(file, "\"V\"=\"last\"", "\"V\"=\"new\""));
  auto removed = text.WithoutValue({u"A"}, u"v");
  ASSERT_TRUE(removed);
  EXPECT_EQ(*removed, "WINE REGISTRY Version 2\n[A] 1\n\"w\"=\"w\"\n[B] 1\n\"v\"=\"other key\"\n[a] 2\n");
}

TEST(WineRegistryText, UnreadableLinesAreKeptAndSkipped) {
  const std::string file =
      "WINE REGISTRY Version 2\n"
      "\"orphan\"=\"before any key\"\n"
      "[A] 1\n"
      "this is not a registry line\n"
      "\"open=\"no closing quote\n"
      "\"badhex\"=hex:01,zz\n"
      "\"bigbyte\"=hex:100\n"
      "\"baddword\"=dword:xyz\n"
      "\"badtype\"=hex(q):01\n"
      "\"noequals\" \"x\"\n"
      "\"good\"=\"yes\"\n"
      "[Broken\\\\Key\n"
      "\"lost\"=\"belongs to no key\"\n"
      "[B] 1\n"
      "\"tail\"=hex:01,\\\n";
  const WineRegistryText text{file};
  ASSERT_TRUE(text.Valid());
  const auto values = text.Values({u"A"});
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].name, u"baddword");  // read as 0, as Wine reads it
  EXPECT_EQ(values[1].name, u"good");
  EXPECT_TRUE(text.Values({u"B"}).empty());  // a continuation past the end
  EXPECT_FALSE(text.KeyExists({u"Broken"}));

  // A change appends after the unreadable lines and keeps every one of them.
  auto changed = text.WithValue({u"A"}, Value(u"zz", kRegDword, Bytes({0, 0, 0, 0})), 1);
  ASSERT_TRUE(changed);
  EXPECT_EQ(*changed, ReplaceOnce(file, "\"good\"=\"yes\"\n", "\"good\"=\"yes\"\n\"zz\"=dword:00000000\n"));

  // Lines added after the cut-off list at the end are parted from it by a comment,
  // so the list stays unreadable and the new lines read as themselves.
  changed = text.WithValue({u"B"}, Value(u"x", kRegDword, Bytes({1, 0, 0, 0})), 1);
  ASSERT_TRUE(changed);
  EXPECT_EQ(*changed, file + ";\n\"x\"=dword:00000001\n");
  EXPECT_EQ(WineRegistryText{*changed}.Values({u"B"}).size(), 1u);
  changed = text.WithKey({u"C"}, 1700000100);
  ASSERT_TRUE(changed);
  EXPECT_EQ(*changed, file + ";\n\n[C] 1700000100\n#time=1da17480207ca00\n");
  const WineRegistryText added{*changed};
  EXPECT_TRUE(added.Values({u"B"}).empty());
  EXPECT_TRUE(added.KeyExists({u"C"}));
}

TEST(WineRegistryText, RefusesWhatIsNoRegistryFile) {
  for (const char* content : {"", "REGEDIT4\n[A]\n", "WINE REGISTRY Version 1\n[A] 1\n"}) {
    const WineRegistryText text{content};
    EXPECT_FALSE(text.Valid());
    EXPECT_FALSE(text.KeyExists({}));
    EXPECT_FALSE(text.WithValue({u"A"}, Value(u"x", kRegDword, Bytes({0, 0, 0, 0})), 1));
    EXPECT_FALSE(text.WithKey({u"A"}, 1));
  }
}

TEST(WineRegistryCodec, NamesCompareAndKeyPathsSplitAsWineDoes) {
  EXPECT_TRUE(SameName(u"Caf\u00e9 \u0153", u"CAF\u00c9 \u0152"));
  EXPECT_FALSE(SameName(u"a", u"a "));
  EXPECT_EQ(CompareNames(u"Alpha", u"beta"), std::strong_ordering::less);
  EXPECT_EQ(CompareNames(u"ab", u"A"), std::strong_ordering::greater);

  EXPECT_EQ(SplitKeyPath(""), WineKeyPath{});
  EXPECT_EQ(SplitKeyPath("Software\\Caf\xc3\xa9\\"), (WineKeyPath{u"Software", u"Caf\u00e9"}));
  EXPECT_FALSE(SplitKeyPath("a\\\\b"));
  EXPECT_FALSE(SplitKeyPath("\\a"));
  EXPECT_FALSE(SplitKeyPath(std::string("a\0b", 3)));  // no other backend could name it
}

}  // namespace
}  // namespace korbu::platform::wine
