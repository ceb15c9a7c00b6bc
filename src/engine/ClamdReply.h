#pragma once
// What clamd's replies say: the verdict of a scan command and the versions of
// VERSION. Replies come from another program, possibly another machine: nothing
// in them is taken for more than a text of bounded length.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Expected.h"

namespace korbu {

/// The verdict of one INSTREAM or FILDES reply.
struct ClamdScanReply {
  enum class Kind : std::uint8_t {
    Clean,       // "OK"
    Found,       // "<name> FOUND"
    Error,       // "<reason> ERROR", or a reply that is none of these
    StreamLimit  // "INSTREAM size limit exceeded": the stream was cut at StreamMaxLength
  };
  Kind kind = Kind::Error;
  std::string text;  // the virus name (Found) or the reason (Error)
};

/// The reply to a scan command inside a session, its "<id>: " in front; an id
/// other than expectedId is an error (a reply to another command).
ClamdScanReply ParseClamdScanReply(std::string_view reply, unsigned expectedId);

/// What VERSION tells: "ClamAV 1.4.6/27473/Wed Dec  9 09:34:52 2026".
struct ClamdVersion {
  std::string line;      // the whole reply, the version that keys verdicts
  std::string engine;    // "ClamAV 1.4.6"
  std::string database;  // "27473"; empty when clamd has no database version
  std::string date;      // "09 Dec 2026", as the local database dates are shown; empty when none
};

/// The reply to VERSION inside a session, its "<id>: " in front.
Expected<ClamdVersion> ParseClamdVersion(std::string_view reply, unsigned expectedId);

/// Removes "<expectedId>: " from the front of a session's reply; an error when the
/// reply is not for that command.
Expected<std::string_view> StripClamdReplyId(std::string_view reply, unsigned expectedId);

}  // namespace korbu
