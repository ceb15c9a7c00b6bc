#pragma once
#include <optional>
#include <string>

namespace korbu::test {

/// Sets (or, without a value, removes) an environment variable until destroyed,
/// then restores what was there.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::string name, const std::optional<std::string>& value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace korbu::test
