#include <gtest/gtest.h>

#include <optional>

#include "platform/port_names.h"

namespace platform {
namespace {

TEST(ComPortNumberTest, ComNumbersAreRecognisedStrictly) {
  EXPECT_EQ(ComPortNumber("COM1"), 1u);
  EXPECT_EQ(ComPortNumber("com7"), 7u);
  EXPECT_EQ(ComPortNumber("CoM20"), 20u);
  EXPECT_EQ(ComPortNumber("COM256"), 256u);
  for (const char *bad : {"COM", "COM0", "COM07", "COM-1", "COM+1", "COM1 ", " COM1", "COMx", "XCOM1", "COM1a",
                          "LPT1", "COM99999999999"}) {
    EXPECT_EQ(ComPortNumber(bad), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace platform
