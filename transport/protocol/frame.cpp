#include "protocol/frame.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace vrn {

using framecodec::kDataEnd;
using framecodec::kFrameEnd;
using framecodec::kFrameStart;
using framecodec::kReplyLenBase;
using framecodec::kStatusStart;

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
        const size_t first = pos + framecodec::kDataOffset;
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
        const uint16_t sum = framecodec::Checksum(frame.subspan(1, pos));
        const auto expected = framecodec::CheckCharacters(sum);
        result.checkOk =
            pos + framecodec::kCheckSize < size &&
            std::equal(expected.begin(), expected.end(), frame.begin() + static_cast<std::ptrdiff_t>(pos + 1));
        pos += 1 + framecodec::kCheckSize;
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
