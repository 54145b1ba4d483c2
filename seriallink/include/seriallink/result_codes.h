// Result codes of the serial link engine, shared with the printer library's exports.
#pragma once

#include <cstdint>
#include <string>

namespace seriallink {

inline constexpr int32_t kSuccess = 0;
inline constexpr int32_t kAlreadyConnected = 10001;  // also: the port could not be opened
inline constexpr int32_t kNotConnected = 10002;
inline constexpr int32_t kNoResponse = 10003;
inline constexpr int32_t kBadAnswer = 10004;  // the matching reply has no status separator
inline constexpr int32_t kMaxSendCount = 10005;
inline constexpr int32_t kBadParameter = 10006;  // refused before anything was sent

// OpenPort's own codes besides the system's error numbers.
inline constexpr int32_t kBadPortParameters = 13;
inline constexpr int32_t kThreadNotStarted = 1054;

// "SUCCESS", the texts of 10001..10006, or "Return Error No : <code> " (the trailing blank is
// part of the text callers have always received).
std::string ErrorText(int32_t code);

}  // namespace seriallink
