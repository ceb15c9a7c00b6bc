#pragma once
// The text of one Wine registry file ("WINE REGISTRY Version 2"), read for its
// keys and values and edited without disturbing anything else.
//
// The file is a header line, global options (#arch=...), then key sections: a
// header line [Key\\Path] with its timestamp, option lines (#time=, #class=,
// #link) and value entries. Comments (;) and blank lines may stand anywhere.
// Lines that cannot be read are kept as they are and skipped. A key also exists
// when only keys below it have a section (Wine leaves such keys out of its files).
// A key may have more than one section, and a value more than one entry: the last
// entry of a name is the one Wine keeps, as it loads the file top to bottom.
//
// Every edit returns the whole new text: only the lines of the changed value are
// replaced or removed, and a new value or key goes where wineserver would put it
// (in name order), so every other byte of the file stays as it was. The one line
// an edit may add besides is a comment ";" after a list cut off at its "\", which
// would otherwise take the new line for its own.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wine/WineRegistryValue.h"

namespace korbu::platform::wine {

/// A key path as its components, relative to the file's root ("Software", "Wine").
using WineKeyPath = std::vector<std::u16string>;

class WineRegistryText {
 public:
  explicit WineRegistryText(std::string content);

  /// True when the text begins with Wine's header line; nothing else is read or edited.
  bool Valid() const { return valid_; }

  /// True when the key has a section or a key below it has one; the root always exists.
  bool KeyExists(const WineKeyPath& key) const;

  /// The values of the key, in file order (a name once, with its last data).
  std::vector<WineValue> Values(const WineKeyPath& key) const;

  /// One value of the key by name (case-insensitive); empty when it does not exist.
  std::optional<WineValue> Find(const WineKeyPath& key, std::u16string_view name) const;

  /// The text with the value set (an entry replaced or added), and the key's section
  /// added when it has none; a new section is stamped with nowUnixSeconds. Empty
  /// when the text is not valid or a component of the key is empty or holds a
  /// backslash (no header could name it).
  std::optional<std::string> WithValue(const WineKeyPath& key, const WineValue& value,
                                       std::int64_t nowUnixSeconds) const;

  /// The text with an empty section for the key added; empty when the key exists
  /// already, cannot be named (as for WithValue) or the text is not valid.
  std::optional<std::string> WithKey(const WineKeyPath& key, std::int64_t nowUnixSeconds) const;

  /// The text without any entry of the value; empty when there is none.
  std::optional<std::string> WithoutValue(const WineKeyPath& key, std::u16string_view name) const;

  /// What a key holds, for its deletion.
  enum class Content { Missing, Empty, NotEmpty };
  Content ContentOf(const WineKeyPath& key) const;

  /// The text without the sections of a key that ContentOf finds Empty; empty
  /// for any other key (the root included).
  std::optional<std::string> WithoutEmptyKey(const WineKeyPath& key) const;

 private:
  struct Entry {
    WineValue value;
    std::size_t firstLine = 0;
    std::size_t lineCount = 1;
  };
  struct Section {
    WineKeyPath path;
    std::size_t headerLine = 0;
    std::size_t endLine = 0;      // one past the section's last line
    std::size_t contentEnd = 0;   // one past its last line that is not blank
  };
  struct LineSpan {
    std::size_t begin = 0;  // offset of the line in content_
    std::size_t length = 0; // without the line end
    std::size_t next = 0;   // offset of the next line
  };

  void Parse();
  std::vector<const Section*> SectionsOf(const WineKeyPath& key) const;
  // Values are read only for the sections asked about: a large file is mostly
  // values of keys nobody looks at.
  std::vector<Entry> EntriesOf(const std::vector<const Section*>& sections) const;
  // True when the line ends in the "\" of a list that goes on on the next line.
  bool WaitsForNextLine(std::size_t line) const;
  std::string Splice(std::size_t fromLine, std::size_t toLine, std::string_view insert) const;
  std::string NewSectionText(const WineKeyPath& key, const WineValue* value,
                             std::int64_t nowUnixSeconds) const;
  std::optional<std::string> WithNewSection(const WineKeyPath& key, const WineValue* value,
                                            std::int64_t nowUnixSeconds) const;

  std::string content_;
  std::string newline_ = "\n";
  std::vector<LineSpan> lines_;
  std::vector<Section> sections_;
  bool valid_ = false;
};

/// Splits a key path (WTF-8) at its backslashes into Wine units; empty when a
/// component is empty ("a\\b", "\a") or holds a zero unit. A single trailing
/// backslash is allowed.
std::optional<WineKeyPath> SplitKeyPath(std::string_view path);

}  // namespace korbu::platform::wine
