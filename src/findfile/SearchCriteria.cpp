#include "findfile/SearchCriteria.h"

#include <utility>

#include "findfile/CharTables.h"

namespace korbu {

void TContentCriteria::SetPhrase(std::string phrase) {
  phrase_ = std::move(phrase);
  Renew();
}

void TContentCriteria::SetIgnoreCase(bool ignoreCase) {
  ignoreCase_ = ignoreCase;
  Renew();
}

void TContentCriteria::Renew() {
  const TCharTable& table = ignoreCase_ ? LowerCaseTable() : IdentityTable();
  comparison_ = phrase_;
  for (char& c : comparison_) c = static_cast<char>(table[static_cast<unsigned char>(c)]);
}

}  // namespace korbu
