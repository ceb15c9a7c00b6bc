// The clamd protocol's texts: addresses as the user writes them, and what the
// server's replies are taken to mean.
#include <gtest/gtest.h>

#include <string>

#include "engine/ClamdAddress.h"
#include "engine/ClamdReply.h"

namespace korbu {
namespace {

using Kind = ClamdScanReply::Kind;

TEST(ClamdAddress, PathsAreLocalSocketsAndHostPortIsTcp) {
  EXPECT_TRUE(ParseClamdAddress("/run/clamav/clamd.ctl")->Local());
  EXPECT_TRUE(ParseClamdAddress("./clamd.sock")->Local());  // a relative path says so with its '/'

  Expected<ClamdAddress> tcp = ParseClamdAddress("scanner.lan:3310");
  ASSERT_TRUE(tcp);
  EXPECT_EQ(tcp->host + " " + std::to_string(tcp->port), "scanner.lan 3310");
  Expected<ClamdAddress> v6 = ParseClamdAddress("[::1]:65535");
  ASSERT_TRUE(v6);
  EXPECT_EQ(v6->Text(), "[::1]:65535");

  for (const char* bad : {"clamd.sock", "host:", ":3310", "host:0", "host:65536", "host:99999999999999999999",
                          "host:33a", "::1:3310", "[::1:3310", "[]:3310", "host:-1"}) {
    EXPECT_FALSE(ParseClamdAddress(bad)) << bad;
  }
}

TEST(ClamdScanReply, VerdictsOfASessionsReplies) {
  EXPECT_EQ(ParseClamdScanReply("1: fd[7]: OK", 1).kind, Kind::Clean);
  EXPECT_EQ(ParseClamdScanReply("12: stream: OK", 12).kind, Kind::Clean);

  ClamdScanReply found = ParseClamdScanReply("3: fd[9]: Eicar-Test-Signature FOUND", 3);
  EXPECT_EQ(found.kind, Kind::Found);
  EXPECT_EQ(found.text, "Eicar-Test-Signature");

  ClamdScanReply error = ParseClamdScanReply("2: fd[9]: Can't allocate memory ERROR", 2);
  EXPECT_EQ(error.kind, Kind::Error);
  EXPECT_EQ(error.text, "clamd: fd[9]: Can't allocate memory");

  // With or without the id in front: the stream was cut, not judged.
  EXPECT_EQ(ParseClamdScanReply("4: INSTREAM size limit exceeded. ERROR", 4).kind, Kind::StreamLimit);
  EXPECT_EQ(ParseClamdScanReply("INSTREAM size limit exceeded. ERROR", 4).kind, Kind::StreamLimit);
}

TEST(ClamdScanReply, WhatIsNoVerdictIsAnErrorNeverClean) {
  // A reply meant for another command, or none a scan gives.
  for (const char* reply : {"2: fd[7]: OK", "fd[7]: OK", "1: PONG", "1: fd[7]: OKAY", "1: fd[7]:  FOUND", "",
                            "1: COMMAND READ TIMED OUT", "1: fd[7]: OK FOUND extra"}) {
    const ClamdScanReply parsed = ParseClamdScanReply(reply, 1);
    EXPECT_NE(parsed.kind, Kind::Clean) << reply;
    if (parsed.kind != Kind::Found) {
      EXPECT_FALSE(parsed.text.empty()) << reply;
    }
  }
  // What the server names is shown: printable and no longer than the local engine's names.
  EXPECT_EQ(ParseClamdScanReply("1: stream: Evil\x1b[2J\nName FOUND", 1).text, "Evil?[2J?Name");
  EXPECT_EQ(ParseClamdScanReply("1: stream: " + std::string(5000, 'A') + " FOUND", 1).text.size(), 511u);
}

TEST(ClamdVersion, EngineDatabaseAndDate) {
  Expected<ClamdVersion> full = ParseClamdVersion("1: ClamAV 1.4.6/27473/Wed Dec  9 09:34:52 2026", 1);
  ASSERT_TRUE(full) << full.Reason();
  EXPECT_EQ(full->engine, "ClamAV 1.4.6");
  EXPECT_EQ(full->database, "27473");
  EXPECT_EQ(full->date, "09 Dec 2026");
  EXPECT_EQ(ParseClamdVersion("2: ClamAV 1.4.6/3/Tue Jun 22 20:40:00 2021", 2)->date, "22 Jun 2021");

  // No databases loaded: no database version to show or to key verdicts by.
  Expected<ClamdVersion> bare = ParseClamdVersion("1: ClamAV 1.4.6", 1);
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->database, "");
  EXPECT_EQ(bare->date, "");

  EXPECT_FALSE(ParseClamdVersion("1: PONG", 1));
  EXPECT_FALSE(ParseClamdVersion("ClamAV 1.4.6/27473/Wed Dec  9 09:34:52 2026", 1));
  EXPECT_FALSE(ParseClamdVersion("2: ClamAV 1.4.6/27473/Wed Dec  9 09:34:52 2026", 1));
}

}  // namespace
}  // namespace korbu
