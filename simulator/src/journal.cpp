#include "fiscalsim/journal.h"

namespace fiscalsim {

void Journal::Add(JournalEntry entry) {
  {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
    ++total_;
    TrimLocked();
  }
  grown_.notify_all();
}

void Journal::TrimLocked() {
  while (entries_.size() > capacity_) entries_.pop_front();
}

std::vector<JournalEntry> Journal::Entries() const {
  std::lock_guard lock(mutex_);
  return {entries_.begin(), entries_.end()};
}

size_t Journal::Size() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

uint64_t Journal::Total() const {
  std::lock_guard lock(mutex_);
  return total_;
}

bool Journal::WaitForSize(size_t n, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  const auto holds = [&] { return total_ >= n; };
  if (timeout == std::chrono::milliseconds::max()) {
    grown_.wait(lock, holds);
    return true;
  }
  return grown_.wait_for(lock, timeout, holds);
}

void Journal::Clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
  total_ = 0;
}

size_t Journal::Capacity() const {
  std::lock_guard lock(mutex_);
  return capacity_;
}

void Journal::SetCapacity(size_t capacity) {
  std::lock_guard lock(mutex_);
  capacity_ = capacity;
  TrimLocked();
}

}  // namespace fiscalsim
