#include <gtest/gtest.h>

#include <cstring>

#include "core/send_command.h"
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

}  // namespace
