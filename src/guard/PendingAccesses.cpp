#include "guard/PendingAccesses.h"

namespace korbu::guard {

void PendingAccesses::Add(int eventFd, std::string name, Clock::time_point deadline) {
  const std::lock_guard lock(mutex_);
  entries_[eventFd] = Entry{std::move(name), deadline};
}

bool PendingAccesses::Claim(int eventFd) {
  const std::lock_guard lock(mutex_);
  return entries_.erase(eventFd) == 1;
}

std::vector<PendingAccesses::Expired> PendingAccesses::ClaimExpired(Clock::time_point now, bool everything) {
  std::vector<Expired> expired;
  const std::lock_guard lock(mutex_);
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (everything || it->second.deadline <= now) {
      expired.push_back(Expired{it->first, std::move(it->second.name)});
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
  return expired;
}

bool PendingAccesses::NextDeadline(Clock::time_point& at) const {
  const std::lock_guard lock(mutex_);
  if (entries_.empty()) return false;
  at = Clock::time_point::max();
  for (const auto& [fd, entry] : entries_) at = std::min(at, entry.deadline);
  return true;
}

std::size_t PendingAccesses::Count() const {
  const std::lock_guard lock(mutex_);
  return entries_.size();
}

}  // namespace korbu::guard
