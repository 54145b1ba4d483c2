#include "protocol/frame.h"

#include <algorithm>
#include <cstring>

namespace vrn {

uint8_t NextSequence(uint8_t seq) {
  if (seq >= 0x20 && seq <= 0x7F) return static_cast<uint8_t>(seq + 1);
  return 0x20;
}

uint16_t Checksum(std::span<const uint8_t> bytes) {
  uint16_t sum = 0;
  for (uint8_t b : bytes) sum = static_cast<uint16_t>(sum + b);
  return sum;
}

std::array<uint8_t, 4> CheckCharacters(uint16_t sum) {
  return {static_cast<uint8_t>(0x30 + ((sum >> 12) & 0xF)), static_cast<uint8_t>(0x30 + ((sum >> 8) & 0xF)),
          static_cast<uint8_t>(0x30 + ((sum >> 4) & 0xF)), static_cast<uint8_t>(0x30 + (sum & 0xF))};
}

size_t BuildRequest(uint8_t seq, uint8_t cmd, std::string_view data, FrameBuffer &out) {
  if (data.size() > kMaxRequestData) return 0;
  size_t n = 0;
  out[n++] = kFrameStart;
  out[n++] = static_cast<uint8_t>(kRequestLenBase + data.size());
  out[n++] = seq;
  out[n++] = cmd;
  if (!data.empty()) std::memcpy(out.data() + n, data.data(), data.size());
  n += data.size();
  out[n++] = kDataEnd;
  for (uint8_t c : CheckCharacters(Checksum(std::span(out.data() + 1, n - 1)))) out[n++] = c;
  out[n++] = kFrameEnd;
  return n;
}

ReplyCheck ParseReply(std::span<const uint8_t> frame, uint8_t currentSeq, ReplyRecord &record) {
  ReplyCheck result;
  const size_t size = frame.size();
  size_t pos = 0;
  bool matched = false;
  while (pos < size && frame[pos] != kFrameEnd) {
    switch (frame[pos]) {
      case kFrameStart: {
        if (pos + 2 >= size) return result;
        const uint8_t len = frame[pos + 1];
        matched = frame[pos + 2] == currentSeq;
        result.seqMatched = matched;
        const size_t n = static_cast<uint8_t>(len - kReplyLenBase);
        const size_t first = pos + 4;
        if (matched) {
          record.text.fill(0);
          // n is at most 255, so the text keeps its terminator.
          const size_t present = first < size ? std::min(n, size - first) : 0;
          if (present != 0) std::memcpy(record.text.data(), frame.data() + first, present);
        }
        pos = first + n;
        break;
      }
      case kStatusStart: {
        if (matched) {
          for (size_t i = 0; i < kStatusSize && pos + 1 + i < size; ++i) record.status[i] = frame[pos + 1 + i];
        }
        pos += 1 + kStatusSize;
        break;
      }
      case kDataEnd: {
        // The sum runs up to the 05 that ends the status, so a command code or data byte of
        // 05 does not cut it short.
        const uint16_t sum = Checksum(frame.subspan(1, pos));
        const auto expected = CheckCharacters(sum);
        result.checkOk = pos + 4 < size && std::equal(expected.begin(), expected.end(), frame.begin() + pos + 1);
        pos += 1 + 4;
        break;
      }
      default:
        ++pos;
        break;
    }
  }
  return result;
}

}  // namespace vrn
