// The device frame in both directions.
//
// Request (host to device): 01, LEN = 0x24 + n, SEQ, CMD, n data bytes, 05, four check
// characters, 03.
// Reply (device to host): 01, LEN = 0x2B + n, SEQ, CMD, n data bytes, 04, six status bytes, 05,
// four check characters, 03.
// The check characters carry the 16-bit wrapping sum of the bytes from LEN through the 05, one
// nibble each as 0x30 + nibble, most significant first: 0xF is sent as 0x3F, never as a letter.
// Outside a frame the device may send the single bytes 15 (refused: send again) and 16 (busy).
//
// The device side parses requests and builds replies; the host side (test clients, probes)
// builds requests and takes replies apart.
//
// This copy is kept apart from the hosts' shared codec (framecodec) on purpose: the simulator is
// what checks the hosts, and a fault in one copy shows up as a disagreement with the other.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fiscalsim {

using Bytes = std::vector<uint8_t>;
using StatusBytes = std::array<uint8_t, 6>;

inline constexpr uint8_t kFrameStart = 0x01;
inline constexpr uint8_t kFrameEnd = 0x03;
inline constexpr uint8_t kStatusStart = 0x04;
inline constexpr uint8_t kDataEnd = 0x05;
inline constexpr uint8_t kNak = 0x15;
inline constexpr uint8_t kBusy = 0x16;

// Sequence numbers run from 0x20 to 0x7F and wrap.
inline constexpr uint8_t kFirstSeq = 0x20;
inline constexpr uint8_t kLastSeq = 0x7F;

inline constexpr uint8_t kRequestLenBase = 0x24;
inline constexpr uint8_t kReplyLenBase = 0x2B;
// LEN is one byte, which bounds the data of either frame.
inline constexpr size_t kMaxRequestData = 0xFF - kRequestLenBase;  // 219
inline constexpr size_t kMaxReplyData = 0xFF - kReplyLenBase;      // 212
// Frame bytes besides the data.
inline constexpr size_t kRequestOverhead = 10;
inline constexpr size_t kReplyOverhead = 17;

// Sum of the bytes, wrapping at 16 bits.
uint16_t Checksum(std::span<const uint8_t> bytes);
std::array<uint8_t, 4> CheckCharacters(uint16_t sum);

// Throw std::length_error when the data does not fit LEN.
Bytes BuildRequest(uint8_t seq, uint8_t cmd, std::string_view data);
Bytes BuildReply(uint8_t seq, uint8_t cmd, std::string_view data, const StatusBytes &status);

// ---- device side ----

struct ReceivedFrame {
  Bytes raw;
  uint8_t seq = 0;
  uint8_t cmd = 0;
  std::string data;
  // False when the 05 or the 03 is not where LEN puts them, or the check characters are wrong:
  // such a frame is refused with a NAK.
  bool good = false;
  // When its first byte was fed: with a paced line, the frame has arrived one wire time later.
  std::chrono::steady_clock::time_point startedAt;
};

// Assembles requests from bytes that arrive in arbitrary chunks. Outside a frame only 01 starts
// one; everything else is dropped. A LEN below 0x24 is taken for noise. A frame is read to the
// length its LEN gives, so a partial frame left by a sender that gave up would swallow the next
// request: a partial frame that has seen no byte for `staleAfter` is dropped when the next
// byte comes.
class RequestParser {
 public:
  using Clock = std::chrono::steady_clock;

  explicit RequestParser(std::chrono::milliseconds staleAfter = std::chrono::milliseconds(200));

  // Appends every frame that these bytes complete, good or bad, to `out`.
  void Feed(std::span<const uint8_t> bytes, Clock::time_point now, std::vector<ReceivedFrame> &out);

  bool InFrame() const { return !partial_.empty(); }

 private:
  ReceivedFrame Finish();

  std::chrono::milliseconds staleAfter_;
  Bytes partial_;
  size_t expected_ = 0;  // whole frame length once LEN is known, else 0
  Clock::time_point startedAt_;
  Clock::time_point lastByteAt_;
};

// ---- host side ----

struct ParsedReply {
  uint8_t seq = 0;
  uint8_t cmd = 0;
  std::string data;
  StatusBytes status{};
  bool checkOk = false;
};

// Takes one whole reply frame apart. Nothing when the frame's structure is wrong (length, the
// 01, 04, 05 and 03 at their places); a wrong check still parses, with checkOk false.
std::optional<ParsedReply> ParseReply(std::span<const uint8_t> frame);

// Splits what a device sends into NAKs, busy bytes and whole reply frames (by their LEN).
class ReplyReader {
 public:
  enum class Kind { Nak, Busy, Frame };
  struct Event {
    Kind kind;
    Bytes frame;  // Frame only
  };

  void Feed(std::span<const uint8_t> bytes, std::vector<Event> &out);

 private:
  Bytes partial_;
  size_t expected_ = 0;
};

}  // namespace fiscalsim
