// Wine registry files: any text is read without harm, and an edit changes only
// what it is about: a value set (new or changed) reads back as set, every other
// value of every key stays as it was, and adding a value and removing it again
// gives the file back byte for byte.

#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "platform/wine/WineRegistryCodec.h"
#include "platform/wine/WineRegistryText.h"

using korbu::fuzz::Check;
using korbu::platform::wine::ParseEscaped;
using korbu::platform::wine::SameName;
using korbu::platform::wine::WineKeyPath;
using korbu::platform::wine::WineRegistryText;
using korbu::platform::wine::WineValue;

namespace {

constexpr std::size_t kMaxKeys = 8;

// The keys of the first section headers, decoded as a reader of the format
// decodes them; raw holds the same headers split at their literal "\\" only.
void SectionKeys(const std::string& text, std::vector<WineKeyPath>& decoded, std::vector<WineKeyPath>& raw) {
  std::size_t pos = 0;
  while (pos < text.size() && decoded.size() < kMaxKeys) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + pos, end - pos);
    pos = end + 1;
    const std::size_t open = line.find_first_not_of(" \t\r\v\f");
    if (open == std::string_view::npos || line[open] != '[') continue;
    std::u16string name;
    if (!ParseEscaped(line.substr(open + 1), ']', name)) continue;
    WineKeyPath key;
    std::size_t start = 0;
    bool whole = true;
    while (!name.empty()) {
      const std::size_t sep = name.find(u'\\', start);
      std::u16string part = name.substr(start, sep == std::u16string::npos ? sep : sep - start);
      if (part.empty()) whole = false;
      key.push_back(std::move(part));
      if (sep == std::u16string::npos) break;
      start = sep + 1;
    }
    if (!whole) continue;
    decoded.push_back(std::move(key));

    WineKeyPath literal;
    const std::size_t close = line.find(']', open);
    std::string_view inner = line.substr(open + 1, close == std::string_view::npos ? close : close - open - 1);
    while (!inner.empty()) {
      const std::size_t sep = inner.find("\\\\");
      std::string_view part = inner.substr(0, sep);
      literal.emplace_back(part.begin(), part.end());
      if (sep == std::string_view::npos) break;
      inner.remove_prefix(sep + 2);
    }
    raw.push_back(std::move(literal));
  }
}

bool SameValue(const WineValue& a, const WineValue& b) {
  return a.name == b.name && a.type == b.type && a.data == b.data;
}

bool SameValues(const std::vector<WineValue>& a, const std::vector<WineValue>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!SameValue(a[i], b[i])) return false;
  return true;
}

bool SamePath(const WineKeyPath& a, const WineKeyPath& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (!SameName(a[i], b[i])) return false;
  return true;
}

// The same values, in any order (a new value goes where its name sorts).
bool SameValueSet(const std::vector<WineValue>& a, const std::vector<WineValue>& b) {
  if (a.size() != b.size()) return false;
  for (const WineValue& value : a) {
    bool found = false;
    for (const WineValue& other : b) found = found || SameValue(value, other);
    if (!found) return false;
  }
  return true;
}

// The values of the key once name is set to value, as a reader should see them.
std::vector<WineValue> Expected(std::vector<WineValue> values, const WineValue& value) {
  for (WineValue& existing : values) {
    if (SameName(existing.name, value.name)) {
      existing.type = value.type;
      existing.data = value.data;
      return values;
    }
  }
  values.push_back(value);
  return values;
}

// Sets the value and checks that the key reads as expected and no other key moved.
std::string SetAndCheck(const WineRegistryText& text, const WineKeyPath& key, const WineValue& value,
                        const std::vector<WineKeyPath>& keys) {
  auto changed = text.WithValue(key, value, 1700000000);
  Check(changed.has_value(), "a value can be set in a valid file");
  const WineRegistryText again(*changed);
  Check(again.Valid(), "the edited file stays valid");
  auto back = again.Find(key, value.name);
  Check(back && back->type == value.type && back->data == value.data, "the value reads back");
  Check(SameValueSet(again.Values(key), Expected(text.Values(key), value)), "the key's other values stay");
  for (const WineKeyPath& other : keys) {
    if (SamePath(other, key)) continue;
    Check(SameValues(text.Values(other), again.Values(other)), "other keys unchanged");
  }
  return *changed;
}

