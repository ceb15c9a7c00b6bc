#pragma once
// A result that carries its reason: either a value or an Error saying what failed.
// C++20 has no std::expected; this is a small one in the spirit of LLVM's Expected.
//
//   Expected<Folder> folder = Folder::Open(path);
//   if (!folder) return folder.error();          // passes the reason up
//   Status done = folder->DeleteFile(name);
//   if (!done) note = done.error().reason;        // "Permission denied"
//
// Functions that have nothing to give back return Status (Expected<void>).

#include <cassert>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

namespace korbu {

/// The failures callers tell apart beside the system's code.
enum class ErrorKind {
  Other,
  NameTaken,  // something else already bears the name a new entry was to get
  NotFound,   // the registry (or a hive) answered: no such key or value
  Busy,       // another holder kept a lock for longer than was waited
  Untrusted,  // the program's own records are not the running user's own
};

/// What failed, for people, the system's own code where there is one, and the
/// kind of failure where a caller acts on it.
struct Error {
  std::string reason;  // "Permission denied", "the folder is a link", ...
  int code = 0;        // errno on POSIX, GetLastError() on Windows; 0 when none applies
  ErrorKind kind = ErrorKind::Other;

  /// The same error with what it concerns in front: "cannot open x: Permission denied".
  Error Context(std::string_view what) const {
    Error out = *this;
    out.reason = std::string(what) + ": " + reason;
    return out;
  }
};

/// Makes an Error from a text of our own (no system code).
inline Error Failure(std::string reason, int code = 0) { return Error{std::move(reason), code}; }
/// The same for a failure of a kind callers tell apart.
inline Error Failure(std::string reason, ErrorKind kind) { return Error{std::move(reason), 0, kind}; }

template <typename T>
class [[nodiscard]] Expected {
 public:
  Expected(const T& value) : state_(std::in_place_index<0>, value) {}  // NOLINT: implicit by design
  Expected(T&& value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT
  Expected(Error error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT
  template <typename U, typename = std::enable_if_t<std::is_constructible_v<T, U&&> &&
                                                    !std::is_same_v<std::decay_t<U>, T> &&
                                                    !std::is_same_v<std::decay_t<U>, Error>>>
  Expected(U&& value) : state_(std::in_place_index<0>, T(std::forward<U>(value))) {}  // NOLINT

  bool has_value() const { return state_.index() == 0; }
  explicit operator bool() const { return has_value(); }

  T& value() & {
    assert(has_value());
    return std::get<0>(state_);
  }
  const T& value() const& {
    assert(has_value());
    return std::get<0>(state_);
  }
  T&& value() && {
    assert(has_value());
    return std::get<0>(std::move(state_));
  }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  const Error& error() const {
    assert(!has_value());
    return std::get<1>(state_);
  }
  /// The reason, or an empty text when there is a value.
  std::string Reason() const { return has_value() ? std::string() : error().reason; }

 private:
  std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Expected<void> {
 public:
  Expected() = default;
  Expected(Error error) : error_(std::move(error)), failed_(true) {}  // NOLINT: implicit by design

  bool has_value() const { return !failed_; }
  explicit operator bool() const { return has_value(); }
  const Error& error() const {
    assert(failed_);
    return error_;
  }
  std::string Reason() const { return failed_ ? error_.reason : std::string(); }

 private:
  Error error_;
  bool failed_ = false;
};

/// Success or the reason of a failure.
using Status = Expected<void>;

/// The success of a Status-returning function.
inline Status Ok() { return Status(); }

}  // namespace korbu
