// One device's line as the hub sees it: each call is one export of the printer library, by its
// name, with its arguments in the export's order. Whatever runs the line (a worker process, a
// test's fake) answers with the export's result code, its outs by name and the status after it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace hub {

// The printer library's result codes, and one of the hub's own.
inline constexpr int32_t kSuccess = 0;
inline constexpr int32_t kNotConnected = 10002;
inline constexpr int32_t kNoResponse = 10003;
inline constexpr int32_t kBadAnswer = 10004;
inline constexpr int32_t kMaxSendCount = 10005;
inline constexpr int32_t kBadParameter = 10006;
// The process that runs the line died or stopped answering during the call.
inline constexpr int32_t kLineLost = -1;

struct CallResult {
  int32_t code = kSuccess;
  // The export's outs by name ({"first": 12, "second": 3}, {"text": "..."}); an object.
  nlohmann::json out = nlohmann::json::object();
  // The six status bytes of the reply as twelve hex digits; empty when the call got no reply.
  std::string status;
};

class DevicePort {
 public:
  virtual ~DevicePort() = default;
  // Blocks until the export returns. Never throws for a device's sake.
  virtual CallResult Call(std::string_view op, const nlohmann::json &args) = 0;
};

// What a call's result says about the command on the device.
enum class Effect {
  Executed,  // the device answered and took it
  Refused,   // the device answered with an error in its status: nothing of it was booked
  NotSent,   // refused before anything went out (bad argument, no connection)
  Unknown,   // it may or may not have been executed: no reply, a garbled one, the line lost
};
Effect EffectOf(const CallResult &result);
// "executed", "refused", "not-sent", "unknown".
const char *EffectName(Effect effect);

// Status byte 0 of a reply, bits the device sets for a command it did not execute.
bool StatusRefused(std::string_view status);

}  // namespace hub
