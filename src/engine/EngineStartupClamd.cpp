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
  bool LibraryAvailable() override {
    if (!scanner_) return false;
    Expected<ClamdVersion> version = scanner_->QueryVersion();
    if (!version) {
      problem_ = version.error().reason;
      return false;
    }
    version_ = std::move(*version);
    return true;
  }
  bool LoadDatabase() override {
    if (!version_) return false;
    if (version_->database.empty()) {
      problem_ = "clamd at " + addressText_ + " tells no database version: \"" + version_->line + "\"";
      return false;
    }
    problem_.clear();
    return true;
  }
  // clamd does not tell how many signatures it loaded.
  std::uint32_t SignatureCount() override { return 0; }
  std::pair<std::string, std::string> DatabaseVersions() override {
    return {std::string(), version_ ? version_->database : std::string()};
  }
  std::pair<std::string, std::string> DatabaseDates() override {
    return {std::string(), version_ ? version_->date : std::string()};
  }
  std::string NotLoadedReason() override { return scanner_ ? problem_ : "not set up yet"; }
  ClamdScanner* RemoteEngine() override { return scanner_.get(); }
  std::string EngineVersion() override {
    return (version_ ? version_->engine : std::string("clamd")) + " (clamd at " + addressText_ + ")";
  }

 private:
  std::string addressText_;
  std::unique_ptr<ClamdScanner> scanner_;
  std::optional<ClamdVersion> version_;
  std::string problem_ = "clamd not asked yet";
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
