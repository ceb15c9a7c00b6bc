#include "engine/ClamdSession.h"

#include <algorithm>
#include <array>
#include <vector>

namespace korbu {
namespace {

// The bytes of one INSTREAM chunk; clamd takes chunks of any size up to its limit.
constexpr std::size_t kChunkSize = 65536;

std::array<char, 4> BigEndian(std::uint32_t value) {
  return {static_cast<char>((value >> 24) & 0xff), static_cast<char>((value >> 16) & 0xff),
          static_cast<char>((value >> 8) & 0xff), static_cast<char>(value & 0xff)};
}

}  // namespace

ClamdSession::~ClamdSession() {
  if (connection_.IsOpen()) (void)connection_.Send(std::string_view("zEND", 5));
}

Error ClamdSession::Drop(Error error) {
  connection_.Close();
  return error;
}

Status ClamdSession::Ready() {
  if (connection_.IsOpen() && !connection_.ClosedByServer()) return Ok();
  connection_.Close();
  Expected<ClamdConnection> opened = ClamdConnection::Open(address_, timeouts_.connect, timeouts_.reply);
  if (!opened) return opened.error();
  connection_ = std::move(*opened);
  lastId_ = 0;
  if (Status started = connection_.Send(std::string_view("zIDSESSION", 11)); !started) return Drop(started.error());
  return Ok();
}

Expected<ClamdVersion> ClamdSession::Version() {
  if (Status ready = Ready(); !ready) return ready.error();
  const unsigned id = ++lastId_;
  if (Status sent = connection_.Send(std::string_view("zVERSION", 9)); !sent) return Drop(sent.error());
  Expected<std::string> reply = connection_.ReadReply();
  if (!reply) return Drop(reply.error());
  Expected<ClamdVersion> version = ParseClamdVersion(*reply, id);
  if (!version) return Drop(version.error());
  return version;
}

Status ClamdSession::StreamBytes(platform::OpenedFile& file, bool& answeredEarly) {
  if (Status sent = connection_.Send(std::string_view("zINSTREAM", 10)); !sent) return sent;
  std::vector<char> chunk(4 + kChunkSize);
  std::uint64_t offset = 0;
  for (;;) {
    // clamd answers at once when the stream passes its StreamMaxLength, then closes.
    if (connection_.ReplyWaiting()) {
      answeredEarly = true;
      return Ok();
    }
    const std::int64_t got = file.ReadAt(chunk.data() + 4, kChunkSize, offset);
    if (got < 0) return Failure(file.Error());
    const auto length = BigEndian(static_cast<std::uint32_t>(got));
    std::copy(length.begin(), length.end(), chunk.begin());
    const Status sent = connection_.Send(std::string_view(chunk.data(), 4 + static_cast<std::size_t>(got)));
    if (!sent) {
      // Its answer may be what cut the stream short.
      answeredEarly = connection_.ReplyWaiting();
      return answeredEarly ? Ok() : sent;
    }
    if (got == 0) return Ok();  // the zero-length chunk ends the stream
    offset += static_cast<std::uint64_t>(got);
  }
}

Expected<ClamdScanReply> ClamdSession::Scan(platform::OpenedFile& file) {
  const int descriptor = address_.Local() ? file.Descriptor() : -1;
  if (address_.Local() && descriptor < 0) return Failure("no descriptor to pass to clamd");
  if (Status ready = Ready(); !ready) return ready.error();
  const unsigned id = ++lastId_;
  bool answeredEarly = false;
  if (address_.Local()) {
    Status sent = connection_.Send(std::string_view("zFILDES", 8));
    if (sent) sent = connection_.SendDescriptor(descriptor);
    if (!sent) return Drop(sent.error());
  } else if (Status streamed = StreamBytes(file, answeredEarly); !streamed) {
    return Drop(streamed.error());
  }
  Expected<std::string> reply = connection_.ReadReply();
  if (!reply) return Drop(reply.error());
  ClamdScanReply verdict = ParseClamdScanReply(*reply, id);
  // clamd closes the session after a stream cut short, and after replies it could
  // not make sense of; either way the next command gets a fresh one.
  if (answeredEarly || verdict.kind == ClamdScanReply::Kind::StreamLimit ||
      verdict.kind == ClamdScanReply::Kind::Error) {
    connection_.Close();
  }
  if (answeredEarly && verdict.kind != ClamdScanReply::Kind::StreamLimit && verdict.kind != ClamdScanReply::Kind::Error) {
    // A verdict before the whole file was sent is on a part of it only.
    return Failure("clamd answered before the whole file was sent");
  }
  return verdict;
}

}  // namespace korbu
