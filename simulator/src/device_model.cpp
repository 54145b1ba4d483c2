#include "fiscalsim/device_model.h"

#include <exception>

#include "platform/trace.h"

namespace fiscalsim {
namespace {

Answer Refusal(size_t byte, uint8_t bit) {
  Answer a;
  a.status[0] |= status::kError;
  a.status[byte] |= bit;
  return a;
}

}  // namespace

Answer Answer::Ok(std::string data) {
  Answer a;
  a.data = std::move(data);
  return a;
}

Answer Answer::SyntaxError() { return Refusal(0, status::kSyntaxError); }
Answer Answer::InvalidCommand() { return Refusal(0, status::kInvalidCommand); }
Answer Answer::NotAllowed() { return Refusal(1, status::kNotAllowed); }

Answer Answer::Silence() {
  Answer answer;
  answer.silent = true;
  return answer;
}

DeviceModel::DeviceModel(WallClock clock) : clock_(std::move(clock)) {
  if (!clock_) clock_ = [] { return std::chrono::system_clock::now(); };
  RegisterClockCommands(*this);
  RegisterTextCommands(*this);
  RegisterTaxCommands(*this);
  RegisterInfoCommands(*this);
  RegisterPrinterCommands(*this);
  RegisterReceiptCommands(*this);
  RegisterProgrammingCommands(*this);
  RegisterQueryCommands(*this);
  RegisterServiceCommands(*this);
  RegisterPremisesCommands(*this);
  RegisterNetworkCommands(*this);
}

void DeviceModel::Register(uint8_t code, Handler handler) { handlers_[code] = std::move(handler); }

DeviceModel::Handler DeviceModel::HandlerOf(uint8_t code) const {
  const auto it = handlers_.find(code);
  return it == handlers_.end() ? Handler() : it->second;
}

Answer DeviceModel::Execute(uint8_t code, std::string_view data) {
  Answer answer;
  const auto it = handlers_.find(code);
  if (it == handlers_.end()) {
    answer = Answer::InvalidCommand();
  } else {
    try {
      answer = it->second(*this, data);
    } catch (const std::exception &e) {
      platform::Trace("fiscal-sim: command %u failed: %s", code, e.what());
      answer = Refusal(0, 0);
    }
  }
  if (answer.data.size() > kMaxReplyData) {
    platform::Trace("fiscal-sim: command %u answered %zu bytes, more than a frame holds", code, answer.data.size());
    answer = Refusal(0, 0);
  }
  for (size_t i = 0; i < answer.status.size(); ++i) answer.status[i] |= state_.standingStatus[i] | status::kAlwaysSet;
  return answer;
}

std::chrono::sys_seconds DeviceModel::DeviceTime() const {
  return std::chrono::floor<std::chrono::seconds>(clock_()) + state_.clockOffset;
}

void DeviceModel::SetDeviceTime(std::chrono::sys_seconds time) {
  state_.clockOffset = time - std::chrono::floor<std::chrono::seconds>(clock_());
}

}  // namespace fiscalsim
