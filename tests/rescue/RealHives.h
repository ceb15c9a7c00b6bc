#pragma once
// The real hives kept beside the project (../shared/test-hives), unpacked.

#include <optional>
#include <string>

namespace korbu::test {

/// The bytes of ../shared/test-hives/<name>.xz; empty when it or xz is missing.
std::optional<std::string> RealHive(const std::string& name);

/// A whole file read in one go (hives are megabytes).
std::string FileBytes(const std::string& path);

/// Writes the real hive `name` into a folder as `as`; false when it is missing.
bool PlaceRealHive(const std::string& name, const std::string& folder, const std::string& as);

}  // namespace korbu::test
