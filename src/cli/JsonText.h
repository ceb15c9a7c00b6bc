#pragma once
// File names are bytes; JSON text is UTF-8. These turn one into the other without
// losing what the bytes were.

#include <string>
#include <string_view>

#include <nlohmann/json_fwd.hpp>

namespace korbu::cli {

/// Length of the well-formed UTF-8 sequence at bytes[i], or 0 when it is not one.
std::size_t Utf8SequenceLength(std::string_view bytes, std::size_t i);

/// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(std::string_view bytes);

/// The bytes with every byte that is not part of a well-formed UTF-8 sequence
/// replaced by U+FFFD.
std::string ToUtf8Lossy(std::string_view bytes);

/// Sets object[key] to the bytes as a JSON string; bytes that are not well-formed
/// UTF-8 go in as ToUtf8Lossy gives them, with the exact bytes in base64 beside
/// (key + "_base64").
void PutText(nlohmann::json& object, const std::string& key, std::string_view bytes);

/// Standard base64 with padding.
std::string Base64(std::string_view bytes);

}  // namespace korbu::cli
