#include "seriallink/result_codes.h"

#include <cstdio>

namespace seriallink {

std::string ErrorText(int32_t code) {
  switch (code) {
    case kSuccess: return "SUCCESS";
    case kAlreadyConnected: return "Device Already Connect";
    case kNotConnected: return "Device not Connect";
    case kNoResponse: return "Device not Respond";
    case kBadAnswer: return "Device Answer Incorrect";
    case kMaxSendCount: return "Device Max Send Count";
    case kBadParameter: return "Device Bad Parametar";
    default: break;
  }
  char text[40];
  std::snprintf(text, sizeof text, "Return Error No : %d ", static_cast<int>(code));
  return text;
}

}  // namespace seriallink
