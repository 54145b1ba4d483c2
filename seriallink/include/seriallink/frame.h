// The device frame as this engine writes and reads it.
//
// Command: 01, LEN = 0x20 + 4 + n, SEQ, CMD, n data bytes, 05, four check bytes, 03.
// Reply:   01, LEN, SEQ, CMD, data, 04, six status bytes, 05, four check bytes, 03.
// The check bytes carry the 16-bit wrapping sum of LEN through the 05, one nibble each as
// 0x30 + nibble, most significant first. Outside a frame the device sends single NAK (0x15,
// send again) and SYN (0x16, keep waiting) bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "seriallink/rcv_block.h"

namespace seriallink {

inline constexpr uint8_t kFrameStart = 0x01;
inline constexpr uint8_t kFrameEnd = 0x03;
inline constexpr uint8_t kStatusSeparator = 0x04;
inline constexpr uint8_t kDataEnd = 0x05;
inline constexpr uint8_t kNak = 0x15;
inline constexpr uint8_t kSyn = 0x16;

inline constexpr uint8_t kLenBase = 0x20;
inline constexpr uint8_t kFirstSequence = 0x20;
inline constexpr uint8_t kLastSequence = 0x7F;
// LEN is one byte: 0x20 + 4 + n must stay within 0xFF.
inline constexpr size_t kMaxData = 0xFF - kLenBase - 4;
inline constexpr size_t kFrameOverhead = 10;
inline constexpr size_t kMaxFrame = kMaxData + kFrameOverhead;
inline constexpr size_t kStatusBytes = 6;

uint16_t FrameSum(const uint8_t *bytes, size_t size);
void WriteCheck(uint8_t *out, uint16_t sum);
// Only the low nibble of each byte counts.
uint16_t ReadCheck(const uint8_t *in);

// Turns the received byte stream into blocks: whole frames whose check holds, and single NAK and
// SYN bytes seen outside a frame. Everything else is dropped without a word; the exchange then
// times out and sends again.
//   - 0x01 starts a frame; the byte after it is LEN, and LEN below 0x20 drops the frame (so a
//     NAK or SYN right after the 0x01 is never taken for one; later in a frame it is data);
//   - the bytes from LEN up to offset LEN - 0x20 (the 05) are summed;
//   - the first 0x03 ends the frame, which is delivered when the sum equals its four check
//     bytes; a frame that grows past the block's 1024 bytes is dropped.
class ReplyAssembler {
 public:
  // True when the byte completed a block; Block() holds it until the next Feed.
  bool Feed(uint8_t byte);
  const RCVBLOCK &Block() const { return block_; }
  bool InFrame() const { return state_ != State::Idle; }

 private:
  enum class State { Idle, Length, Body };

  void Start(uint8_t byte);

  State state_ = State::Idle;
  uint16_t sum_ = 0;
  RCVBLOCK block_;
};

}  // namespace seriallink
