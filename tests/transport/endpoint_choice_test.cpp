// The endpoints the libusb driver takes from a device's configuration.
#include <gtest/gtest.h>

#include "drivers/endpoint_choice.h"

namespace {

using vrn::ChooseEndpoints;
using vrn::ConfigDescription;
using vrn::EndpointChoice;

constexpr uint8_t kControl = 0x00;
constexpr uint8_t kIsochronous = 0x01;
constexpr uint8_t kBulk = 0x02;
constexpr uint8_t kInterrupt = 0x03;

TEST(EndpointChoice, BulkOrInterruptInAndOutOfOneSetting) {
  const EndpointChoice bulk = ChooseEndpoints({{{0, {{0x81, kBulk, 64}, {0x01, kBulk, 16}}}}});
  EXPECT_TRUE(bulk.found);
  EXPECT_EQ(bulk.inEndpoint, 0x81);
  EXPECT_EQ(bulk.outEndpoint, 0x01);
  EXPECT_EQ(bulk.inPacketSize, 64);
  EXPECT_EQ(bulk.outPacketSize, 16);
  EXPECT_FALSE(bulk.inInterrupt || bulk.outInterrupt);

  // A device whose interface has only interrupt endpoints is still used.
  const EndpointChoice interrupt = ChooseEndpoints({{{2, {{0x83, kInterrupt, 32}, {0x04, kInterrupt, 32}}}}});
  EXPECT_TRUE(interrupt.found);
  EXPECT_EQ(interrupt.interfaceNumber, 2);
  EXPECT_EQ(interrupt.inEndpoint, 0x83);
  EXPECT_EQ(interrupt.outEndpoint, 0x04);
  EXPECT_TRUE(interrupt.inInterrupt && interrupt.outInterrupt);
}

TEST(EndpointChoice, OutPacketSizeIsLimitedTo32AndInKeepsItsOwn) {
  const EndpointChoice choice = ChooseEndpoints({{{0, {{0x02, kBulk, 64}, {0x82, kBulk, 512}}}}});
  ASSERT_TRUE(choice.found);
  EXPECT_EQ(choice.outPacketSize, 32);
  EXPECT_EQ(choice.inPacketSize, 512);
}

TEST(EndpointChoice, SettingsWithOneEndpointAndOtherTransferTypesAreSkipped) {
  const ConfigDescription config = {
      {{0, {{0x85, kBulk, 64}}}},                                      // one endpoint: not looked at
      {{1, {{0x86, kIsochronous, 64}, {0x87, kControl, 8}}},          // neither bulk nor interrupt
       {1, {{0x81, kBulk, 64}, {0x81, kBulk, 8}, {0x01, kBulk, 64}}}}  // the first IN counts
  };
  const EndpointChoice choice = ChooseEndpoints(config);
  EXPECT_TRUE(choice.found);
  EXPECT_EQ(choice.interfaceNumber, 1);
  EXPECT_EQ(choice.inEndpoint, 0x81);
  EXPECT_EQ(choice.inPacketSize, 64);
  EXPECT_EQ(choice.outEndpoint, 0x01);
}

TEST(EndpointChoice, InAndOutFromDifferentSettingsTakeTheLaterInterfaceAndTheWalkStopsThere) {
  const ConfigDescription config = {
      {{0, {{0x81, kBulk, 64}, {0x82, kIsochronous, 64}}}},
      {{3, {{0x83, kBulk, 64}, {0x02, kBulk, 64}}}},
      {{4, {{0x84, kBulk, 64}, {0x03, kBulk, 64}}}},
  };
  const EndpointChoice choice = ChooseEndpoints(config);
  EXPECT_TRUE(choice.found);
  EXPECT_EQ(choice.inEndpoint, 0x81);
  EXPECT_EQ(choice.outEndpoint, 0x02);
  EXPECT_EQ(choice.interfaceNumber, 3);
}

TEST(EndpointChoice, WithoutBothDirectionsNothingIsFoundAndWhatWasSeenIsReported) {
  const EndpointChoice inOnly = ChooseEndpoints({{{0, {{0x81, kBulk, 64}, {0x82, kInterrupt, 8}}}}});
  EXPECT_FALSE(inOnly.found);
  EXPECT_EQ(inOnly.inEndpoint, 0x81);
  EXPECT_EQ(inOnly.outEndpoint, 0);
  EXPECT_EQ(inOnly.interfaceNumber, 0);
  EXPECT_FALSE(ChooseEndpoints({}).found);
}

}  // namespace
