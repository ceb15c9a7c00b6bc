#pragma once
#include <string_view>

namespace korbu::platform {

/// Windows wildcard rules for file names: letter case ignored, '*' any run of
/// characters, '?' one character; "*.*" matches every name, and a mask ending in
/// ".*" also matches a name without a dot. Linear in time, any length.
bool MatchesWildcard(std::string_view name, std::string_view mask);

}  // namespace korbu::platform
