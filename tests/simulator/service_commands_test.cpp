// The commands only the service tool sends: operators written whole, the network settings, the
// GPRS link with its lock, the counters and the test sale.
#include <gtest/gtest.h>

#include "fiscalsim/device_model.h"

namespace fiscalsim {
namespace {

constexpr StatusBytes kOk = {0x80, 0x80, 0x80, 0x80, 0x80, 0x80};
constexpr StatusBytes kSyntax = {0xA1, 0x80, 0x80, 0x80, 0x80, 0x80};

class ServiceCommands : public ::testing::Test {
 protected:
  Answer Run(uint8_t code, std::string_view data = {}) { return model.Execute(code, data); }
  void ExpectOk(uint8_t code, std::string_view data, std::string_view reply = {}) {
    const Answer a = Run(code, data);
    EXPECT_EQ(a.status, kOk) << "command " << int(code) << " \"" << data << "\"";
    EXPECT_EQ(a.data, reply) << "command " << int(code) << " \"" << data << "\"";
  }
  void ExpectSyntaxError(uint8_t code, std::string_view data) {
    EXPECT_EQ(Run(code, data).status, kSyntax) << "command " << int(code) << " \"" << data << "\"";
  }
  DeviceState &State() { return model.State(); }

  DeviceModel model;
};

TEST_F(ServiceCommands, AnOperatorWrittenWholeKeepsPasswordNameAndIdentification) {
  ExpectOk(0x66, "07,4321,Ivan Petrov\n12345678901");
  EXPECT_EQ(State().clerkPasswords[6], "4321");
  EXPECT_EQ(State().clerkNames[6], "Ivan Petrov");
  EXPECT_EQ(State().clerkIds[6], "12345678901");
  ExpectOk(0x66, "07,4321,Ivan\n");
  EXPECT_EQ(State().clerkIds[6], "");
  // The short form of point-of-sale programs: number, name, password; the rest stays.
  ExpectOk(0x66, "07,Maria,99");
  EXPECT_EQ(State().clerkNames[6], "Maria");
  EXPECT_EQ(State().clerkPasswords[6], "4321");
  for (std::string_view bad : {"123,1,A\n", "-1,1,A\n", "00,1,A\n", "07,,A\n", "07,1,A,B\n", "07,1,A\n123456789012"})
    ExpectSyntaxError(0x66, bad);
  ExpectOk(0x65, "07,4321,55");
  EXPECT_EQ(State().clerkPasswords[6], "55");
}

}  // namespace
}  // namespace fiscalsim
