#include "support/ScopedEnvironment.h"

#include <cstdlib>

namespace korbu::test {
namespace {

void Set(const std::string& name, const char* value) {
#ifdef _WIN32
  ::_putenv_s(name.c_str(), value != nullptr ? value : "");  // "" removes it there
#else
  if (value != nullptr) ::setenv(name.c_str(), value, 1);
  else ::unsetenv(name.c_str());
#endif
}

}  // namespace

ScopedEnvironment::ScopedEnvironment(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) old_ = old;
  Set(name_, value ? value->c_str() : nullptr);
}

ScopedEnvironment::~ScopedEnvironment() {
  Set(name_, old_ ? old_->c_str() : nullptr);
}

}  // namespace korbu::test
