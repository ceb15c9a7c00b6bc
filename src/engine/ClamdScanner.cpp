#include "engine/ClamdScanner.h"

namespace korbu {

std::unique_ptr<ClamdSession> ClamdScanner::Take() {
  {
    std::lock_guard lock(mutex_);
    if (!idle_.empty()) {
      std::unique_ptr<ClamdSession> session = std::move(idle_.back());
      idle_.pop_back();
      return session;
    }
  }
  return std::make_unique<ClamdSession>(address_, timeouts_);
}

void ClamdScanner::Give(std::unique_ptr<ClamdSession> session) {
  std::lock_guard lock(mutex_);
  idle_.push_back(std::move(session));
}

Expected<ClamdVersion> ClamdScanner::QueryVersion() {
  if (!unusable_.empty()) return Failure(unusable_);
  std::unique_ptr<ClamdSession> session = Take();
  Expected<ClamdVersion> version = session->Version();
  Give(std::move(session));
  return version;
}

EngineVerdict ClamdScanner::ScanForVirus(platform::OpenedFile& file) {
  EngineVerdict verdict;
  if (!unusable_.empty()) {
    verdict.readError = unusable_;
    return verdict;
  }
  if (!file.IsOpen()) {
    verdict.readError = file.Error();
    return verdict;
  }
  if (limits_.maxfilesize > 0 && file.Size() > static_cast<std::uint64_t>(limits_.maxfilesize)) {
    verdict.notWhole = EngineLimitReached{"maxfilesize", limits_.maxfilesize};
    return verdict;
  }
  std::unique_ptr<ClamdSession> session = Take();
  Expected<ClamdScanReply> reply = session->Scan(file);
  Give(std::move(session));
  if (!reply) {
    verdict.readError = reply.error().reason;
    return verdict;
  }
  switch (reply->kind) {
    case ClamdScanReply::Kind::Clean:
      break;
    case ClamdScanReply::Kind::Found:
      verdict.virusName = std::move(reply->text);
      break;
    case ClamdScanReply::Kind::StreamLimit:
      verdict.notWhole = EngineLimitReached{kStreamLimitName, static_cast<std::int64_t>(file.Size())};
      break;
    case ClamdScanReply::Kind::Error:
      verdict.readError = std::move(reply->text);
      break;
  }
  return verdict;
}

}  // namespace korbu
