// Settings groups on a scripted line: the commands and data each read and write sends (the
// service tool's own), and what a write that fails halfway says it did. Then line work in a
// device's queue: it waits for the document ahead and is taken back, never sent later, when it
// cannot begin in time.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <functional>
#include <future>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "device.h"
#include "hub_test_line.h"
#include "settings/settings.h"
#include "settings_line.h"

namespace hub {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

constexpr char kIdle[] = "808080808080";
constexpr char kRefusedStatus[] = "A28080808080";

struct Sent {
  int command;
  std::string data;  // device bytes
  bool operator==(const Sent &) const = default;
};

// A device as a table: replies by command (and data), failures injected by the command's turn.
class ScriptedLine {
 public:
  std::map<std::pair<int, std::string>, std::string> replies;
  // The n-th command sent (from 0) gets this result code and status instead.
  std::map<size_t, std::pair<int32_t, std::string>> failures;
  std::vector<Sent> sent;

  Device::LineCall Call() {
    return [this](const std::string &op, const json &args) {
      EXPECT_EQ(op, "TestPrinter");
      const int command = args.at(0).get<int>();
      const std::string data = ByteStringToBytes(args.at(1).get<std::string>()).value();
      const size_t turn = sent.size();
      sent.push_back({command, data});
      CallResult result;
      if (const auto f = failures.find(turn); f != failures.end()) {
        result.code = f->second.first;
        result.status = f->second.second;
        return result;
      }
      result.status = kIdle;
      auto r = replies.find({command, data});
      if (r == replies.end()) r = replies.find({command, "*"});
      result.out = {{"text", BytesToByteString(r != replies.end() ? r->second : std::string())}};
      return result;
    };
  }
};

std::vector<Sent> HeaderReads() {
  std::vector<Sent> reads;
  for (size_t i = 0; i < tillwright::kTextLines; ++i) reads.push_back({43, tillwright::TextLineReadData(i)});
  return reads;
}

SettingsWrite Body(SettingsGroup group, const char *body) {
  return std::get<SettingsWrite>(ReadSettingsBody(group, body, DeviceText(1251), std::tm{}));
}

TEST(SettingsLine, ReadsAnswerEachGroupAsTheToolReadsIt) {
  const DeviceText text(1251);
  ScriptedLine line;
  line.replies = {
      {{43, "I0"}, "\xD5\xEB\xFF\xE1"},      {{43, "I1"}, " "},
      {{97, ""}, "20.00,9.00,,-,5.5"},       {{37, "R"}, "192,168,1,20,255,255,255,0,192,168,1,1,8,8,8,8,8,8,4,4"},
      {{176, "R"}, "internet,user1,secret"}, {{62, ""}, "09-12-26 14:30:05"}};
  const SettingsAnswer header = ReadSettingsGroup(SettingsGroup::Header, line.Call(), text);
  EXPECT_EQ(header.status, 200);
  EXPECT_EQ(header.body["lines"], json({"Хляб", "", "", "", "", "", "", "", "", ""}));
  EXPECT_EQ(line.sent, HeaderReads());

  EXPECT_EQ(ReadSettingsGroup(SettingsGroup::TaxRates, line.Call(), text).body,
            json({{"A", 20.0}, {"B", 9.0}, {"C", nullptr}, {"D", nullptr}, {"PnP", 5.5}}));
  EXPECT_EQ(ReadSettingsGroup(SettingsGroup::TcpIp, line.Call(), text).body, json({{"dhcp", false},
                                                                                   {"address", "192.168.1.20"},
                                                                                   {"mask", "255.255.255.0"},
                                                                                   {"gateway", "192.168.1.1"},
                                                                                   {"dns1", "8.8.8.8"},
                                                                                   {"dns2", "8.8.4.4"}}));
  // The password is never given out.
  EXPECT_EQ(ReadSettingsGroup(SettingsGroup::Gprs, line.Call(), text).body,
            json({{"apn", "internet"}, {"user", "user1"}}));
  EXPECT_EQ(ReadSettingsGroup(SettingsGroup::Clock, line.Call(), text).body, json({{"time", "2026-12-09T14:30:05"}}));

  // A reply that is no value of its group is not passed off as one.
  line.replies[{97, ""}] = "20.00,abc";
  const SettingsAnswer garbled = ReadSettingsGroup(SettingsGroup::TaxRates, line.Call(), text);
  EXPECT_EQ(garbled.status, 502);
  EXPECT_EQ(garbled.body["error"]["code"], "unreadable-reply");
  line.replies[{37, "R"}] = "192,168,1";
  EXPECT_EQ(ReadSettingsGroup(SettingsGroup::TcpIp, line.Call(), text).body["error"]["code"], "unreadable-reply");
}

TEST(SettingsLine, WritesSendTheToolsBytesThenReadBack) {
  const DeviceText text(1251);
  ScriptedLine line;
  line.replies = {{{43, "I0"}, "OLD"}, {{43, "I8"}, "AD"}, {{176, "R"}, "apn0,user0,kept"}};

  // Only the changed header lines, and no report check while lines 8 and 9 stay.
  SettingsAnswer answer = WriteSettingsGroup(
      Body(SettingsGroup::Header, R"({"lines": ["OLD", "New", "", null, null, null, null, null, "AD", null]})"),
      line.Call(), text);
  EXPECT_EQ(answer.status, 200) << answer.body;
  std::vector<Sent> expected = HeaderReads();
  expected.push_back({43, tillwright::TextLineWriteData(1, "New")});
  for (const Sent &s : HeaderReads()) expected.push_back(s);
  EXPECT_EQ(line.sent, expected);

  // An advertisement line asks which reports the device wants first; a cleared line goes out as
  // a blank.
  line.sent.clear();
  answer = WriteSettingsGroup(
      Body(SettingsGroup::Header, R"({"lines": [null, null, null, null, null, null, null, null, "", null]})"),
      line.Call(), text);
  EXPECT_EQ(answer.status, 200);
  ASSERT_GT(line.sent.size(), 12u);
  EXPECT_EQ(line.sent[10], (Sent{196, ""}));
  EXPECT_EQ(line.sent[11], (Sent{43, "8 "}));

  const std::array<double, 5> rates{20, 9, 0, 0, 0.07};
  const std::array<bool, 5> undefined{false, false, false, true, false};
  line.sent.clear();
  WriteSettingsGroup(Body(SettingsGroup::TaxRates, R"({"A": 20, "B": 9, "C": 0, "D": null, "PnP": 0.07})"), line.Call(),
                     text);
  EXPECT_EQ(line.sent, (std::vector<Sent>{{196, ""}, {96, tillwright::TaxRatesData(rates, undefined)}, {97, ""}}));

  // DHCP keeps the addresses the device has.
  line.replies[{37, "R"}] = "10,0,0,5,255,0,0,0,10,0,0,1,10,0,0,2,10,0,0,3";
  line.sent.clear();
  WriteSettingsGroup(Body(SettingsGroup::TcpIp, R"({"dhcp": true, "dns2": "9.9.9.9"})"), line.Call(), text);
  tillwright::TcpIpSettings net = tillwright::ReadTcpIp("10,0,0,5,255,0,0,0,10,0,0,1,10,0,0,2,9,9,9,9");
  net.dhcp = true;
  EXPECT_EQ(line.sent, (std::vector<Sent>{{37, "R"}, {37, tillwright::TcpIpWriteData(net)}, {37, "R"}}));

  // The device's password goes back when none is given.
  line.sent.clear();
  WriteSettingsGroup(Body(SettingsGroup::Gprs, R"({"apn": "web", "user": "me"})"), line.Call(), text);
  EXPECT_EQ(line.sent,
            (std::vector<Sent>{{176, "R"}, {176, tillwright::GprsWriteData("web", "me", "kept")}, {176, "R"}}));

  line.sent.clear();
  WriteSettingsGroup(Body(SettingsGroup::Clock, R"({"time": "2031-01-02T03:04:05"})"), line.Call(), text);
  EXPECT_EQ(line.sent, (std::vector<Sent>{{61, "02-01-31 03:04:05"}, {62, ""}}));

  line.sent.clear();
  answer = WriteSettingsGroup(
      Body(
          SettingsGroup::Operators,
          R"({"operators": [{"number": 3, "name": "Ann", "password": "77", "idNumber": "123"}, {"number": 4, "name": "Bo", "password": "8"}]})"),
      line.Call(), text);
  EXPECT_EQ(line.sent, (std::vector<Sent>{{196, ""},
                                          {102, tillwright::OperatorNameData(3, "77", "Ann", "123")},
                                          {102, tillwright::OperatorNameData(4, "8", "Bo", "")}}));
  EXPECT_EQ(answer.body, json({{"written", {3, 4}}}));

  line.sent.clear();
  WriteSettingsGroup(Body(SettingsGroup::CodeTable, R"({"table": "dos"})"), line.Call(), text);
  std::vector<Sent> blocks;
  for (const std::string &block : tillwright::CodeTableBlocks(tillwright::kCodePageDos)) blocks.push_back({164, block});
  EXPECT_EQ(line.sent, blocks);
}

TEST(SettingsLine, AFailedWriteSaysWhatWasWrittenWhatMayHaveBeenAndWhatNot) {
  const DeviceText text(1251);
  const auto header = [] {
    return Body(SettingsGroup::Header, R"({"lines": ["a", "b", "c", "d", null, null, null, null, null, null]})");
  };
  struct Case {
    size_t failingTurn;  // 10..13 are the writes of lines 0..3
    int32_t code;
    const char *status;
    const char *errorCode;
    json written, uncertain, notWritten;
  };
  const Case cases[] = {
      {12, kSuccess, kRefusedStatus, "device-refused", {0, 1}, json::array(), {2, 3}},
      {11, kNoResponse, "", "no-answer", {0}, {1}, {2, 3}},
      {10, kNotConnected, "", "not-connected", json::array(), json::array(), {0, 1, 2, 3}},
      {3, kNoResponse, "", "no-answer", json::array(), json::array(), {0, 1, 2, 3}},  // while reading first
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.failingTurn);
    ScriptedLine line;
    line.failures[c.failingTurn] = {c.code, c.status};
    const SettingsAnswer answer = WriteSettingsGroup(header(), line.Call(), text);
    EXPECT_EQ(answer.status, 502);
    const json &error = answer.body["error"];
    EXPECT_EQ(error["code"], c.errorCode);
    EXPECT_EQ(error["written"], c.written);
    EXPECT_EQ(error["uncertain"], c.uncertain);
    EXPECT_EQ(error["notWritten"], c.notWritten);
    EXPECT_EQ(line.sent.size(), c.failingTurn + 1);  // nothing after the failure
  }

