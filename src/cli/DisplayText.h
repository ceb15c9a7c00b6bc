#pragma once
// Names as a terminal or a log can show them: the bytes of a name are whatever the
// file system or the registry holds, the text output is UTF-8 lines. Every line of
// text output that holds a name (report, log, progress, history, undo) goes
// through ReadableFileName, so that each name prints on one line, nothing in it
// can move the cursor or turn the text around, and two names never print alike.

#include <string>
#include <string_view>

namespace korbu::cli {

/// Any text, a file path above all, as UTF-8 that shows what its bytes are.
/// Well-formed UTF-8 stays as it is, except that each byte of a C0 or C1
/// control, of DEL, of the line and paragraph separators (U+2028, U+2029) and of
/// a bidirectional control (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066 to
/// U+2069) is written as \xHH, as is every byte that is not part of well-formed
/// UTF-8. A backslash that could be read as the start of an escape (one before
/// another backslash, before an escaped character or before "x" and two digits
/// of 0-9A-F) is written as \\; any other stays single, so Windows paths and
/// registry locations read as usual. Reading "\\" as a backslash, "\xHH" as that
/// byte and any other "\" as itself gives the bytes back.
std::string ReadableFileName(std::string_view bytes);

/// A registry location (UTF-8, see platform/Registry.h) as ReadableFileName shows it.
std::string ReadableRegistryName(std::string_view name);

/// A row's File Name, read as one or the other by its form.
std::string ReadableRowName(std::string_view fileName);

}  // namespace korbu::cli
