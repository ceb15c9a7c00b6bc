#pragma once
// What the file verdict asks of the signature engine. The engine component
// implements it; tests stand in their own.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/OpenedFile.h"

namespace korbu {

/// A limit of the engine that kept it from judging a whole file: its name in the
/// engine's limits record ("maxfilesize", "maxfiles", "maxreclevel") and the value
/// in force (0: the engine library's own default).
struct EngineLimitReached {
  std::string name;
  std::int64_t value = 0;

  friend bool operator==(const EngineLimitReached&, const EngineLimitReached&) = default;
};

/// What the engine matched its signatures against in a file it found clean, where
/// that is known for certain: the file was one layer, nothing unpacked, extracted
/// or decoded from it.
enum class MatchedAs : std::uint8_t {
  Unknown = 0,
  Bytes = 1,  // its bytes as they lie
  Text = 2,   // its bytes, and the text its script normalizer makes of them
};

/// What the engine made of one file.
struct EngineVerdict {
  std::string virusName;  // the name it reported; empty when none
  std::string readError;  // why it could not read the file; empty when it could
  /// Set when it read the file but a limit of its own kept it from judging all of
  /// it (a file over its size limit, a member cut to it) and no alert named that.
  std::optional<EngineLimitReached> notWhole;
  /// What its signatures were matched against, when it found the file clean.
  MatchedAs matchedAs = MatchedAs::Unknown;
};

class EngineScanner {
 public:
  virtual ~EngineScanner() = default;

  /// True when an engine with signatures is built and ready for scanning.
  virtual bool IsActive() const = 0;

  /// The engine's verdict on the open file, read through that file alone (never
  /// again by its name). Called from several threads at once when a scan judges
  /// files in parallel.
  virtual EngineVerdict ScanForVirus(platform::OpenedFile& file) = 0;
};

}  // namespace korbu
