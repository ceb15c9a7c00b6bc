#pragma once
// What the file verdict asks of the signature engine. The engine component
// implements it; tests stand in their own.

#include <string>

namespace korbu {

class EngineScanner {
 public:
  virtual ~EngineScanner() = default;

  /// True when an engine with signatures is built and ready for scanning.
  virtual bool IsActive() const = 0;

  /// The virus name the engine reports for the file; empty when it reports none,
  /// cannot read the file or fails. Not reentrant: one caller at a time.
  virtual std::string ScanForVirus(const std::string& path) = 0;
};

}  // namespace korbu
