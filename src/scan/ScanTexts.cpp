#include "scan/ScanTexts.h"

#include "services/TextUtils.h"

namespace korbu {

std::string SummaryLine(std::int32_t filesScanned, std::int32_t foldersScanned) {
  return std::to_string(filesScanned) + " file(s) and " + std::to_string(foldersScanned) +
         " Folder(s) scanned. " + "Scan is finished...";
}

std::string SignatureLabel(std::uint32_t engineSignatures) {
  // Widened so that a huge engine count plus sixteen cannot wrap.
  const std::uint64_t total = std::uint64_t{engineSignatures} + 16;
  return InsertThousandsSeparators(std::to_string(total), '.') + " viruses";
}

std::string DatabaseVersionLabel(const std::string& mainVersion, const std::string& dailyVersion) {
  return "[Main: " + mainVersion + "; Daily: " + dailyVersion + "]";
}

std::string MainDateLabel(const std::string& mainDate) { return "[Main: " + mainDate + "]"; }
std::string DailyDateLabel(const std::string& dailyDate) { return "[Daily: " + dailyDate + "]"; }

}  // namespace korbu
