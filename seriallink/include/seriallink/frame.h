// The device frame as this engine writes and reads it. The frame's facts (layout, check
// characters, building a request) come from framecodec, which the transport library shares;
// these are the engine's names for them, and its own reply assembly.
//
// Command: 01, LEN = 0x20 + 4 + n, SEQ, CMD, n data bytes, 05, four check bytes, 03.
// Reply:   01, LEN, SEQ, CMD, data, 04, six status bytes, 05, four check bytes, 03.
// Outside a frame the device sends single NAK (0x15, send again) and SYN (0x16, keep waiting)
// bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framecodec/frame.h"
#include "seriallink/rcv_block.h"

namespace seriallink {

using framecodec::kDataEnd;
using framecodec::kFrameEnd;
using framecodec::kFrameStart;
using framecodec::kLenBase;
using framecodec::kNak;
inline constexpr uint8_t kStatusSeparator = framecodec::kStatusStart;
inline constexpr uint8_t kSyn = framecodec::kBusy;

inline constexpr size_t kMaxData = framecodec::kMaxRequestData;
inline constexpr size_t kFrameOverhead = framecodec::kRequestOverhead;
inline constexpr size_t kMaxFrame = framecodec::kMaxRequestSize;
inline constexpr size_t kStatusBytes = framecodec::kStatusSize;

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

 private:
  enum class State { Idle, Length, Body };

  void Start(uint8_t byte);

  State state_ = State::Idle;
  uint16_t sum_ = 0;
  RCVBLOCK block_;
};

}  // namespace seriallink
