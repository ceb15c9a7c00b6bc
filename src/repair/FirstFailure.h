#pragma once
// The first failure among changes that are each tried whatever the others did:
// what a step that makes several changes reports.

#include <optional>
#include <string_view>
#include <utility>

#include "platform/Expected.h"

namespace korbu {

class FirstFailure {
 public:
  /// Keeps done's error, with what it concerns in front, when it is the first.
  template <typename T>
  void Note(const Expected<T>& done, std::string_view what = {}) {
    if (done || first_) return;
    first_ = what.empty() ? done.error() : done.error().Context(what);
  }

  /// Ok, or the first failure noted.
  Status Result() const {
    if (first_) return *first_;
    return Ok();
  }

 private:
  std::optional<Error> first_;
};

}  // namespace korbu
