#include "device_text.h"

#include <gtest/gtest.h>

namespace hub {
namespace {

TEST(DeviceText, CallersTextsReachTheDeviceExactlyOrNotAtAll) {
  const DeviceText cp1251(1251);
  EXPECT_EQ(cp1251.ToDevice("Хляб 1 kg"), std::optional<std::string>("\xD5\xEB\xFF\xE1 1 kg"));
  EXPECT_EQ(cp1251.FromDevice("\xD5\xEB\xFF\xE1"), "Хляб");
  EXPECT_EQ(cp1251.ToDevice("€"), std::optional<std::string>("\x88"));
  EXPECT_EQ(cp1251.ToDevice("日本"), std::nullopt);      // not in the code page
  EXPECT_EQ(cp1251.ToDevice("a\xC3"), std::nullopt);     // UTF-8 cut short
  EXPECT_EQ(cp1251.FromDevice("\x98"), "\xEF\xBF\xBD");  // undefined in 1251
  EXPECT_EQ(DeviceText(1250).ToDevice("Čaj"), std::optional<std::string>("\xC8"
                                                                         "aj"));
  EXPECT_EQ(DeviceText(437).CodePage(), 1251);
}

TEST(DeviceText, EveryByteSurvivesAByteString) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(ByteStringToBytes(BytesToByteString(all)), std::optional<std::string>(all));
  EXPECT_EQ(ByteStringToBytes("\xC4\x80"), std::nullopt);  // U+0100
  EXPECT_EQ(ByteStringToBytes("\xC3"), std::nullopt);
  EXPECT_EQ(ByteStringToBytes("\xC3\x41"), std::nullopt);
}

}  // namespace
}  // namespace hub
