#include "engine/ClamdReply.h"

#include <array>

#include "engine/LibClamAV.h"

namespace korbu {
namespace {

constexpr std::string_view kStreamLimit = "INSTREAM size limit exceeded";
constexpr std::string_view kFound = " FOUND";
constexpr std::string_view kError = " ERROR";
// Shown to the user in error texts: long enough for any reason clamd gives.
constexpr std::size_t kMaxShown = 200;

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// A text from the server as the program may keep it: printable ASCII only, cut.
std::string Shown(std::string_view text, std::size_t limit) {
  std::string out;
  for (char c : text.substr(0, limit)) out += (c >= 0x20 && c < 0x7f) ? c : '?';
  return out;
}

// "<object>: <rest>": the object is "stream" or "fd[N]", neither holding ": ".
std::string_view AfterObject(std::string_view reply) {
  const std::size_t colon = reply.find(": ");
  return colon == std::string_view::npos ? std::string_view() : reply.substr(colon + 2);
}

// "Wed Dec  9 09:34:52 2026" -> "09 Dec 2026"; empty when it is not such a date.
std::string ShortDate(std::string_view date) {
  // Day of the week, month, day, time, year, separated by spaces (two before a
  // one-digit day).
  std::array<std::string_view, 5> parts{};
  std::size_t count = 0;
  std::size_t i = 0;
  while (i < date.size() && count < parts.size()) {
    while (i < date.size() && date[i] == ' ') ++i;
    const std::size_t start = i;
    while (i < date.size() && date[i] != ' ') ++i;
    if (i > start) parts[count++] = date.substr(start, i - start);
  }
  if (count != 5 || parts[1].size() != 3 || parts[2].empty() || parts[2].size() > 2 || parts[4].size() != 4) return {};
  for (std::string_view digits : {parts[2], parts[4]}) {
    for (char c : digits) {
      if (c < '0' || c > '9') return {};
    }
  }
  const std::string day = parts[2].size() == 1 ? "0" + std::string(parts[2]) : std::string(parts[2]);
  return day + " " + Shown(parts[1], 3) + " " + std::string(parts[4]);
}

}  // namespace

Expected<std::string_view> StripClamdReplyId(std::string_view reply, unsigned expectedId) {
  const std::string prefix = std::to_string(expectedId) + ": ";
  if (reply.substr(0, prefix.size()) != prefix) {
    return Failure("clamd replied out of turn: \"" + Shown(reply, kMaxShown) + "\"");
  }
  return reply.substr(prefix.size());
}

ClamdScanReply ParseClamdScanReply(std::string_view reply, unsigned expectedId) {
  ClamdScanReply result;
  const Expected<std::string_view> body = StripClamdReplyId(reply, expectedId);
  // Said at once when the stream passes the limit, outside the command's turn too.
  const std::string_view text = body ? *body : reply;
  if (text.substr(0, kStreamLimit.size()) == kStreamLimit) {
    result.kind = ClamdScanReply::Kind::StreamLimit;
    return result;
  }
  if (!body) {
    result.text = body.error().reason;
    return result;
  }
  const std::string_view verdict = AfterObject(text);
  if (verdict == "OK") {
    result.kind = ClamdScanReply::Kind::Clean;
  } else if (EndsWith(verdict, kFound) && verdict.size() > kFound.size()) {
    result.kind = ClamdScanReply::Kind::Found;
    // No longer than a name the local engine can report.
    result.text = Shown(verdict.substr(0, verdict.size() - kFound.size()), kEngineNameBufferSize - 1);
  } else if (EndsWith(text, kError)) {
    result.text = "clamd: " + Shown(text.substr(0, text.size() - kError.size()), kMaxShown);
  } else {
    result.text = "clamd gave an unknown reply: \"" + Shown(text, kMaxShown) + "\"";
  }
  return result;
}

Expected<ClamdVersion> ParseClamdVersion(std::string_view reply, unsigned expectedId) {
  const Expected<std::string_view> body = StripClamdReplyId(reply, expectedId);
  if (!body) return body.error();
  const std::string_view text = *body;
  if (text.substr(0, 7) != "ClamAV ") return Failure("clamd's VERSION is not ClamAV's: \"" + Shown(text, kMaxShown) + "\"");
  ClamdVersion version;
  version.line = Shown(text, kMaxShown);
  const std::size_t first = text.find('/');
  version.engine = Shown(text.substr(0, first), kMaxShown);
  if (first != std::string_view::npos) {
    const std::string_view rest = text.substr(first + 1);
    const std::size_t second = rest.find('/');
    version.database = Shown(rest.substr(0, second), kMaxShown);
    if (second != std::string_view::npos) version.date = ShortDate(rest.substr(second + 1));
  }
  return version;
}

}  // namespace korbu
