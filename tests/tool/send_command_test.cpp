#include <gtest/gtest.h>

#include <cstring>

#include "core/send_command.h"
#include "fiscalsim/device_model.h"
#include "seriallink/link.h"
#include "sim_fixture.h"
#include "vrn_interface.h"

namespace {

using tillwright::LinkBackends;
using tillwright::SerialCommandResult;

// A USB device whose every request answers `reply` with status byte 0 `status0`.
LinkBackends UsbDevice(uint8_t status0, std::string reply = "OK", int result = 0) {
  LinkBackends b;
  b.testConnection = [] { return 1; };
  b.request = [=](uint16_t, const char *, char *out, uint8_t *status) {
    if (result != 0) return result;
    std::memset(out, 0, VRN_REPLY_SIZE);
    std::memcpy(out, reply.data(), std::min<size_t>(reply.size(), VRN_REPLY_SIZE));
    std::memset(status, 0x80, VRN_STATUS_SIZE);
    status[0] = status0;
    return 0;
  };
  b.serialCommand = [](uint16_t, std::string_view) -> SerialCommandResult {
    ADD_FAILURE() << "serial link used while a USB device is present";
    return {};
  };
  return b;
}

LinkBackends SerialDevice(SerialCommandResult result) {
  LinkBackends b;
  b.testConnection = [] { return 0; };
  b.request = [](uint16_t, const char *, char *, uint8_t *) {
    ADD_FAILURE() << "USB link used without a USB device";
    return -1;
  };
  b.serialCommand = [=](uint16_t, std::string_view) { return result; };
  return b;
}

int Send(const LinkBackends &b, std::string &reply, std::string &data, std::string &lastStatus) {
  return tillwright::SendCommand(b, reply, data, 62, lastStatus);
}

TEST(SendCommandUsb, ErrorFlagInStatusByteZeroFailsTheCommand) {
  std::string reply, data, last;
  EXPECT_EQ(Send(UsbDevice(0xA0, "12-01-25"), reply, data, last), 1);
  EXPECT_EQ(reply, "Error");
  EXPECT_EQ(Send(UsbDevice(0x80, "12-01-25"), reply, data, last), 0);
  EXPECT_EQ(reply, "12-01-25");
  EXPECT_EQ(last, "") << "the USB link does not refresh the last status";
}

TEST(SendCommandUsb, TransportFailureReadsError) {
  std::string reply = "old", data, last;
  EXPECT_EQ(Send(UsbDevice(0x80, "x", -1), reply, data, last), 1);
  EXPECT_EQ(reply, "Error");
}

TEST(SendCommandUsb, FullReplyBufferWithoutTerminatorIsNotOverrun) {
  std::string reply, data, last;
  EXPECT_EQ(Send(UsbDevice(0x80, std::string(VRN_REPLY_SIZE, 'R')), reply, data, last), 0);
  EXPECT_EQ(reply, std::string(VRN_REPLY_SIZE, 'R'));
}

TEST(SendCommandSerial, FirstStatusDigitDecidesTheErrorFlag) {
  for (char digit : std::string("0145")) {
    std::string reply, data, last;
    const std::string status = std::string(1, digit) + "00000000000";
    EXPECT_EQ(Send(SerialDevice({0, "answer", status, "SUCCESS"}), reply, data, last), 0) << digit;
    EXPECT_EQ(reply, "answer");
    EXPECT_EQ(last, status);
  }
  for (char digit : std::string("2367")) {
    std::string reply, data, last;
    const std::string status = std::string(1, digit) + "00000000000";
    EXPECT_EQ(Send(SerialDevice({0, "answer", status, "SUCCESS"}), reply, data, last), 1) << digit;
    EXPECT_EQ(reply, "Error");
    EXPECT_EQ(last, status) << "a refused command still leaves its status";
  }
}

TEST(SendCommandSerial, EngineFailureReplacesReplyAndData) {
  std::string reply, data = "I0", last = "200000000000";
  EXPECT_EQ(Send(SerialDevice({10003, "", "", "Device not Respond"}), reply, data, last), 1);
  EXPECT_EQ(reply, "Connection Error");
  EXPECT_EQ(data, "Device not Respond");
  EXPECT_EQ(last, "200000000000") << "a failed exchange keeps the last status";
}

// The real links against the simulator.
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
    seriallink::Disconnect();
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
