// Wine registry files: any text is read without harm, and an edit changes only
// the lines it is about: adding a value and removing it again gives the file back
// byte for byte, and every other key keeps its values.

#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "platform/posix/WineRegistryText.h"

using korbu::fuzz::Check;
using korbu::platform::posix::WineKeyPath;
using korbu::platform::posix::WineRegistryText;
using korbu::platform::posix::WineValue;

namespace {

// The key of the first section header, split at its "\\" separators.
WineKeyPath FirstSectionKey(const std::string& text) {
  WineKeyPath key;
  auto open = text.find("\n[");
  if (open == std::string::npos) return key;
  auto close = text.find(']', open);
  if (close == std::string::npos) return key;
  std::string inner = text.substr(open + 2, close - open - 2);
  std::size_t start = 0;
  while (start <= inner.size()) {
    auto sep = inner.find("\\\\", start);
    std::string part = inner.substr(start, sep == std::string::npos ? std::string::npos : sep - start);
    if (part.empty()) return {};
    key.emplace_back(part.begin(), part.end());
    if (sep == std::string::npos) break;
    start = sep + 2;
  }
  return key;
}

bool SameValues(const std::vector<WineValue>& a, const std::vector<WineValue>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].name != b[i].name || a[i].type != b[i].type || a[i].data != b[i].data) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string content(reinterpret_cast<const char*>(data), size);
  WineRegistryText text(content);
  if (!text.Valid()) return 0;

  WineKeyPath found = FirstSectionKey(content);
  const WineKeyPath other{u"Software", u"Other"};
  for (const WineKeyPath& key : {found, other, WineKeyPath{}}) {
    (void)text.Values(key);
    (void)text.Find(key, u"");
  }

  const WineKeyPath key = found.empty() ? WineKeyPath{u"Software", u"Korbu"} : found;
  const WineValue added{u"KorbuFuzzValue", 1, std::string("f\0u\0z\0z\0\0\0", 10)};
  const bool keyExisted = text.KeyExists(key);
  const bool valueExisted = text.Find(key, added.name).has_value();
  auto otherBefore = text.Values(other);

  auto changed = text.WithValue(key, added, 1700000000);
  Check(changed.has_value(), "a value can be set in a valid file");
  WineRegistryText again(*changed);
  Check(again.Valid(), "the edited file stays valid");
  auto back = again.Find(key, added.name);
  Check(back && back->type == added.type && back->data == added.data, "the value reads back");
  if (key != other) Check(SameValues(otherBefore, again.Values(other)), "other keys unchanged");

  auto removed = again.WithoutValue(key, added.name);
  Check(removed.has_value(), "the value just set can be removed");
  // The only byte an edit may add elsewhere is the line end of an unended last line.
  std::string original = content;
  if (!original.empty() && original.back() != '\n' && removed->size() == original.size() + 1) {
    original += removed->back();
  }
  if (keyExisted && !valueExisted) Check(*removed == original, "add then remove gives the file back");
  Check(!WineRegistryText(*removed).Find(key, added.name), "the removed value is gone");
  return 0;
}
