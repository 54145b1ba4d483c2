// Every frame the simulator received, in order, for tests to assert the bytes on the wire.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
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
  void Add(JournalEntry entry);
  std::vector<JournalEntry> Entries() const;
  size_t Size() const;
  // True once the journal holds at least n entries; false when the time-out ran out first.
  // Millis::max() waits without limit.
  bool WaitForSize(size_t n, std::chrono::milliseconds timeout) const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable grown_;
  std::vector<JournalEntry> entries_;  // guarded by mutex_
};

}  // namespace fiscalsim
