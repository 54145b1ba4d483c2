// A device's thread with a scripted line: what it reads before a document, and how it settles a
// document whose step was refused or got no answer.
#include "device.h"

#include <stdlib.h>

#include <deque>
#include <filesystem>
#include <map>
#include <mutex>

#include <gtest/gtest.h>

namespace hub {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace std::chrono_literals;

CallResult Ok(const char *text = nullptr) {
  CallResult result{kSuccess, json::object(), "000000000000"};
  if (text) result.out["text"] = text;
  return result;
}
CallResult Refused() { return CallResult{kSuccess, json::object(), "220000000000"}; }
CallResult NoAnswer() { return CallResult{kNoResponse, json::object(), ""}; }

using Script = std::map<std::string, std::deque<CallResult>>;

// Answers each op from its script in turn; an op without one gets no answer.
class ScriptedPort : public DevicePort {
 public:
  ScriptedPort(Script script, std::vector<std::string> &sent, std::mutex &mutex)
      : script_(std::move(script)), sent_(sent), mutex_(mutex) {}
  CallResult Call(std::string_view op, const json &) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    sent_.emplace_back(op);
    auto &answers = script_[std::string(op)];
    if (answers.empty()) return NoAnswer();
    CallResult result = answers.front();
    answers.pop_front();
    return result;
  }

 private:
  Script script_;
  std::vector<std::string> &sent_;
  std::mutex &mutex_;
};

struct Case {
  const char *name;
  DocumentKind kind;
  const char *body;
  Script device;
  DocState state;
  std::vector<std::string> sent;
  std::optional<int64_t> counterBefore;
  json evidence;  // fields that must be in the evidence as given
  json result = json();
};

const Case kCases[] = {
    {"Z answer lost, day closed",
     DocumentKind::Report,
     R"({"type": "Z"})",
     {{"GetLastClosure", {Ok("0004"), Ok("0005")}}},
     DocState::Registered,
     {"GetLastClosure", "DayReport", "GetLastClosure"},
     4,
     {{"counter", "z-reports"}, {"counterNow", 5}},
     {{"zReport", 5}}},
    {"Z counter refused: sent without it",
     DocumentKind::Report,
     R"({"type": "Z"})",
     {{"GetLastClosure", {Refused()}}, {"DayReport", {Ok("0005,0.00")}}},
     DocState::Registered,
     {"GetLastClosure", "DayReport"},
     std::nullopt,
     json::object(),
     {{"reply", "0005,0.00"}}},
    {"Z counter unanswered: nothing sent",
     DocumentKind::Report,
     R"({"type": "Z"})",
     {},
     DocState::NotRegistered,
     {"GetLastClosure"},
     std::nullopt,
     {{"counter", {{"op", "GetLastClosure"}}}},
     json::object()},
    {"X refused",
     DocumentKind::Report,
     R"({"type": "X"})",
     {{"DayReport", {Refused()}}},
     DocState::NotRegistered,
     {"DayReport"},
     std::nullopt,
     {{"refused", {{"op", "DayReport"}}}}},
    {"X answer lost", DocumentKind::Report, R"({"type": "X"})", {}, DocState::NeedsAttention, {"DayReport"}, {}, {}},
    {"cash sums garbled: sent without them",
     DocumentKind::Cash,
     R"({"amount": 1.00})",
     {{"GetCurrentSums", {Ok("10.00")}}, {"ServiceInputOutput", {Ok("11.00,0.00")}}},
     DocState::Registered,
     {"GetCurrentSums", "ServiceInputOutput"},
     std::nullopt,
     json::object(),
     {{"reply", "11.00,0.00"}}},
    {"receipt counter refused: nothing sent",
     DocumentKind::NonFiscal,
     R"({"lines": ["a"]})",
     {{"GetDocNumber", {Refused()}}},
     DocState::NotRegistered,
     {"GetDocNumber"},
     std::nullopt,
     {{"reason", "the device did not give its document counter"}},
     json::object()},
    {"command refused",
     DocumentKind::Command,
     R"({"command": 90, "data": ""})",
     {{"TestPrinter", {Refused()}}},
     DocState::NotRegistered,
     {"TestPrinter"},
     std::nullopt,
     {{"refused", {{"op", "TestPrinter"}}}}},
};

// The fields of `expected` are in `actual` with the same values (objects compared field by field).
void ExpectFields(const json &actual, const json &expected, const std::string &where) {
  for (const auto &[name, value] : expected.items()) {
    ASSERT_TRUE(actual.contains(name)) << where << ": no " << name << " in " << actual;
    if (value.is_object() && actual[name].is_object()) {
      ExpectFields(actual[name], value, where + "." + name);
    } else {
      EXPECT_EQ(actual[name], value) << where << "." << name;
    }
  }
}

TEST(DeviceTest, EachDocumentIsReadForAndSettledByItsCounter) {
  std::string pattern = ::testing::TempDir() + "hub-device-test-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const fs::path dir = pattern;
  std::string error;
  auto store = Store::Open((dir / "hub.db").string(), error);
  ASSERT_TRUE(store) << error;
  const DeviceText text;
  int n = 0;
  for (const Case &c : kCases) {
    SCOPED_TRACE(c.name);
    auto read = ReadDocument(c.kind, c.body, text);
    ASSERT_TRUE(std::holds_alternative<Document>(read));
    Document document = std::get<Document>(read);
    document.key = "doc" + std::to_string(n++);
    std::vector<std::string> sent;
    std::mutex mutex;
    {
      Device device({"SV1", "COM7", "", ""}, std::make_unique<ScriptedPort>(c.device, sent, mutex), *store, text);
      ASSERT_EQ(device.Admit(document, nullptr), Device::Admitted::Queued);
      const auto doc = device.WaitSettled(document.key, 30s);
      ASSERT_TRUE(doc);
      EXPECT_EQ(doc->state, c.state) << doc->evidence;
      EXPECT_EQ(doc->counterBefore, c.counterBefore);
      ExpectFields(doc->evidence, c.evidence, c.name);
      EXPECT_EQ(doc->result, c.result);
    }
    const std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(sent, c.sent);
  }
  store.reset();
  fs::remove_all(dir);
}

}  // namespace
}  // namespace hub