  // Written whole, but not read back: neither a success nor a failure to write.
  ScriptedLine line;
  line.failures[1] = {kNoResponse, ""};
  const SettingsAnswer unread =
      WriteSettingsGroup(Body(SettingsGroup::Clock, R"({"time": "2031-01-02T03:04:05"})"), line.Call(), text);
  EXPECT_EQ(unread.status, 502);
  EXPECT_EQ(unread.body["error"]["code"], "not-read-back");
  EXPECT_EQ(unread.body["error"]["written"], json({"clock"}));
}

TEST(SettingsLine, AReportTheDeviceWantsFirstStopsTheWriteWithNothingSent) {
  const DeviceText text(1251);
  struct Case {
    const char *reply;
    json reports;
  };
  for (const Case &c : {Case{"1,1,1", {"Z"}}, Case{"0,1,1", {"clerk", "PLU"}}, Case{"0,0,1", {"PLU"}}}) {
    ScriptedLine line;
    line.replies[{196, ""}] = c.reply;
    const SettingsAnswer answer = WriteSettingsGroup(
        Body(SettingsGroup::TaxRates, R"({"A": 20, "B": 9, "C": 0, "D": null, "PnP": null})"), line.Call(), text);
    EXPECT_EQ(answer.status, 409);
    EXPECT_EQ(answer.body["error"]["code"], "report-needed");
    EXPECT_EQ(answer.body["error"]["reports"], c.reports);
    EXPECT_EQ(answer.body["error"]["notWritten"], json({"tax-rates"}));
    EXPECT_EQ(line.sent, (std::vector<Sent>{{196, ""}}));
  }
  // A device that does not know the question wants no report, as the tool takes it.
  ScriptedLine line;
  line.failures[0] = {kSuccess, kRefusedStatus};
  EXPECT_EQ(WriteSettingsGroup(
                Body(SettingsGroup::Operators, R"({"operators": [{"number": 1, "name": "A", "password": "1"}]})"),
                line.Call(), text)
                .status,
            200);
  EXPECT_EQ(line.sent.size(), 2u);
}

