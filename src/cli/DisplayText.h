#pragma once
// Names as a terminal or a log can show them: the bytes of a name are whatever the
// file system or the registry holds, the text report is UTF-8 lines.

#include <string>
#include <string_view>

namespace korbu::cli {

/// A file path with every byte that is not part of well-formed UTF-8, and every
/// control byte (a line end in a name included), written as \xHH.
std::string ReadableFileName(std::string_view bytes);

/// A registry location (UTF-8, see platform/Registry.h) with every byte that is
/// not part of well-formed UTF-8, and every control byte, written as \xHH.
std::string ReadableRegistryName(std::string_view name);

/// A row's File Name, read as one or the other by its form.
std::string ReadableRowName(std::string_view fileName);

}  // namespace korbu::cli
