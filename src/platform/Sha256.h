#pragma once
// SHA-256 digests (the platform's own implementation: nettle on POSIX, BCrypt on
// Windows).

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace korbu::platform {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(std::string_view bytes);
  /// The digest of everything given so far, as 64 lower-case hex digits; the
  /// object then starts afresh.
  std::string HexDigest();
  /// The same digest as its 32 bytes.
  std::string Digest() { return RawDigest(); }

  struct State;

 private:
  std::string RawDigest();  // the 32 bytes; by the backend
  std::unique_ptr<State> state_;
};

/// The SHA-256 of a text, as 64 lower-case hex digits.
std::string Sha256Hex(std::string_view bytes);

class InputFile;

/// The SHA-256 of a whole open file, read in blocks from its start whatever its
/// position; empty when it cannot be read.
std::optional<std::string> Sha256OfFile(InputFile& file);

}  // namespace korbu::platform
