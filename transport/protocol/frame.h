// The reply frame as this library takes it apart. The frame's layout, its check characters and
// the building of requests come from framecodec, which the serial link engine shares.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "framecodec/frame.h"

namespace vrn {

// The most a request frame or a stored reply frame may hold.
inline constexpr size_t kFrameCapacity = 256;

inline constexpr size_t kReplyTextSize = 256;
inline constexpr size_t kStatusSize = framecodec::kStatusSize;

// What a request hands back, copied out as one 262-byte block: the text, always zero-padded,
// then the status bytes.
struct ReplyRecord {
  std::array<char, kReplyTextSize> text{};
  std::array<uint8_t, kStatusSize> status{};

  void Clear() {
    text.fill(0);
    status.fill(0);
  }
};
static_assert(sizeof(ReplyRecord) == kReplyTextSize + kStatusSize);
inline constexpr size_t kReplyRecordSize = sizeof(ReplyRecord);

using FrameBuffer = std::array<uint8_t, kFrameCapacity>;

struct ReplyCheck {
  bool checkOk = false;     // the four check characters match
  bool seqMatched = false;  // SEQ equals the sequence byte of the request in flight
};

// Takes a complete reply frame apart (as stored from its 01 through its 03). Text and status go
// into `record` only when the SEQ matches `currentSeq`. Reads nothing beyond `frame`: what a
// malformed frame lacks stays as `record` had it.
ReplyCheck ParseReply(std::span<const uint8_t> frame, uint8_t currentSeq, ReplyRecord &record);

}  // namespace vrn
