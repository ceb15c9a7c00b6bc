#include "app/EngineInfoText.h"

#include "services/TextUtils.h"

namespace korbu {

namespace {
constexpr long long kOwnVariants = 16;
}

std::string SignatureText(long long loadedSignatures) {
  // A negative count would be an engine fault; show our own variants alone then.
  const long long total = (loadedSignatures > 0 ? loadedSignatures : 0) + kOwnVariants;
  return InsertThousandsSeparators(std::to_string(total), '.') + " viruses";
}

std::string VersionText(const std::string& mainVersion, const std::string& dailyVersion) {
  return "[Main: " + mainVersion + "; Daily: " + dailyVersion + "]";
}

std::string MainDateText(const std::string& mainDate) { return "[Main: " + mainDate + "]"; }

std::string DailyDateText(const std::string& dailyDate) { return "[Daily: " + dailyDate + "]"; }

}  // namespace korbu
