#include "fiscalsim/frame_codec.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

namespace fiscalsim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const Bytes kAbcRequest = {0x01, 0x27, 0x20, 0x2D, 0x61, 0x62, 0x63, 0x05, 0x30, 0x31, 0x39, 0x3F, 0x03};
const Bytes kEmptyRequest = {0x01, 0x24, 0x20, 0x21, 0x05, 0x30, 0x30, 0x36, 0x3A, 0x03};

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes &p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(FrameCodecTest, RequestsMatchTheWorkedExamples) {
  EXPECT_EQ(BuildRequest(0x20, 0x2D, "abc"), kAbcRequest);
  EXPECT_EQ(BuildRequest(0x20, 0x21, ""), kEmptyRequest);
}

TEST(FrameCodecTest, CheckCharactersAreNibblesAboveThirtyHexNotLetters) {
  EXPECT_EQ(CheckCharacters(0x019F), (std::array<uint8_t, 4>{0x30, 0x31, 0x39, 0x3F}));
  EXPECT_EQ(CheckCharacters(0xFFFF), (std::array<uint8_t, 4>{0x3F, 0x3F, 0x3F, 0x3F}));
  const Bytes wrapping(300, 0xFF);  // 300 * 255 = 0x12AD4, kept to 16 bits
  EXPECT_EQ(Checksum(wrapping), 0x2AD4);
}

TEST(FrameCodecTest, ReplyCarriesDataStatusAndCheck) {
  const StatusBytes status = {0x80, 0x81, 0x82, 0x83, 0x84, 0x85};
  // Sum 0x2C + 0x21 + 0x3E + 'A' + 0x04 + 0x80..0x85 + 0x05 = 0x3E4
  const Bytes expected = {0x01, 0x2C, 0x21, 0x3E, 'A',  0x04, 0x80, 0x81, 0x82,
                          0x83, 0x84, 0x85, 0x05, 0x30, 0x33, 0x3E, 0x34, 0x03};
  EXPECT_EQ(BuildReply(0x21, 0x3E, "A", status), expected);

  const auto parsed = ParseReply(expected);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->seq, 0x21);
  EXPECT_EQ(parsed->cmd, 0x3E);
  EXPECT_EQ(parsed->data, "A");
  EXPECT_EQ(parsed->status, status);
  EXPECT_TRUE(parsed->checkOk);
}

TEST(FrameCodecTest, DataLongerThanLenAllowsIsRefused) {
  EXPECT_EQ(BuildRequest(0x20, 0x2B, std::string(kMaxRequestData, 'x'))[1], 0xFF);
  EXPECT_THROW(BuildRequest(0x20, 0x2B, std::string(kMaxRequestData + 1, 'x')), std::length_error);
  EXPECT_EQ(BuildReply(0x20, 0x2B, std::string(kMaxReplyData, 'x'), {})[1], 0xFF);
  EXPECT_THROW(BuildReply(0x20, 0x2B, std::string(kMaxReplyData + 1, 'x'), {}), std::length_error);
}

TEST(FrameCodecTest, ParseReplySeparatesWrongCheckFromWrongStructure) {
  const Bytes good = BuildReply(0x20, 0x61, "20.00", {0x80, 0x80, 0x80, 0x80, 0x80, 0x80});

  Bytes badCheck = good;
  badCheck[badCheck.size() - 3] ^= 0x01;
  const auto parsed = ParseReply(badCheck);
  ASSERT_TRUE(parsed);
  EXPECT_FALSE(parsed->checkOk);
  EXPECT_EQ(parsed->data, "20.00");

  EXPECT_FALSE(ParseReply(Bytes(good.begin(), good.end() - 1)));
  Bytes noSeparator = good;
  noSeparator[4 + 5] = 0x00;
  EXPECT_FALSE(ParseReply(noSeparator));
  Bytes shortLen = good;
  shortLen[1] = 0x2A;
  EXPECT_FALSE(ParseReply(shortLen));
  EXPECT_FALSE(ParseReply(Bytes{}));
}

class RequestParserTest : public ::testing::Test {
 protected:
  std::vector<ReceivedFrame> Feed(const Bytes &bytes, Clock::time_point at) {
    std::vector<ReceivedFrame> out;
    parser_.Feed(bytes, at, out);
    return out;
  }

  RequestParser parser_;
  const Clock::time_point t0_ = Clock::now();
};

TEST_F(RequestParserTest, FrameSplitIntoSingleBytesIsAssembled) {
  std::vector<ReceivedFrame> frames;
  for (uint8_t b : kAbcRequest) {
    EXPECT_TRUE(frames.empty());
    parser_.Feed(std::span(&b, 1), t0_, frames);
  }
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_TRUE(frames[0].good);
  EXPECT_EQ(frames[0].seq, 0x20);
  EXPECT_EQ(frames[0].cmd, 0x2D);
  EXPECT_EQ(frames[0].data, "abc");
  EXPECT_EQ(frames[0].raw, kAbcRequest);
  EXPECT_FALSE(parser_.InFrame());
}

