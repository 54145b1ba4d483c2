#include "platform/trace.h"

#include <gtest/gtest.h>

#include <thread>

namespace platform {
namespace {

TEST(TraceTest, CaptureReceivesFormattedTextsInOrder) {
  TraceCapture capture;
  Trace("Com %s cannot be opened", "COM5");
  Trace("%s failed with error (%d) %s\n", "WriteFile", 5, "Access is denied.");
  const auto lines = capture.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Com COM5 cannot be opened");
  EXPECT_EQ(lines[1], "WriteFile failed with error (5) Access is denied.\n");
  EXPECT_TRUE(capture.Contains("cannot be opened"));
  EXPECT_EQ(capture.Count("failed"), 1u);
  capture.Clear();
  EXPECT_TRUE(capture.Lines().empty());
}

TEST(TraceTest, SizesAndLongLongsAreFormattedAsC99Says) {
  TraceCapture capture;
  Trace("%zu bytes, %lld ticks, %llu, %hhu", size_t{1027}, -(1LL << 40), ~0ULL, static_cast<unsigned char>(200));
  ASSERT_EQ(capture.Lines().size(), 1u);
  EXPECT_EQ(capture.Lines()[0], "1027 bytes, -1099511627776 ticks, 18446744073709551615, 200");
}

TEST(TraceTest, HexDumpShowsEveryByte) {
  TraceCapture capture;
  const unsigned char frame[] = {0x01, 0x24, 0x20, 0x21, 0x05, 0x30, 0x30, 0x36, 0x3A, 0x03};
  TraceHex("tx", frame, sizeof frame);
  ASSERT_EQ(capture.Lines().size(), 1u);
  EXPECT_EQ(capture.Lines()[0], "tx (10 bytes): 01 24 20 21 05 30 30 36 3A 03");
}

TEST(TraceTest, NestedCapturesHandBackTheLines) {
  TraceCapture outer;
  {
    TraceCapture inner;
    Trace("inner");
    EXPECT_TRUE(inner.Contains("inner"));
  }
  Trace("outer");
  EXPECT_FALSE(outer.Contains("inner"));
  EXPECT_TRUE(outer.Contains("outer"));
}

TEST(TraceTest, LongTextsAreNotCut) {
  TraceCapture capture;
  const std::string text(5000, 'x');
  Trace("%s", text.c_str());
  ASSERT_EQ(capture.Lines().size(), 1u);
  EXPECT_EQ(capture.Lines()[0], text);
}

TEST(TraceTest, TracesFromSeveralThreadsAreAllKept) {
  TraceCapture capture;
  std::thread a([] { for (int i = 0; i < 500; ++i) Trace("a %d", i); });
  std::thread b([] { for (int i = 0; i < 500; ++i) Trace("b %d", i); });
  a.join();
  b.join();
  EXPECT_EQ(capture.Lines().size(), 1000u);
}

TEST(TraceTest, FramesOfCommandsWithPasswordsAreDumpedWithoutTheirData) {
  TraceCapture capture;
  // 0x65 "01,old,new" (change a password) and its reply "" with six status bytes.
  const unsigned char request[] = {0x01, 0x2E, 0x20, 0x65, '0', '1', ',', 'o', 'l', 'd', ',', 'n', 'e', 'w',
                                   0x05, 0x30, 0x32, 0x3A, 0x3B, 0x03};
  const unsigned char reply[] = {0x01, 0x2E, 0x20, 0x65, 'p', 'w', 'd', 0x04, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
                                 0x05, 0x30, 0x34, 0x30, 0x31, 0x03};
  TraceFrame("tx", request, sizeof request);
  TraceFrame("rx", reply, sizeof reply);
  // A frame cut short before its 05 is masked to its end.
  TraceFrame("rx", request, 9);
  const unsigned char plain[] = {0x01, 0x27, 0x20, 0x2D, 'a', 'b', 'c', 0x05, 0x30, 0x31, 0x39, 0x3F, 0x03};
  TraceFrame("tx", plain, sizeof plain);
  const auto lines = capture.Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "tx (20 bytes): 01 2E 20 65 [10 bytes masked] 05 30 32 3A 3B 03");
  EXPECT_EQ(lines[1], "rx (20 bytes): 01 2E 20 65 [3 bytes masked] 04 80 80 80 80 80 80 05 30 34 30 31 03");
  EXPECT_EQ(lines[2], "rx (9 bytes): 01 2E 20 65 [5 bytes masked]");
  EXPECT_EQ(lines[3], "tx (13 bytes): 01 27 20 2D 61 62 63 05 30 31 39 3F 03");
  // The GPRS credentials and the unlock key, as the service tool sends them.
  for (unsigned code : {0x30u, 0x65u, 0x66u, 0xB0u, 0xDDu, 0xE4u}) EXPECT_TRUE(CommandCarriesSecret(code)) << code;
  for (unsigned code : {0x25u, 0xB4u, 0xC1u, 0x5Bu}) EXPECT_FALSE(CommandCarriesSecret(code)) << code;
}

TEST(TraceTest, TextArgumentsAreQuotedEscapedAndBounded) {
  EXPECT_EQ(TraceText(nullptr), "NULL");
  EXPECT_EQ(TraceText("a\tb\"c\\"), "\"a\\x09b\\\"c\\\\\"");
  EXPECT_EQ(TraceText(std::string(200, 'x').c_str()), "\"" + std::string(120, 'x') + "\"...");
  EXPECT_EQ(TraceSecret("1234"), "\"***\"");
  EXPECT_EQ(TraceSecret(""), "\"\"");
  EXPECT_EQ(TraceSecret(nullptr), "NULL");
}

}  // namespace
}  // namespace platform
