// The rules about device names that the Windows device tree spells out.
#include "devices/device_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace vrn {
namespace {

TEST(DeviceRules, IdsComeFromVidAndPidInAnyCase) {
  int32_t vid = -1;
  int32_t pid = -1;
  EXPECT_TRUE(ParseInterfaceIds(R"(\\?\USB#VID_0483&PID_5740#6D8A1234#{a5dcbf10-6530-11d2-901f-00c04fb951ed})", vid, pid));
  EXPECT_EQ(vid, 0x0483);
  EXPECT_EQ(pid, 0x5740);
  EXPECT_TRUE(ParseInterfaceIds(R"(\\?\usb#vid_1a86&pid_7523#5&1)", vid, pid));
  EXPECT_EQ(vid, 0x1A86);
  EXPECT_EQ(pid, 0x7523);

  // Without both numbers nothing is taken and the ids stay as they were.
  vid = pid = -1;
  EXPECT_FALSE(ParseInterfaceIds(R"(\\?\USB#VID_0483&XID_5740#1)", vid, pid));
  EXPECT_FALSE(ParseInterfaceIds(R"(\\?\USB#VID_0483&PID_#1)", vid, pid));
  EXPECT_FALSE(ParseInterfaceIds("", vid, pid));
  EXPECT_EQ(vid, -1);
  EXPECT_EQ(pid, -1);
  // A run of digits too long for a USB id is not read past its end.
  EXPECT_FALSE(ParseInterfaceIds("vid_123456789abcdef0123&pid_1", vid, pid));
}

TEST(DeviceRules, PortNameKeepsComWithItsDigitsOrTheWholeValue) {
  bool com = false;
  EXPECT_EQ(PortNameFromValue("com12", com), "COM12");
  EXPECT_TRUE(com);
  // The first "COM" with digits counts, not the first "COM".
  EXPECT_EQ(PortNameFromValue("Communication COM3 port", com), "COM3");
  EXPECT_TRUE(com);
  EXPECT_EQ(PortNameFromValue("LPT1", com), "LPT1");
  EXPECT_FALSE(com);
  EXPECT_EQ(PortNameFromValue("com", com), "COM");
  EXPECT_FALSE(com);
  EXPECT_EQ(PortNameFromValue(std::string(100, 'x'), com).size(), 63u);
}

TEST(DeviceRules, PathsMatchWithoutTheirLast38Characters) {
  const std::string device = R"(\\?\USB#VID_0483&PID_5740#6D8A1234)";
  const std::string usbClass = "#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
  const std::string comClass = "#{86E0D1E0-8089-11D0-9CE4-08003E301F73}";
  ASSERT_EQ(usbClass.size(), 39u);  // the '#' belongs to the compared part
  EXPECT_TRUE(InterfacePathsMatch(device + usbClass, device + comClass));
  EXPECT_TRUE(InterfacePathsMatch(device + usbClass, "\\\\?\\usb#vid_0483&pid_5740#6d8a1234" + comClass));
  EXPECT_FALSE(InterfacePathsMatch(device + usbClass, R"(\\?\USB#VID_0483&PID_5740#6D8A9999)" + comClass));
  // Too short to leave 8 compared characters: no match, even with itself.
  const std::string shortPath = "1234567" + std::string(38, 'x');
  EXPECT_FALSE(InterfacePathsMatch(shortPath, shortPath));
  EXPECT_TRUE(InterfacePathsMatch("12345678" + std::string(38, 'x'), "12345678" + std::string(38, 'y')));
  EXPECT_FALSE(InterfacePathsMatch("", device + usbClass));
}

}  // namespace
}  // namespace vrn
