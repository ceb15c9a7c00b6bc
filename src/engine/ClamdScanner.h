#pragma once
// The signature engine as a running clamd: the file verdict's engine seam over
// clamd sessions, one for each verdict running at once, each reused for file
// after file. Every file clamd did not judge gets an error, never "clean".

#include <memory>
#include <mutex>
#include <vector>

#include "engine/ClamdAddress.h"
#include "engine/ClamdReply.h"
#include "engine/ClamdSession.h"
#include "engine/EngineScanner.h"
#include "engine/LibClamAV.h"

namespace korbu {

/// The limit named when clamd cut a stream at its StreamMaxLength.
inline constexpr char kStreamLimitName[] = "streammaxlength";

class ClamdScanner final : public EngineScanner {
 public:
  /// limits: those the local engine would use; a file over its size limit is
  /// not sent and comes back not judged whole, as the local engine reports it.
  explicit ClamdScanner(ClamdAddress address, ClamdTimeouts timeouts = {}, EngineLimits limits = {})
      : address_(std::move(address)), timeouts_(timeouts), limits_(limits) {}
  /// A scanner for a clamd that cannot be reached at all (its address is wrong):
  /// every file gets this error.
  explicit ClamdScanner(Error unusable) : unusable_(std::move(unusable.reason)) {}

  const ClamdAddress& Address() const { return address_; }

  /// Asks clamd for its version now.
  Expected<ClamdVersion> QueryVersion();

  /// Always: the engine the user named judges, or every file gets its error.
  bool IsActive() const override { return true; }
  EngineVerdict ScanForVirus(platform::OpenedFile& file) override;

 private:
  std::unique_ptr<ClamdSession> Take();
  void Give(std::unique_ptr<ClamdSession> session);

  ClamdAddress address_;
  ClamdTimeouts timeouts_;
  EngineLimits limits_;
  std::string unusable_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<ClamdSession>> idle_;
};

}  // namespace korbu
