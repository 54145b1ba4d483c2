// A device's thread with a scripted line: what it reads before a document, and how it settles a
// document whose step was refused or got no answer.
#include "device.h"

#include <gtest/gtest.h>

#include "hub_test_line.h"

namespace hub {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

using test::Ok;
using test::Refused;
using test::Script;
using test::ScriptedPort;

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

TEST(DeviceTest, EachDocumentIsReadForAndSettledByItsCounter) {
  test::TempRecord record;
  ASSERT_TRUE(record.ok());
  const DeviceText text;
  int n = 0;
  for (const Case &c : kCases) {
    SCOPED_TRACE(c.name);
    auto read = ReadDocument(c.kind, c.body, text);
    ASSERT_TRUE(std::holds_alternative<Document>(read));
    Document document = std::get<Document>(read);
    document.key = "doc" + std::to_string(n++);
    const auto sent = std::make_shared<test::SentOps>();
    {
      Device device({"SV1", "COM7", "", ""}, std::make_unique<ScriptedPort>(c.device, sent), record.store(), text);
      ASSERT_EQ(device.Admit(document, nullptr), Device::Admitted::Queued);
      const auto doc = device.WaitSettled(document.key, 30s);
      ASSERT_TRUE(doc);
      EXPECT_EQ(doc->state, c.state) << doc->evidence;
      EXPECT_EQ(doc->counterBefore, c.counterBefore);
      test::ExpectFields(doc->evidence, c.evidence, c.name);
      EXPECT_EQ(doc->result, c.result);
    }
    EXPECT_EQ(sent->Ops(), c.sent);
  }
}

}  // namespace
}  // namespace hub
