// The lines between the hub and a device's worker process, one JSON object a line each way:
//
//   hub -> worker   {"op":"Sale","args":["Milk","A",1.5,1,0]}
//   worker -> hub   {"code":0,"out":{},"status":"80808080A080"}
//   worker -> hub   {"code":10006,"error":"argument 3: a number is needed"}
//
// Texts inside args and out are byte strings (device_text.h). Every request gets exactly one
// answer, in order. The worker's stdout carries nothing else.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "device_port.h"

namespace hub {

// Longer lines in either direction are refused: a worker that sends one is broken.
inline constexpr size_t kMaxWorkerLine = 64 * 1024;

struct WorkerRequest {
  std::string op;
  nlohmann::json args = nlohmann::json::array();
};

// The line with its newline.
std::string EncodeRequest(std::string_view op, const nlohmann::json &args);
// Nothing, with the reason in *error, unless the line is an object with a string "op" and an
// array "args" (no other members).
std::optional<WorkerRequest> DecodeRequest(std::string_view line, std::string *error);

// The line with its newline; `result.status` must already be hex digits.
std::string EncodeResponse(const CallResult &result);
// An answer to a line that was not a call: nothing went to the device.
std::string EncodeRefusal(std::string_view error);
// Nothing, with the reason in *error, unless the line is an answer as the worker writes them:
// an int32 "code", an object "out", a "status" of twelve hex digits or empty, or an "error"
// text in place of out and status.
std::optional<CallResult> DecodeResponse(std::string_view line, std::string *error);

// Lines from a descriptor, each without its newline, at most kMaxWorkerLine bytes. Waits in
// poll(), never spins.
class LineReader {
 public:
  enum class Status { Line, End, TooLong, Failed, TimedOut };

  explicit LineReader(int fd) : fd_(fd) {}
  // The next line, waiting at most until `deadline` (none: as long as it takes).
  Status Read(std::string *line, std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt);
  // Bytes read beyond the last line returned.
  bool HasPending() const { return !buffer_.empty(); }
  // After TooLong: drops everything up to and including the next newline, so that reading can
  // go on with the line after it. False when the descriptor ended or failed first.
  bool SkipRestOfLine();

 private:
  // Reads once what is there; End, Failed, TimedOut or Line (meaning: something was read).
  Status Fill(std::optional<std::chrono::steady_clock::time_point> deadline);

  int fd_;
  std::string buffer_;
};

}  // namespace hub
