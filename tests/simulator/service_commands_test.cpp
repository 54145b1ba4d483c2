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

TEST_F(ServiceCommands, TcpIpSettingsRoundTripAndDhcpReadsAZeroMask) {
  ExpectOk(0x25, "R", "192,168,1,100,255,255,255,0,192,168,1,1,8,8,8,8,8,8,4,4");
  ExpectOk(0x25, "P22,10,0,0,5,255,255,0,0,10,0,0,1,1,1,1,1,9,9,9,9");
  ExpectOk(0x25, "R", "10,0,0,5,0,0,0,0,10,0,0,1,1,1,1,1,9,9,9,9");
  ExpectOk(0x25, "P518204736,10,0,0,5,255,255,0,0,10,0,0,1,1,1,1,1,9,9,9,9");
  ExpectOk(0x25, "R", "10,0,0,5,255,255,0,0,10,0,0,1,1,1,1,1,9,9,9,9");
  for (std::string_view bad : {"", "X", "P", "P21,10,0,0,5,255,255,0,0,10,0,0,1,1,1,1,1,9,9,9,9",
                               "P22,256,0,0,5,255,255,0,0,10,0,0,1,1,1,1,1,9,9,9,9", "P22,1,2,3"})
    ExpectSyntaxError(0x25, bad);
  ExpectOk(0x25, "R", "10,0,0,5,255,255,0,0,10,0,0,1,1,1,1,1,9,9,9,9");
}

TEST_F(ServiceCommands, GprsParametersKeepEmptyFieldsInTheirPlaces) {
  ExpectOk(0xB0, "R", "internet,,");
  ExpectOk(0xB0, "Papn.example,,secret");
  ExpectOk(0xB0, "R", "apn.example,,secret");
  ExpectSyntaxError(0xB0, "Pa,b");
  ExpectSyntaxError(0xB0, "a,b,c");
  ExpectOk(0xC1, "", "PP");
  State().gprsLinkUp = false;
  ExpectOk(0xC1, "", "PF");
}

TEST_F(ServiceCommands, TheLockOpensOnlyForItsKey) {
  ExpectOk(0xE4, "", "L");
  EXPECT_EQ(Run(0xDD, "1111,2222,3333,4445").status, (StatusBytes{0xA0, 0x82, 0x80, 0x80, 0x80, 0x80}));
  ExpectSyntaxError(0xDD, "1111,2222,3333");
  ExpectOk(0xE4, "", "L");
  ExpectOk(0xDD, "1111,2222,3333,4444");
  ExpectOk(0xE4, "1111,2222,3333,4444", "12345678901");
  ExpectOk(0xE4, "", "12345678901");
  EXPECT_EQ(Run(0xE4, "9,9,9,9").status[0], 0xA0);
}

// The service tool's test sale: the article in tax group 0xC1 (B) at the price alone.
TEST_F(ServiceCommands, TheTestSaleBooksOnePieceAndCloses) {
  ExpectOk(0x30, "1,0,1", "1,1");
  ExpectSyntaxError(0x31, "TEST\nx\t\xC1" "abc");
  ExpectOk(0x31, "TEST\nx\t\xC1" "0.50");
  ExpectOk(0x35, "\t", "D0.00");
  ExpectOk(0x38, "", "1,1");
  EXPECT_EQ(State().dayByGroup['B'], 50);
  EXPECT_EQ(State().receipt.kind, Receipt::Kind::None);
}

TEST_F(ServiceCommands, CountersTakeTwoLines) {
  ExpectOk(0xB4, "12\n345");
  EXPECT_EQ(State().counters, (std::array<std::string, 2>{"12", "345"}));
  ExpectOk(0xB4, "\n");
  EXPECT_EQ(State().counters, (std::array<std::string, 2>{"", ""}));
  ExpectSyntaxError(0xB4, "12");
  ExpectSyntaxError(0xB4, "1\n2\n3");
}

}  // namespace
}  // namespace fiscalsim
