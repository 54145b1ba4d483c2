// The real links against the simulator on a pseudo-terminal.
#include <gtest/gtest.h>

#include "core/send_command.h"
#include "fiscalsim/device_model.h"
#include "seriallink/link.h"
#include "sim_fixture.h"
#include "vrn_interface.h"

namespace {

class SendCommandReal : public tooltest::SimOnCom7 {
 protected:
  void SetUp() override {
    SimOnCom7::SetUp();
    // Command 0x99 is refused with nothing but the error flag: status byte 0 is exactly 0xA0.
    Sim().WithModel([](fiscalsim::DeviceModel &m) {
      m.Register(0x99, [](fiscalsim::DeviceModel &, std::string_view) {
        fiscalsim::Answer a = fiscalsim::Answer::Ok("refused");
        a.status[0] = 0xA0;
        return a;
      });
    });
  }
  void TearDown() override {
    vrn_dispose();
    SimOnCom7::TearDown();
  }
};

TEST_F(SendCommandReal, WithNoLinkTheCallersDataBecomesTheEngineText) {
  tillwright::RealLink link;
  ASSERT_EQ(link.TestConnection(), 0);
  std::string reply, data = "1";
  EXPECT_EQ(link.SendCommand(reply, data, 44), 1);
  EXPECT_EQ(reply, "Connection Error");
  EXPECT_EQ(data, "Device not Connect");
  EXPECT_EQ(Sim().ReceivedFrames().Size(), 0u);
}

TEST_F(SendCommandReal, SerialLinkPassesAnswersAndFailsTheErrorFlag) {
  tillwright::RealLink link;
  ASSERT_EQ(link.SerialConnect("COM7", 115200, 8, 0, 0), 0);
  std::string reply, data = "0";
  ASSERT_EQ(link.SendCommand(reply, data, 90), 0);
  EXPECT_NE(reply.find("SV000001"), std::string::npos) << reply;
  EXPECT_EQ(link.LastStatus(), "000000000000");

  data.clear();
  EXPECT_EQ(link.SendCommand(reply, data, 0x99), 1);
  EXPECT_EQ(reply, "Error");
  EXPECT_EQ(link.LastStatus(), "200000000000");

  const auto frames = Sim().ReceivedFrames().Entries();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].cmd, 90);
  EXPECT_EQ(frames[0].data, "0");
  EXPECT_EQ(frames[1].cmd, 0x99);
}

TEST_F(SendCommandReal, UsbLinkPassesAnswersAndFailsTheErrorFlag) {
  // The transport library reaches the simulator through its COM port support, as it would a
  // USB serial device.
  if (!vrn_init("COM7")) GTEST_SKIP() << "the transport library has no USB driver in this build yet";
  tillwright::RealLink link;
  ASSERT_EQ(link.TestConnection(), 1);
  std::string reply, data = "1";
  EXPECT_EQ(link.SendCommand(reply, data, 44), 0);
  data.clear();
  EXPECT_EQ(link.SendCommand(reply, data, 0x99), 1);
  EXPECT_EQ(reply, "Error");
  EXPECT_EQ(link.LastStatus(), "") << "only the serial link refreshes the last status";
  const auto frames = Sim().ReceivedFrames().Entries();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].cmd, 44);
  EXPECT_EQ(frames[0].data, "1");
}

}  // namespace