// A line whose calls wait until the test lets them go.
class HeldPort : public DevicePort {
 public:
  std::promise<void> release;
  std::shared_future<void> released{release.get_future().share()};
  std::atomic<int> calls{0};
  std::atomic<bool> entered{false};

  CallResult Call(std::string_view, const json &) override {
    entered = true;
    released.wait();
    ++calls;
    CallResult result;
    result.status = kIdle;
    result.out = {{"text", ""}};
    return result;
  }
};

TEST(SettingsLine, LineWorkWaitsForTheDocumentAheadAndIsTakenBackWhenItCannotBegin) {
  test::TempRecord record;
  ASSERT_TRUE(record.ok());
  const DeviceText text(1251);
  auto port = std::make_unique<HeldPort>();
  HeldPort &held = *port;
  {
    Device device({"SV1", "COM7", "", ""}, std::move(port), record.store(), text);
    const std::variant<Document, RequestError> read =
        ReadDocument(DocumentKind::Command, R"({"key": "k1", "command": 90, "data": "0"})", text);
    ASSERT_EQ(device.Admit(std::get<Document>(read), nullptr), Device::Admitted::Queued);
    ASSERT_TRUE([&] {
      for (int i = 0; i < 500 && !held.entered; ++i) std::this_thread::sleep_for(10ms);
      return held.entered.load();
    }());

    bool ran = false;
    const Device::LineWork work = [&ran](const Device::LineCall &call) {
      ran = true;
      call("TestPrinter", json::array({62, ""}));
    };
    EXPECT_EQ(device.RunOnLine(work, 50ms), Device::Ran::NotStarted);
    EXPECT_EQ(device.QueueLength(), 0u);

    // Once the line is free, work runs after the document and its calls reach the line.
    std::future<Device::Ran> later = std::async(std::launch::async, [&] { return device.RunOnLine(work, 30s); });
    held.release.set_value();
    EXPECT_EQ(later.get(), Device::Ran::Done);
    EXPECT_TRUE(ran);
    EXPECT_EQ(held.calls, 2);
    EXPECT_EQ(device.Counts().calls, 2u);
  }
}

}  // namespace
}  // namespace hub