TEST_F(RequestParserTest, GarbageAndShortLengthsAreSkippedUntilARealFrame) {
  // Noise outside a frame, then a 01 whose LEN is too small, then a 01 read as LEN that really
  // starts the next frame.
  const Bytes noise = {0x15, 0x16, 0x03, 0x05, 0x24, 0xFF, 0x01, 0x23, 0x7E, 0x01};
  const auto frames = Feed(Concat({noise, kEmptyRequest, {0x00, 0x03}, kAbcRequest}), t0_);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].raw, kEmptyRequest);
  EXPECT_EQ(frames[1].raw, kAbcRequest);
  EXPECT_TRUE(frames[0].good && frames[1].good);

  const auto restarted = Feed(Concat({{0x01}, kEmptyRequest}), t0_);
  ASSERT_EQ(restarted.size(), 1u);
  EXPECT_EQ(restarted[0].raw, kEmptyRequest);
}

TEST_F(RequestParserTest, WrongCheckOrStructureGivesABadFrame) {
  Bytes wrongCheck = kAbcRequest;
  wrongCheck[10] = 0x3A;
  Bytes no05 = kAbcRequest;
  no05[7] = 0x06;
  Bytes no03 = kAbcRequest;
  no03.back() = 0x04;
  for (const Bytes &bad : {wrongCheck, no05, no03}) {
    const auto frames = Feed(Concat({bad, kEmptyRequest}), t0_);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_FALSE(frames[0].good);
    EXPECT_EQ(frames[0].raw, bad);
    EXPECT_EQ(frames[0].cmd, 0x2D);
    EXPECT_TRUE(frames[1].good) << "the next frame is read normally";
  }
}

TEST_F(RequestParserTest, StalePartialFrameIsDroppedWhenTheNextBytesCome) {
  const Bytes head(kAbcRequest.begin(), kAbcRequest.begin() + 6);
  EXPECT_TRUE(Feed(head, t0_).empty());
  EXPECT_TRUE(parser_.InFrame());
  const auto frames = Feed(kEmptyRequest, t0_ + 250ms);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].raw, kEmptyRequest);
  EXPECT_TRUE(frames[0].good);

  // A slow sender within the limit still completes its frame.
  EXPECT_TRUE(Feed(head, t0_ + 1s).empty());
  const auto slow = Feed(Bytes(kAbcRequest.begin() + 6, kAbcRequest.end()), t0_ + 1s + 150ms);
  ASSERT_EQ(slow.size(), 1u);
  EXPECT_EQ(slow[0].raw, kAbcRequest);
}

TEST_F(RequestParserTest, LongestFrameFits) {
  const Bytes request = BuildRequest(0x7F, 0xC6, std::string(kMaxRequestData, 'z'));
  const auto frames = Feed(request, t0_);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_TRUE(frames[0].good);
  EXPECT_EQ(frames[0].data.size(), kMaxRequestData);
}

// Whatever arrives, the parser returns only frames of the length their LEN gives.
TEST_F(RequestParserTest, RandomInputNeverYieldsMalformedFrames) {
  std::mt19937 random(1234);
  std::vector<ReceivedFrame> frames;
  Clock::time_point now = t0_;
  for (int round = 0; round < 20000; ++round) {
    Bytes chunk(random() % 40);
    for (auto &b : chunk) b = static_cast<uint8_t>(random() % 4 == 0 ? 0x01 : random());
    now += std::chrono::milliseconds(random() % 300);
    parser_.Feed(chunk, now, frames);
  }
  ASSERT_FALSE(frames.empty());
  for (const ReceivedFrame &f : frames) {
    ASSERT_GE(f.raw.size(), kRequestOverhead);
    EXPECT_EQ(f.raw[0], kFrameStart);
    EXPECT_EQ(f.raw.size(), f.raw[1] - kRequestLenBase + kRequestOverhead);
    EXPECT_EQ(f.data.size(), f.raw.size() - kRequestOverhead);
  }
}

TEST(ReplyReaderTest, SeparatesNakBusyAndSplitFrames) {
  const Bytes reply = BuildReply(0x20, 0x3E, "x", {0x80, 0x80, 0x80, 0x80, 0x80, 0x80});
  ReplyReader reader;
  std::vector<ReplyReader::Event> events;
  reader.Feed(Bytes{0x16, 0x42, 0x15, 0x01, 0x01}, events);
  reader.Feed(Bytes(reply.begin() + 1, reply.begin() + 5), events);
  reader.Feed(Bytes(reply.begin() + 5, reply.end()), events);
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].kind, ReplyReader::Kind::Busy);
  EXPECT_EQ(events[1].kind, ReplyReader::Kind::Nak);
  EXPECT_EQ(events[2].kind, ReplyReader::Kind::Frame);
  EXPECT_EQ(events[2].frame, reply);
}

}  // namespace
}  // namespace fiscalsim
