#include "device_port.h"

#include <gtest/gtest.h>

namespace hub {
namespace {

struct EffectCase {
  int32_t code;
  const char *status;
  Effect effect;
};

// The status decides between executed and refused only when the device answered; a missing or
// garbled status never makes a refusal out of a reply.
TEST(DevicePort, AResultSaysWhetherTheDeviceTookTheCommand) {
  const EffectCase cases[] = {
      {kSuccess, "000000000000", Effect::Executed},
      {kSuccess, "", Effect::Executed},
      {kSuccess, "2000000000", Effect::Refused},
      {kSuccess, "220000000000", Effect::Refused},
      {kSuccess, "010000000000", Effect::Refused},
      {kSuccess, "040000000000", Effect::Executed},  // another bit of byte 0: no error
      {kSuccess, "zz0000000000", Effect::Executed},
      {kBadParameter, "", Effect::NotSent},
      {kNotConnected, "", Effect::NotSent},
      {kNoResponse, "", Effect::Unknown},
      {kBadAnswer, "000000000000", Effect::Unknown},
      {kMaxSendCount, "", Effect::Unknown},
      {kLineLost, "", Effect::Unknown},
  };
  for (const EffectCase &c : cases) {
    CallResult result;
    result.code = c.code;
    result.status = c.status;
    EXPECT_EQ(EffectOf(result), c.effect) << c.code << " " << c.status;
  }
}

}  // namespace
}  // namespace hub
