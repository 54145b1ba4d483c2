// The frames the simulator received, in order, for tests to assert the bytes on the wire.
//
// Only the newest frames are held (Capacity(), 4096 unless told otherwise), so that a
// long-running simulator or a load test of many thousand requests does not grow without end;
// Total() keeps counting every frame. Until more than Capacity() frames came, Entries() holds
// every one of them, oldest first, and Size() == Total().
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "fiscalsim/frame_codec.h"

namespace fiscalsim {

struct JournalEntry {
  uint8_t seq = 0;
  uint8_t cmd = 0;
  std::string data;
  Bytes raw;
  bool good = false;  // structure and check characters right
};

class Journal {
 public:
  // About 100 bytes a short request: some 400 KB held at most.
  static constexpr size_t kDefaultCapacity = 4096;

  explicit Journal(size_t capacity = kDefaultCapacity) : capacity_(capacity) {}

  void Add(JournalEntry entry);
  // The frames held, oldest first: the last min(Total(), Capacity()) received.
  std::vector<JournalEntry> Entries() const;
  // Frames held.
  size_t Size() const;
  // Frames received since the journal was made or last cleared, held or not.
  uint64_t Total() const;
  // True once Total() reached n; false when the time-out ran out first. It waits on the total
  // because the held count stops at the capacity; for n up to Capacity() it is the same thing
  // as Size() reaching n. Millis::max() waits without limit.
  bool WaitForSize(size_t n, std::chrono::milliseconds timeout) const;
  // Forgets every frame and sets the total back to 0.
  void Clear();

  size_t Capacity() const;
  // Takes effect at once: the oldest frames beyond the new capacity are dropped. 0 holds none
  // and only counts.
  void SetCapacity(size_t capacity);

 private:
  void TrimLocked();

  mutable std::mutex mutex_;
  mutable std::condition_variable grown_;
  // All guarded by mutex_.
  size_t capacity_;
  std::deque<JournalEntry> entries_;
  uint64_t total_ = 0;
};

}  // namespace fiscalsim
