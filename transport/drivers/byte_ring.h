// The receive ring between a COM port's receive thread (the only writer of the write index) and
// the protocol's receive thread (the only writer of the read index), so it needs no lock.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace vrn {

class ByteRing {
 public:
  static constexpr size_t kSize = 1024;

  // Producer side. False when the ring is full (kSize - 1 bytes waiting): the byte is dropped.
  bool Put(uint8_t byte) {
    const uint32_t w = write_.load(std::memory_order_relaxed);
    const uint32_t next = (w + 1) % kSize;
    if (next == read_.load(std::memory_order_acquire)) return false;
    bytes_[w] = byte;
    write_.store(next, std::memory_order_release);
    return true;
  }

  // Consumer side: moves every waiting byte into `out` (room for kSize bytes), oldest first.
  size_t Take(uint8_t *out) {
    uint32_t r = read_.load(std::memory_order_relaxed);
    const uint32_t w = write_.load(std::memory_order_acquire);
    size_t n = 0;
    while (r != w) {
      out[n++] = bytes_[r];
      r = (r + 1) % kSize;
    }
    read_.store(r, std::memory_order_release);
    return n;
  }

  size_t Pending() const {
    const uint32_t r = read_.load(std::memory_order_acquire);
    const uint32_t w = write_.load(std::memory_order_acquire);
    return (w + kSize - r) % kSize;
  }

 private:
  std::array<uint8_t, kSize> bytes_{};
  std::atomic<uint32_t> read_{0};
  std::atomic<uint32_t> write_{0};
};

}  // namespace vrn
