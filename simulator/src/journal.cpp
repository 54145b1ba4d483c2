#include "fiscalsim/journal.h"

namespace fiscalsim {

void Journal::Add(JournalEntry entry) {
  {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
  }
  grown_.notify_all();
}

std::vector<JournalEntry> Journal::Entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

size_t Journal::Size() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

bool Journal::WaitForSize(size_t n, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  const auto holds = [&] { return entries_.size() >= n; };
  if (timeout == std::chrono::milliseconds::max()) {
    grown_.wait(lock, holds);
    return true;
  }
  return grown_.wait_for(lock, timeout, holds);
}

void Journal::Clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

}  // namespace fiscalsim
