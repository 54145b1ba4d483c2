#include "worker_protocol.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

namespace hub {

using nlohmann::json;

namespace {

// A line that is one JSON object; nothing, with the reason, for anything else.
std::optional<json> ParseObject(std::string_view line, std::string *error) {
  if (line.size() > kMaxWorkerLine) {
    *error = "the line is longer than " + std::to_string(kMaxWorkerLine) + " bytes";
    return std::nullopt;
  }
  json value = json::parse(line, nullptr, false);
  if (value.is_discarded()) {
    *error = "the line is not JSON";
    return std::nullopt;
  }
  if (!value.is_object()) {
    *error = "the line is not a JSON object";
    return std::nullopt;
  }
  return value;
}

bool IsStatusText(const std::string &status) {
  if (status.empty()) return true;
  if (status.size() != 12) return false;
  for (const char c : status) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    if (!hex) return false;
  }
  return true;
}

bool IsInt32(const json &value) {
  if (value.is_number_unsigned()) return value.get<uint64_t>() <= uint64_t{std::numeric_limits<int32_t>::max()};
  if (!value.is_number_integer()) return false;
  const auto n = value.get<int64_t>();
  return n >= std::numeric_limits<int32_t>::min() && n <= std::numeric_limits<int32_t>::max();
}

// json::dump throws on invalid UTF-8; byte strings never are, but a line must come out anyway.
std::string DumpLine(const json &value) { return value.dump(-1, ' ', false, json::error_handler_t::replace) + "\n"; }

}  // namespace

std::string EncodeRequest(std::string_view op, const json &args) { return DumpLine(json{{"op", op}, {"args", args}}); }

std::optional<WorkerRequest> DecodeRequest(std::string_view line, std::string *error) {
  std::optional<json> value = ParseObject(line, error);
  if (!value) return std::nullopt;
  const auto op = value->find("op");
  const auto args = value->find("args");
  if (op == value->end() || !op->is_string()) {
    *error = "\"op\" must be a string";
    return std::nullopt;
  }
  if (args == value->end() || !args->is_array()) {
    *error = "\"args\" must be an array";
    return std::nullopt;
  }
  if (value->size() != 2) {
    *error = "a call has only \"op\" and \"args\"";
    return std::nullopt;
  }
  return WorkerRequest{op->get<std::string>(), std::move(*args)};
}

std::string EncodeResponse(const CallResult &result) {
  return DumpLine(json{{"code", result.code}, {"out", result.out}, {"status", result.status}});
}

std::string EncodeRefusal(std::string_view error) { return DumpLine(json{{"code", kBadParameter}, {"error", error}}); }

std::optional<CallResult> DecodeResponse(std::string_view line, std::string *error) {
  std::optional<json> value = ParseObject(line, error);
  if (!value) return std::nullopt;
  CallResult result;
  const auto code = value->find("code");
  if (code == value->end() || !IsInt32(*code)) {
    *error = "\"code\" must be a 32-bit integer";
    return std::nullopt;
  }
  result.code = code->get<int32_t>();
  if (const auto text = value->find("error"); text != value->end()) {
    if (!text->is_string() || value->size() != 2) {
      *error = "a refusal has only \"code\" and an \"error\" text";
      return std::nullopt;
    }
    return result;
  }
  const auto out = value->find("out");
  const auto status = value->find("status");
  if (out == value->end() || !out->is_object() || status == value->end() || !status->is_string() ||
      !IsStatusText(status->get<std::string>()) || value->size() != 3) {
    *error = "an answer has \"code\", an object \"out\" and a \"status\" of twelve hex digits or none";
    return std::nullopt;
  }
  result.out = std::move(*out);
  result.status = status->get<std::string>();
  return result;
}

LineReader::Status LineReader::Read(std::string *line, std::optional<std::chrono::steady_clock::time_point> deadline) {
  for (;;) {
    const size_t end = buffer_.find('\n');
    if (end != std::string::npos) {
      if (end > kMaxWorkerLine) return Status::TooLong;
      line->assign(buffer_, 0, end);
      buffer_.erase(0, end + 1);
      return Status::Line;
    }
    if (buffer_.size() > kMaxWorkerLine) return Status::TooLong;
    const Status status = Fill(deadline);
    if (status != Status::Line) return status;
  }
}

bool LineReader::SkipRestOfLine() {
  for (;;) {
    const size_t end = buffer_.find('\n');
    if (end != std::string::npos) {
      buffer_.erase(0, end + 1);
      return true;
    }
    buffer_.clear();
    if (Fill(std::nullopt) != Status::Line) return false;
  }
}

LineReader::Status LineReader::Fill(std::optional<std::chrono::steady_clock::time_point> deadline) {
  for (;;) {
    int timeout = -1;
    if (deadline) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return Status::TimedOut;
      timeout = static_cast<int>(std::min<int64_t>(left.count(), std::numeric_limits<int>::max()));
    }
    pollfd fd{fd_, POLLIN, 0};
    const int ready = ::poll(&fd, 1, timeout);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return Status::Failed;
    if (ready == 0) continue;  // the deadline is checked above
    char chunk[4096];
    const ssize_t n = ::read(fd_, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) return Status::Failed;
    if (n == 0) return Status::End;
    buffer_.append(chunk, static_cast<size_t>(n));
    return Status::Line;
  }
}

}  // namespace hub
