#include "findfile/CharTables.h"

#include <cctype>

#include "platform/AsciiCase.h"

namespace korbu {
namespace {

struct Tables {
  TCharTable identity{};
  TCharTable lower{};
  std::array<bool, 256> alnum{};
  Tables() {
    for (int c = 0; c < 256; ++c) {
      const auto i = static_cast<std::size_t>(c);
      identity[i] = static_cast<unsigned char>(c);
      lower[i] = static_cast<unsigned char>(platform::AsciiLower(static_cast<char>(c)));
      alnum[i] = std::isalnum(c) != 0;
    }
  }
};

const Tables& TheTables() {
  static const Tables tables;
  return tables;
}

}  // namespace

const TCharTable& IdentityTable() { return TheTables().identity; }
const TCharTable& LowerCaseTable() { return TheTables().lower; }
bool IsAlphaNumeric(unsigned char c) { return TheTables().alnum[c]; }

}  // namespace korbu
