// The device frame as the host sees it.
//
// Request: 01, LEN = 0x24 + n, SEQ, CMD, n data bytes, 05, four check characters, 03.
// Reply:   01, LEN = 0x2B + n, SEQ, CMD, n data bytes, 04, six status bytes, 05, check, 03.
// The check characters carry the 16-bit sum of the bytes from LEN through the 05, one nibble
// each as 0x30 + nibble, most significant first (0xF travels as 0x3F, never as a letter).
// Outside a frame the device sends single bytes: 15 (refused, send again) and 16 (busy).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace vrn {

inline constexpr uint8_t kFrameStart = 0x01;
inline constexpr uint8_t kFrameEnd = 0x03;
inline constexpr uint8_t kStatusStart = 0x04;
inline constexpr uint8_t kDataEnd = 0x05;
inline constexpr uint8_t kNak = 0x15;
inline constexpr uint8_t kBusy = 0x16;

inline constexpr uint8_t kRequestLenBase = 0x24;
inline constexpr uint8_t kReplyLenBase = 0x2B;
inline constexpr size_t kFrameCapacity = 256;
// LEN is one byte: longer data would wrap it.
inline constexpr size_t kMaxRequestData = 0xFF - kRequestLenBase;  // 219

inline constexpr size_t kReplyTextSize = 256;
inline constexpr size_t kStatusSize = 6;

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

// 0x20, 0x21, ... 0x7F, 0x80, then 0x20 again; anything outside 0x20..0x7F (0 at first use)
// restarts at 0x20.
uint8_t NextSequence(uint8_t seq);

uint16_t Checksum(std::span<const uint8_t> bytes);
std::array<uint8_t, 4> CheckCharacters(uint16_t sum);

using FrameBuffer = std::array<uint8_t, kFrameCapacity>;

// Builds the request into `out`; returns its length, or 0 when the data is too long for LEN.
size_t BuildRequest(uint8_t seq, uint8_t cmd, std::string_view data, FrameBuffer &out);

struct ReplyCheck {
  bool checkOk = false;     // the four check characters match
  bool seqMatched = false;  // SEQ equals the sequence byte of the request in flight
};

// Takes a complete reply frame apart (as stored from its 01 through its 03). Text and status go
// into `record` only when the SEQ matches `currentSeq`. Reads nothing beyond `frame`: what a
// malformed frame lacks stays as `record` had it.
ReplyCheck ParseReply(std::span<const uint8_t> frame, uint8_t currentSeq, ReplyRecord &record);

}  // namespace vrn