// The same text, or the same but for one comment line ";" that ends a list cut off
// after its "\" (it is kept, as a value after it would else be taken for the list's).
// Besides, an unended last line may have got its line end.
bool GivesBack(std::string edited, std::string original) {
  if (!original.empty() && original.back() != '\n' && edited.compare(0, original.size(), original) == 0) {
    for (std::string_view end : {"\r\n", "\n"}) {
      if (std::string_view(edited).substr(original.size(), end.size()) == end) {
        original += end;
        break;
      }
    }
  }
  if (edited == original) return true;
  std::size_t at = 0;
  while (at < edited.size() && at < original.size() && edited[at] == original[at]) ++at;
  while (at > 0 && edited[at - 1] != '\n') --at;
  for (std::string_view separator : {";\r\n", ";\n"}) {
    if (std::string_view(edited).substr(at, separator.size()) == separator) {
      edited.erase(at, separator.size());
      return edited == original;
    }
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string content(reinterpret_cast<const char*>(data), size);
  const WineRegistryText text(content);
  if (!text.Valid()) return 0;

  std::vector<WineKeyPath> keys;
  std::vector<WineKeyPath> raw;
  SectionKeys(content, keys, raw);
  keys.push_back({u"Software", u"Other"});
  keys.push_back({});
  for (const WineKeyPath& key : keys) {
    (void)text.Values(key);
    (void)text.Find(key, u"");
  }
  // A key whose name holds a backslash or an empty component has no header that
  // reads back as it: such a key is refused, never written as another one.
  for (const WineKeyPath& key : raw) {
    bool representable = true;
    for (const auto& part : key)
      if (part.empty() || part.find(u'\\') != std::u16string::npos) representable = false;
    if (!representable) {
      const WineValue any{u"v", 4, std::string(4, '\0')};
      Check(!text.WithValue(key, any, 1) && !text.WithKey(key, 1), "an unwritable key is refused");
    }
  }

  const WineKeyPath key = keys.size() > 2 ? keys.front() : WineKeyPath{u"Software", u"Korbu"};
  const WineValue added{u"KorbuFuzzValue", 1, std::string("f\0u\0z\0z\0\0\0", 10)};
  const bool keyExisted = text.KeyExists(key);
  const bool valueExisted = text.Find(key, added.name).has_value();

  const std::string withAdded = SetAndCheck(text, key, added, keys);
  auto removed = WineRegistryText(withAdded).WithoutValue(key, added.name);
  Check(removed.has_value(), "the value just set can be removed");
  if (keyExisted && !valueExisted) Check(GivesBack(*removed, content), "add then remove gives the file back");
  Check(!WineRegistryText(*removed).Find(key, added.name), "the removed value is gone");

  // New keys among the others and after all of them.
  for (const WineKeyPath& fresh : {WineKeyPath{u"KorbuFuzzKey"}, WineKeyPath{u"\uffee"}}) {
    if (text.KeyExists(fresh)) continue;
    (void)SetAndCheck(text, fresh, added, keys);
    auto made = text.WithKey(fresh, 1700000000);
    Check(made && WineRegistryText(*made).KeyExists(fresh), "a new key exists");
  }

  // Every value the key has is changed, in turn, to data of another form and back.
  const auto values = text.Values(key);
  for (std::size_t i = 0; i < values.size() && i < 4; ++i) {
    WineValue other = values[i];
    other.type = other.type == 4 ? 3 : 4;
    other.data = other.type == 4 ? std::string("\x01\x02\x03\x04", 4) : std::string(90, '\x5a');
    const std::string changed = SetAndCheck(text, key, other, keys);
    const WineRegistryText changedText(changed);
    auto spelled = changedText.Values(key);
    Check(spelled.size() == values.size() && spelled[i].name == values[i].name, "a changed value keeps its name");
    (void)SetAndCheck(changedText, key, values[i], keys);
  }
  return 0;
}
