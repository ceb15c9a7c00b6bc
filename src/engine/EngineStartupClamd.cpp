// Start-up's engine steps over a running clamd.

#include <cstdlib>
#include <optional>

#include "engine/ClamdScanner.h"
#include "engine/EngineStartup.h"

namespace korbu {
namespace {

class ClamdStartup final : public EngineStartup {
 public:
  explicit ClamdStartup(std::string address) : addressText_(std::move(address)) {}

  void CreateEngine() override {
    Expected<ClamdAddress> address = ParseClamdAddress(addressText_);
    scanner_ = address ? std::make_unique<ClamdScanner>(std::move(*address)) : std::make_unique<ClamdScanner>(address.error());
  }
  Status LibraryAvailable() override {
    if (!scanner_) return asked_;
    Expected<ClamdVersion> version = scanner_->QueryVersion();
    if (!version) {
      asked_ = version.error();
      return asked_;
    }
    version_ = std::move(*version);
    asked_ = Ok();
    return asked_;
  }
  // Without an answer to the version, the reason is the one it failed with.
  Status LoadDatabase() override {
    if (!version_) return asked_;
    if (version_->database.empty()) {
      return Failure("clamd at " + addressText_ + " tells no database version: \"" + version_->line + "\"");
    }
    return Ok();
  }
  // clamd does not tell how many signatures it loaded.
  std::uint32_t SignatureCount() override { return 0; }
  std::pair<std::string, std::string> DatabaseVersions() override {
    return {std::string(), version_ ? version_->database : std::string()};
  }
  std::pair<std::string, std::string> DatabaseDates() override {
    return {std::string(), version_ ? version_->date : std::string()};
  }
  ClamdScanner* RemoteEngine() override { return scanner_.get(); }
  std::string EngineVersion() override {
    return (version_ ? version_->engine : std::string("clamd")) + " (clamd at " + addressText_ + ")";
  }

 private:
  std::string addressText_;
  std::unique_ptr<ClamdScanner> scanner_;
  std::optional<ClamdVersion> version_;
  Status asked_ = Failure("clamd not asked yet");  // the version query's outcome
};

}  // namespace

std::unique_ptr<EngineStartup> MakeClamdStartup(const std::string& address) {
  return std::make_unique<ClamdStartup>(address);
}

std::unique_ptr<EngineStartup> MakeWindowEngineStartup() {
  const char* clamd = std::getenv(kClamdVariable);
  if (clamd != nullptr && *clamd != '\0') return MakeClamdStartup(clamd);
  return MakeEngineStartup();
}

}  // namespace korbu
