#pragma once
// The permission events handed to the workers and not yet answered. Each is
// answered exactly once: by its worker, or, past its deadline or when the guard
// stops, by whoever claims it first.

#include <chrono>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace korbu::guard {

class PendingAccesses {
 public:
  using Clock = std::chrono::steady_clock;

  /// An access waiting on the event's descriptor (which stays open, and so
  /// unique, until the worker is done with it).
  void Add(int eventFd, std::string name, Clock::time_point deadline);

  /// True for the one caller that may answer the event; false once another did.
  bool Claim(int eventFd);

  struct Expired {
    int eventFd = -1;
    std::string name;
  };
  /// Claims every access whose deadline is past now (all of them with
  /// everything): the caller lets them go.
  std::vector<Expired> ClaimExpired(Clock::time_point now, bool everything = false);

  /// The earliest deadline, or none while nothing waits.
  bool NextDeadline(Clock::time_point& at) const;

  std::size_t Count() const;

 private:
  struct Entry {
    std::string name;
    Clock::time_point deadline;
  };
  mutable std::mutex mutex_;
  std::unordered_map<int, Entry> entries_;
};

}  // namespace korbu::guard
