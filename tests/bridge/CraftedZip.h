#pragma once
// Zip archives made for the tests: stored or deflated members, and archives whose
// scan stops at one of the engine's limits before it reaches what they carry.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korbu::test {

/// One member as it lies in the archive.
struct ZipMember {
  std::string name;
  std::string stored;        // the bytes in the archive
  std::size_t size = 0;      // unpacked
  std::uint32_t crc = 0;     // of the unpacked bytes
  bool deflated = false;
};

/// A member kept as it is, and one deflated.
ZipMember Stored(std::string name, std::string data);
ZipMember Deflated(std::string name, const std::string& data);

/// A zip of the members, in order.
std::string ZipOf(const std::vector<ZipMember>& members);

/// The same with a stored member added last so that the archive is exactly size
/// bytes long; throws std::length_error when the members alone are too long.
std::string ZipOfSize(std::vector<ZipMember> members, std::size_t size);

/// Members past each limit of the program's engine (1,000 files, 6 levels,
/// 10 MiB), with carried behind the limit: 1,001 one-byte members before it;
/// carried seven zips deep; carried after 11 MiB of zeros in one deflated member.
std::vector<ZipMember> PastMaxFiles(const std::string& carried);
std::vector<ZipMember> PastMaxRecursion(const std::string& carried);
std::vector<ZipMember> PastMaxFileSize(const std::string& carried);

}  // namespace korbu::test
