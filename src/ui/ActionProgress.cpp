#include "ui/ActionProgress.h"

#include "services/TextUtils.h"

namespace korbu {

std::string ActionProgressText(std::string_view action, std::size_t done, std::size_t total, bool closing) {
  const auto count = [](std::size_t n) { return InsertThousandsSeparators(std::to_string(n), ','); };
  std::string text = std::string(action == "clean" ? "Cleaning " : "Deleting ") + count(done) + " of " + count(total);
  if (closing) text += " - the window closes when this has ended";
  return text;
}

}  // namespace korbu
