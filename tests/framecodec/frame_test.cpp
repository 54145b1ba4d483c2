// The frame as both hosts build it: worked examples, the bounds of LEN, the check characters and
// the two sequence rules, checked against the simulator's independent copy where it has one.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "fiscalsim/frame_codec.h"
#include "framecodec/frame.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Build(uint8_t seq, uint8_t cmd, const std::string &data) {
  std::array<uint8_t, framecodec::kMaxRequestSize + 1> buffer{};
  const size_t n = framecodec::BuildRequest(seq, cmd, data, buffer);
  return {buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(n)};
}

// The engine's way: the data placed first, then header and trailer around it.
Bytes BuildInPlace(uint8_t seq, uint8_t cmd, const std::string &data) {
  Bytes frame(data.size() + framecodec::kRequestOverhead);
  std::copy(data.begin(), data.end(), frame.begin() + framecodec::kDataOffset);
  const size_t dataEnd = framecodec::kDataOffset + data.size();
  framecodec::WriteHeader(frame.data(), dataEnd, seq, cmd);
  EXPECT_EQ(framecodec::WriteTrailer(frame.data(), dataEnd), framecodec::kTrailerSize);
  return frame;
}

Bytes Hex(const std::string &spaced) {
  Bytes bytes;
  for (size_t i = 0; i + 2 <= spaced.size(); i += 3) {
    bytes.push_back(static_cast<uint8_t>(std::stoul(spaced.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

TEST(RequestFrame, WorkedExamples) {
  // The sum 0x019F: its nibble 0xF travels as 0x3F, not as a hexadecimal letter.
  EXPECT_EQ(Build(0x20, 0x2D, "abc"), Hex("01 27 20 2D 61 62 63 05 30 31 39 3F 03"));
  // No data: the sum 0x006A.
  EXPECT_EQ(Build(0x20, 0x21, ""), Hex("01 24 20 21 05 30 30 36 3A 03"));
  EXPECT_EQ(BuildInPlace(0x20, 0x2D, "abc"), Build(0x20, 0x2D, "abc"));
  EXPECT_EQ(BuildInPlace(0x20, 0x21, ""), Build(0x20, 0x21, ""));
}

TEST(RequestFrame, AnyDataBytesMatchTheSimulatorsCodec) {
  std::mt19937 random(11);
  for (int round = 0; round < 200; ++round) {
    std::string data(random() % (framecodec::kMaxRequestData + 1), '\0');
    for (char &c : data) c = static_cast<char>(random());
    const auto seq = static_cast<uint8_t>(0x20 + random() % 0x61);
    const auto cmd = static_cast<uint8_t>(random());
    const Bytes expected = fiscalsim::BuildRequest(seq, cmd, data);
    ASSERT_EQ(Build(seq, cmd, data), expected) << "round " << round;
    ASSERT_EQ(BuildInPlace(seq, cmd, data), expected) << "round " << round;
  }
}

TEST(RequestFrame, LongestDataFitsAndLongerOrARoomTooSmallIsRefused) {
  const Bytes longest = Build(0x20, 0x2D, std::string(219, 'x'));
  ASSERT_EQ(longest.size(), 229u);
  EXPECT_EQ(longest[1], 0xFF);
  EXPECT_EQ(longest.back(), 0x03);
  EXPECT_TRUE(Build(0x20, 0x2D, std::string(220, 'x')).empty());

  std::array<uint8_t, 12> small{};
  small.fill(0xEE);
  EXPECT_EQ(framecodec::BuildRequest(0x20, 0x2D, "abc", small), 0u);
  for (uint8_t b : small) EXPECT_EQ(b, 0xEE);
  EXPECT_EQ(framecodec::BuildRequest(0x20, 0x2D, "ab", small), 12u);
}

TEST(CheckCharacters, NibblesPlus30BothWaysAndOnlyLowNibblesAreRead) {
  for (uint16_t sum : {0x0000, 0x006A, 0x019F, 0xFFFF, 0xA5C3}) {
    const auto check = framecodec::CheckCharacters(sum);
    for (uint8_t c : check) EXPECT_TRUE(c >= 0x30 && c <= 0x3F) << std::hex << sum;
    EXPECT_EQ(framecodec::ReadCheck(check.data()), sum);
    uint8_t written[4];
    framecodec::WriteCheck(written, sum);
    EXPECT_TRUE(std::equal(check.begin(), check.end(), written));
  }
  const uint8_t highNibblesSet[4] = {0x41, 0xF9, 0x7F, 0x03};
  EXPECT_EQ(framecodec::ReadCheck(highNibblesSet), 0x19F3);
  // The sum wraps at 16 bits.
  const Bytes many(300, 0xFF);
  EXPECT_EQ(framecodec::Checksum(many), static_cast<uint16_t>(300 * 0xFF));
}

TEST(SequenceByte, TheTransportRunsThrough80AndTheEngineThrough7F) {
  uint8_t seq = 0;  // the transport's byte before its first request
  Bytes sent;
  for (int i = 0; i < 98; ++i) sent.push_back(seq = framecodec::NextSequenceThrough80(seq));
  EXPECT_EQ(sent[0], 0x20);
  EXPECT_EQ(sent[95], 0x7F);
  EXPECT_EQ(sent[96], 0x80);  // the 97th request
  EXPECT_EQ(sent[97], 0x20);  // the 98th

  seq = framecodec::kFirstSequence;  // the engine's first
  sent.assign(1, seq);
  for (int i = 0; i < 96; ++i) sent.push_back(seq = framecodec::NextSequenceThrough7F(seq));
  EXPECT_EQ(sent[95], 0x7F);
  EXPECT_EQ(sent[96], 0x20);
}

}  // namespace
