// One vrn_request and what it answered, for the tests that reach the simulator through the
// transport library; and the request every such test can count on an answer to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vrn_interface.h"

namespace fiscal_test {

inline constexpr uint16_t kSerialNumber = 200;  // answered with the device's serial number
inline constexpr const char *kSerialText = "284011234567890";

struct Answer {
  int result = -1;
  std::string text;
  std::vector<uint8_t> status;
};

inline Answer Request(uint16_t command, const std::string &data) {
  char reply[VRN_REPLY_SIZE];
  uint8_t status[VRN_STATUS_SIZE] = {};
  Answer a;
  a.result = vrn_request(command, data.c_str(), reply, status);
  a.text = reply;
  a.status.assign(status, status + VRN_STATUS_SIZE);
  return a;
}

}  // namespace fiscal_test
