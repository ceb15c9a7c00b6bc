#pragma once
// A hand-made Wine prefix in a temporary folder (system.reg, user.reg, drive_c),
// named by WINEPREFIX for as long as it lives.

#include <optional>
#include <string>
#include <string_view>

#include "support/TempTree.h"

namespace korbu::test {

/// Sets an environment variable and restores its old value on destruction.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::string& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

/// A small system.reg: a Run key, a Classes key, a key with every kind of value.
extern const std::string_view kSampleSystemReg;
/// A small user.reg with a Run key and the Shell Folders key.
extern const std::string_view kSampleUserReg;

class TestPrefix {
 public:
  explicit TestPrefix(std::string_view systemReg = kSampleSystemReg,
                      std::string_view userReg = kSampleUserReg);

  std::string Folder() const { return tree_.Path(); }
  std::string SystemReg() const { return tree_.Path("system.reg"); }
  std::string UserReg() const { return tree_.Path("user.reg"); }
  std::string SystemText() const { return ReadFileBytes(SystemReg()); }
  std::string UserText() const { return ReadFileBytes(UserReg()); }
  const TempTree& Tree() const { return tree_; }

 private:
  TempTree tree_;
  std::optional<ScopedEnv> env_;
};

}  // namespace korbu::test
