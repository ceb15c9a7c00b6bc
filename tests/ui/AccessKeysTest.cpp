// The access keys: each keyed caption shows as the caption itself, and no two
// controls of a page share a key.

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "ui/AccessKeys.h"

namespace korbu {
namespace {

// The visible text and the key of a keyed caption; key 0 when it has none.
std::pair<std::string, char> Shown(const std::string& keyed) {
  std::string visible;
  char key = 0;
  for (std::size_t i = 0; i < keyed.size(); ++i) {
    if (keyed[i] == '&' && i + 1 < keyed.size()) {
      if (key != 0) ADD_FAILURE() << "two keys in " << keyed;
      key = static_cast<char>(std::tolower(static_cast<unsigned char>(keyed[i + 1])));
      continue;
    }
    visible += keyed[i];
  }
  return {visible, key};
}

TEST(AccessKeys, EachPageKeysItsControlsWithDistinctLettersAndTheSameTexts) {
  const std::vector<std::vector<std::string>> pages = {
      {"Scan", "Exit", "Scan subfolders", "Scan all files", "Scan for new unknown viruses", "Scan for archive",
       "History"},
      {"Back", "Clean", "Delete", "Exit"},
      {"Back", "Clean", "Delete", "Stop"},
      {"Restore", "Close"},
  };
  for (const auto& page : pages) {
    std::set<char> keys;
    for (const std::string& caption : page) {
      const auto [visible, key] = Shown(WithAccessKey(caption));
      EXPECT_EQ(visible, caption);
      EXPECT_NE(key, 0) << caption;
      EXPECT_TRUE(keys.insert(key).second) << "key " << key << " twice, at " << caption;
    }
  }
  // Texts that are no caption of a button stay as they are.
  EXPECT_EQ(WithAccessKey("Scan is finished..."), "Scan is finished...");
  EXPECT_EQ(WithAccessKey(""), "");
}

}  // namespace
}  // namespace korbu
