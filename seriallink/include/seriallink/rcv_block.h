// One received frame or control byte, copied by value between the receive thread and the
// exchange.
#pragma once

#include <cstddef>
#include <cstdint>

namespace seriallink {

inline constexpr size_t kBlockCapacity = 1024;

struct RCVBLOCK {
  // Offset of the last byte stored: 0 for a single NAK or SYN byte, the 0x03 of a frame.
  uint16_t index = 0;
  // From offset 0 (0x01, 0x15 or 0x16) on; zero past the last byte stored. A frame keeps SEQ at
  // offset 2, CMD at 3 and its data from 4.
  uint8_t buffer[kBlockCapacity] = {};
};

static_assert(sizeof(RCVBLOCK) == 1026, "callers copy the block as 1026 bytes");

}  // namespace seriallink
