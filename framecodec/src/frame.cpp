#include "framecodec/frame.h"

#include <cstring>

namespace framecodec {

uint16_t Checksum(std::span<const uint8_t> bytes) {
  uint16_t sum = 0;
  for (uint8_t b : bytes) sum = static_cast<uint16_t>(sum + b);
  return sum;
}

std::array<uint8_t, kCheckSize> CheckCharacters(uint16_t sum) {
  std::array<uint8_t, kCheckSize> check{};
  WriteCheck(check.data(), sum);
  return check;
}

void WriteCheck(uint8_t *out, uint16_t sum) {
  for (size_t i = 0; i < kCheckSize; ++i) out[i] = static_cast<uint8_t>(kCheckBase + ((sum >> (12 - 4 * i)) & 0x0F));
}

uint16_t ReadCheck(const uint8_t *in) {
  uint16_t value = 0;
  for (size_t i = 0; i < kCheckSize; ++i) value = static_cast<uint16_t>((value << 4) | (in[i] & 0x0F));
  return value;
}

void WriteHeader(uint8_t *frame, size_t dataEnd, uint8_t seq, uint8_t cmd) {
  frame[0] = kFrameStart;
  frame[1] = static_cast<uint8_t>(dataEnd + kLenBase);
  frame[2] = seq;
  frame[3] = cmd;
}

size_t WriteTrailer(uint8_t *frame, size_t dataEnd) {
  frame[dataEnd] = kDataEnd;
  WriteCheck(&frame[dataEnd + 1], Checksum(std::span<const uint8_t>(&frame[1], dataEnd)));
  frame[dataEnd + 1 + kCheckSize] = kFrameEnd;
  return kTrailerSize;
}

size_t BuildRequest(uint8_t seq, uint8_t cmd, std::string_view data, std::span<uint8_t> out) {
  if (data.size() > kMaxRequestData || out.size() < data.size() + kRequestOverhead) return 0;
  const size_t dataEnd = kDataOffset + data.size();
  WriteHeader(out.data(), dataEnd, seq, cmd);
  if (!data.empty()) std::memcpy(out.data() + kDataOffset, data.data(), data.size());
  return dataEnd + WriteTrailer(out.data(), dataEnd);
}

uint8_t NextSequenceThrough80(uint8_t seq) {
  if (seq >= kFirstSequence && seq <= 0x7F) return static_cast<uint8_t>(seq + 1);
  return kFirstSequence;
}

uint8_t NextSequenceThrough7F(uint8_t seq) {
  return seq >= 0x7F ? kFirstSequence : static_cast<uint8_t>(seq + 1);
}

}  // namespace framecodec
