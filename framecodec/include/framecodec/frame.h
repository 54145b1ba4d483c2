// The device frame as the hosts build and check it. The transport library and the serial link
// engine take these facts from here; each keeps its own rules for the exchange (how a reply is
// found in the byte stream, when a frame goes out again).
//
// Request: 01, LEN = 0x24 + n, SEQ, CMD, n data bytes, 05, four check characters, 03.
// Reply:   01, LEN = 0x2B + n, SEQ, CMD, n data bytes, 04, six status bytes, 05, check, 03.
// LEN is 0x20 plus the count of the bytes from LEN through the 05, so LEN - 0x20 is the offset
// of the 05. The check characters carry the 16-bit wrapping sum of the bytes from LEN through
// the 05, one nibble each as 0x30 + nibble, most significant first: 0xF travels as 0x3F, never
// as a letter. Outside a frame the device sends single bytes: 15 (refused: send again) and 16
// (busy, also called SYN: keep waiting).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace framecodec {

inline constexpr uint8_t kFrameStart = 0x01;
inline constexpr uint8_t kFrameEnd = 0x03;
inline constexpr uint8_t kStatusStart = 0x04;
inline constexpr uint8_t kDataEnd = 0x05;
inline constexpr uint8_t kNak = 0x15;
inline constexpr uint8_t kBusy = 0x16;

inline constexpr uint8_t kLenBase = 0x20;
// SEQ is at offset 2, CMD at 3, the data from 4.
inline constexpr size_t kDataOffset = 4;
inline constexpr uint8_t kRequestLenBase = kLenBase + kDataOffset;  // 0x24
inline constexpr uint8_t kReplyLenBase = 0x2B;
inline constexpr size_t kCheckSize = 4;
// A check character is this plus one nibble of the sum.
inline constexpr uint8_t kCheckBase = 0x30;
inline constexpr size_t kStatusSize = 6;
// The 05, the check characters and the 03 after the data.
inline constexpr size_t kTrailerSize = 1 + kCheckSize + 1;
// LEN is one byte: longer data would wrap it.
inline constexpr size_t kMaxRequestData = 0xFF - kRequestLenBase;  // 219
inline constexpr size_t kRequestOverhead = kDataOffset + kTrailerSize;  // 10
inline constexpr size_t kMaxRequestSize = kMaxRequestData + kRequestOverhead;

// The first sequence byte either host sends.
inline constexpr uint8_t kFirstSequence = 0x20;

// The sum of the bytes, wrapping at 16 bits.
uint16_t Checksum(std::span<const uint8_t> bytes);
std::array<uint8_t, kCheckSize> CheckCharacters(uint16_t sum);
// The four check characters of `sum` at `out`.
void WriteCheck(uint8_t *out, uint16_t sum);
// The sum that four check characters carry; only the low nibble of each counts.
uint16_t ReadCheck(const uint8_t *in);

// Offsets 0..3 of a request whose data ends at `dataEnd` (4 + n): LEN = dataEnd + 0x20, kept to
// one byte.
void WriteHeader(uint8_t *frame, size_t dataEnd, uint8_t seq, uint8_t cmd);
// The 05 at `dataEnd`, the check characters over offsets 1..dataEnd and the 03; returns
// kTrailerSize, the bytes added. `frame` holds dataEnd + kTrailerSize bytes.
size_t WriteTrailer(uint8_t *frame, size_t dataEnd);
// A whole request into `out`: its length, or 0 (nothing written) when the data is longer than
// LEN can count or `out` cannot hold the frame.
size_t BuildRequest(uint8_t seq, uint8_t cmd, std::string_view data, std::span<uint8_t> out);

// The sequence byte of the next request. The two hosts step it differently, and the devices
// know both ways:
//  - the transport library: 0x20..0x7F go up by one, so 0x80 is sent too; anything else (0 at
//    first use, 0x80) starts again at 0x20;
//  - the serial link engine: up by one, and from 0x7F on back to 0x20.
uint8_t NextSequenceThrough80(uint8_t seq);
uint8_t NextSequenceThrough7F(uint8_t seq);

}  // namespace framecodec
