#pragma once
// What the file verdict asks of the signature engine. The engine component
// implements it; tests stand in their own.

#include <string>

#include "platform/OpenedFile.h"

namespace korbu {

class EngineScanner {
 public:
  virtual ~EngineScanner() = default;

  /// True when an engine with signatures is built and ready for scanning.
  virtual bool IsActive() const = 0;

  /// The virus name the engine reports for the open file, read through that
  /// file alone (never again by its name); empty when it reports none or fails.
  /// error receives why the engine could not read the file, and is emptied
  /// otherwise. Called from several threads at once when a scan judges files in
  /// parallel.
  virtual std::string ScanForVirus(platform::OpenedFile& file, std::string& error) = 0;
};

}  // namespace korbu
