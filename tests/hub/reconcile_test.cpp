#include "reconcile.h"

#include <gtest/gtest.h>

#include "hub_test_line.h"

namespace hub {
namespace {

using nlohmann::json;

using test::NoAnswer;
using test::NotSent;
using test::Ok;
using test::Refused;
using test::Script;
using test::ScriptedPort;

// A step of the record before the settlement: its op and its answer, if any.
struct Step {
  const char *op;
  std::optional<CallResult> answer;
  json args = json::array();
};

class ReconcileTest : public ::testing::Test {
 protected:
  DocumentRecord Record(const std::string &key, const char *kind, std::optional<int64_t> before,
                        const std::vector<Step> &steps) {
    EXPECT_EQ(store_.Begin(key, "fp1", kind, json::object(), nullptr), Store::Begun::Created);
    if (before) {
      EXPECT_TRUE(store_.SetCounterBefore(key, *before));
    }
    for (size_t i = 0; i < steps.size(); ++i) {
      EXPECT_TRUE(store_.StepSending(key, static_cast<int>(i), steps[i].op, steps[i].args));
      if (steps[i].answer) {
        EXPECT_TRUE(store_.StepAnswered(key, static_cast<int>(i), *steps[i].answer));
      }
    }
    return *store_.Get(key);
  }
  test::TempRecord record_;
  Store &store_ = record_.store();
};

const std::vector<Step> kOpened = {{"GetDocNumber", Ok("17")}, {"BeginFiscalBon", Ok()}, {"Sale", Ok()}};
std::vector<Step> Opened(std::vector<Step> more) {
  std::vector<Step> steps = kOpened;
  steps.insert(steps.end(), more.begin(), more.end());
  return steps;
}

struct Case {
  const char *name;
  const char *kind;
  std::optional<int64_t> before;
  std::vector<Step> steps;
  Script device;
  bool settled;
  DocState state;
  std::vector<std::string> sent;
  json evidence;  // fields that must be in the evidence as given
  json result = json();
};

const std::vector<std::string> kReads = {"GetBonInfo", "GetDocNumber"};
const std::vector<std::string> kVoid = {"GetBonInfo", "GetDocNumber", "VoidAll"};
const Script kClosed18 = {{"GetBonInfo", {Ok("0,0,0.00")}}, {"GetDocNumber", {Ok("18")}}};
Script Open18(std::deque<CallResult> voidAll) {
  return {{"GetBonInfo", {Ok("1,2,10.00")}}, {"GetDocNumber", {Ok("18")}}, {"VoidAll", std::move(voidAll)}};
}
Script Counter(const char *now) { return {{"GetDocNumber", {Ok(now)}}}; }
Script Fiscal(const char *info, const char *now) { return {{"GetBonInfo", {Ok(info)}}, {"GetDocNumber", {Ok(now)}}}; }
const std::vector<Step> kSlip = {{"GetDocNumber", Ok("17")}, {"BeginNonFiscalBon", Ok()}, {"PrintNonFiscalText", Ok()}};
std::vector<Step> Slip(std::vector<Step> more) {
  std::vector<Step> steps = kSlip;
  steps.insert(steps.end(), more.begin(), more.end());
  return steps;
}

// A Z report and cash in and out as the hub sends them, their outcome unknown.
const std::vector<Step> kZ = {{"DayReport", NoAnswer(), {0, 0}}};
const std::vector<Step> kCashIn = {{"ServiceInputOutput", NoAnswer(), {12.5}}};
const std::vector<Step> kCashOut = {{"ServiceInputOutput", NoAnswer(), {-2.0}}};
Script LastZ(const char *now) { return {{"GetLastClosure", {Ok(now)}}}; }
// "day total,cash in,cash out"
Script Sums(const char *now) { return {{"GetCurrentSums", {Ok(now)}}}; }
const std::vector<std::string> kZRead = {"GetLastClosure"};
const std::vector<std::string> kSumsRead = {"GetCurrentSums"};

const DocState kNot = DocState::NotRegistered, kReg = DocState::Registered, kAttention = DocState::NeedsAttention;

// Every rule of reconcile.h, each with what was recorded, what the device answers, and what the
// settlement must say and send.
const Case kCases[] = {
    // Nothing that could have taken effect: the device is not asked.
    {"nothing sent", "receipt", std::nullopt, {}, {}, true, kNot, {}, {{"lastStep", nullptr}}},
    {"only the counter read", "receipt", 17, {{"GetDocNumber", Ok("17")}}, {}, true, kNot, {}, {}},
    {"opening never went out", "receipt", 17, {{"BeginFiscalBon", NotSent()}}, {}, true, kNot, {}, {}},
    {"report refused", "report", std::nullopt, {{"PrintReport", Refused()}}, {}, true, kNot, {}, {}},
    // Fiscal receipts.
    {"never opened",
     "receipt",
     17,
     kOpened,
     Fiscal("0,0,0.00", "17"),
     true,
     kNot,
     kReads,
     {{"counterBefore", 17}, {"counterNow", 17}, {"open", false}, {"bonInfo", "0,0,0.00"}}},
    {"open, voided",
     "receipt",
     17,
     kOpened,
     Open18({Ok()}),
     true,
     kNot,
     kVoid,
     {{"counterNow", 18}, {"open", true}, {"voided", true}, {"lastStep", {{"op", "Sale"}}}}},
    {"open, void unanswered", "receipt", 17, kOpened, Open18({NoAnswer()}), false, kAttention, kVoid, {}},
    {"open, void refused", "receipt", 17, kOpened, Open18({Refused()}), true, kAttention, kVoid, {}},
    {"closed by our last step",
     "receipt",
     17,
     Opened({{"Total", Ok()}, {"EndFiscalBon", std::nullopt}}),
     kClosed18,
     true,
     kReg,
     kReads,
     {{"lastStep", {{"op", "EndFiscalBon"}, {"answered", false}}}},
     {{"receipt", 18}}},
    {"closed, end lost on the line",
     "receipt",
     17,
     Opened({{"EndFiscalBon", NoAnswer()}}),
     kClosed18,
     true,
     kReg,
     kReads,
     {{"lastStep", {{"effect", "unknown"}}}},
     {{"receipt", 18}}},
    {"voided by our last step", "receipt", 17, Opened({{"VoidAll", std::nullopt}}), kClosed18, true, kNot, kReads, {}},
    {"closed by someone else",
     "receipt",
     17,
     Opened({{"Total", Ok()}}),
     kClosed18,
     true,
     kAttention,
     kReads,
     {{"lastStep", {{"op", "Total"}}}}},
    {"our end refused, closed since",
     "receipt",
     17,
     Opened({{"EndFiscalBon", Refused()}}),
     kClosed18,
     true,
     kAttention,
     kReads,
     {{"lastStep", {{"op", "Sale"}}}}},
    {"counter moved by two",
     "receipt",
     17,
     kOpened,
     Fiscal("0,0,0.00", "19"),
     true,
     kAttention,
     kReads,
     {{"counterNow", 19}}},
    {"counter went back", "receipt", 17, kOpened, Fiscal("0,0,0.00", "16"), true, kAttention, kReads, {}},
    {"no counter before",
     "receipt",
     std::nullopt,
     {{"BeginFiscalBon", NoAnswer()}},
     {},
     true,
     kAttention,
     {},
     {{"counterBefore", nullptr}}},
    {"receipt info unanswered", "receipt", 17, kOpened, {}, false, kAttention, {"GetBonInfo"}, {}},
    {"counter unanswered", "receipt", 17, kOpened, {{"GetBonInfo", {Ok("1,1,1.00")}}}, false, kAttention, kReads, {}},
    {"receipt info refused",
     "receipt",
     17,
     kOpened,
     {{"GetBonInfo", {Refused()}}},
     true,
     kAttention,
     {"GetBonInfo"},
     {}},
    {"counter garbled",
     "receipt",
     17,
     kOpened,
     Fiscal("1,1,1.00", "18a"),
     true,
     kAttention,
     kReads,
     {{"counterNow", "18a"}}},
    {"counter padded", "receipt", 17, kOpened, Fiscal("1,1,1.00", " 18"), true, kAttention, kReads, {}},
    {"counter too long", "receipt", 17, kOpened, Fiscal("1,1,1.00", "0000000018"), true, kAttention, kReads, {}},
    {"counter empty", "receipt", 17, kOpened, Fiscal("1,1,1.00", ""), true, kAttention, kReads, {}},
    {"open flag garbled", "receipt", 17, kOpened, Fiscal("2,1,1.00", "18"), true, kAttention, kReads, {}},
    {"receipt info short", "receipt", 17, kOpened, Fiscal("1", "18"), true, kAttention, kReads, {}},
    // Non-fiscal receipts.
    {"slip never opened", "non-fiscal", 17, kSlip, Counter("17"), true, kNot, {"GetDocNumber"}, {{"counterNow", 17}}},
    {"slip closed by us",
     "non-fiscal",
     17,
     Slip({{"EndNonFiscalBon", std::nullopt}}),
     Counter("18"),
     true,
     kReg,
     {"GetDocNumber"},
     {},
     {{"receipt", 18}}},
    {"slip left open, closed",
     "non-fiscal",
     17,
     kSlip,
     {{"GetDocNumber", {Ok("18")}}, {"EndNonFiscalBon", {Ok()}}},
     true,
     kNot,
     {"GetDocNumber", "EndNonFiscalBon"},
     {{"closed", true}}},
    {"slip close refused",
     "non-fiscal",
     17,
     kSlip,
     {{"GetDocNumber", {Ok("18")}}, {"EndNonFiscalBon", {Refused()}}},
     true,
     kAttention,
     {"GetDocNumber", "EndNonFiscalBon"},
     {}},
    {"slip close unanswered",
     "non-fiscal",
     17,
     kSlip,
     Counter("18"),
     false,
     kAttention,
     {"GetDocNumber", "EndNonFiscalBon"},
     {}},
    {"slip counter moved by two", "non-fiscal", 17, kSlip, Counter("19"), true, kAttention, {"GetDocNumber"}, {}},
    {"slip counter unanswered", "non-fiscal", 17, kSlip, {}, false, kAttention, {"GetDocNumber"}, {}},
    // Z reports, by the number of the last one.
    {"Z closed the day",
     "report",
     4,
     kZ,
     LastZ("0005"),
     true,
     kReg,
     kZRead,
     {{"counter", "z-reports"}, {"counterBefore", 4}, {"counterNow", 5}, {"lastStep", {{"op", "DayReport"}}}},
     {{"zReport", 5}}},
    {"Z did not close the day", "report", 4, kZ, LastZ("0004"), true, kNot, kZRead, {{"counterNow", 4}}},
    {"Z counter moved by two", "report", 4, kZ, LastZ("0006"), true, kAttention, kZRead, {}},
    {"Z counter went back", "report", 4, kZ, LastZ("0003"), true, kAttention, kZRead, {}},
    {"Z counter garbled", "report", 4, kZ, LastZ("5,1"), true, kAttention, kZRead, {{"counterNow", "5,1"}}},
    {"Z counter unanswered", "report", 4, kZ, {}, false, kAttention, kZRead, {}},
    {"Z counter refused", "report", 4, kZ, {{"GetLastClosure", {Refused()}}}, true, kAttention, kZRead, {}},
    {"Z without a counter before", "report", std::nullopt, kZ, LastZ("0005"), true, kAttention, {}, {}},
    {"Z refused", "report", 4, {{"DayReport", Refused(), {0, 0}}}, {}, true, kNot, {}, {}},
    // Cash, by the sum of cash in or out.
    {"cash in booked",
     "cash",
     1000,
     kCashIn,
     Sums("3.00,22.50,0.00"),
     true,
     kReg,
     kSumsRead,
     {{"counter", "cash-in"}, {"counterBefore", 1000}, {"counterNow", 2250}, {"amount", 1250}},
     json::object()},
    {"cash in not booked", "cash", 1000, kCashIn, Sums("3.00,10.00,0.00"), true, kNot, kSumsRead, {}},
    {"cash in moved otherwise", "cash", 1000, kCashIn, Sums("3.00,22.00,0.00"), true, kAttention, kSumsRead, {}},
    {"cash out booked",
     "cash",
     200,
     kCashOut,
     Sums("3.00,22.50,4.00"),
     true,
     kReg,
     kSumsRead,
     {{"counter", "cash-out"}, {"counterNow", 400}},
     json::object()},
    {"cash out not booked", "cash", 200, kCashOut, Sums("3.00,99.00,2.00"), true, kNot, kSumsRead, {}},
    {"cash sums short", "cash", 1000, kCashIn, Sums("3.00,22.50"), true, kAttention, kSumsRead, {}},
    {"cash sums long", "cash", 1000, kCashIn, Sums("3.00,22.50,0.00,1.00"), true, kAttention, kSumsRead, {}},
    {"cash sum with one decimal", "cash", 1000, kCashIn, Sums("3.00,22.5,0.00"), true, kAttention, kSumsRead, {}},
    {"cash sum signed", "cash", 200, kCashOut, Sums("3.00,22.50,-4.00"), true, kAttention, kSumsRead, {}},
    {"cash sum without units", "cash", 1000, kCashIn, Sums("3.00,.50,0.00"), true, kAttention, kSumsRead, {}},
    {"cash without a sum before", "cash", std::nullopt, kCashIn, {}, true, kAttention, {}, {}},
    {"cash refused", "cash", 1000, {{"ServiceInputOutput", Refused(), {12.5}}}, {}, true, kNot, {}, {}},
    // Other kinds: no counter tells.
    {"X report sent",
     "report",
     std::nullopt,
     {{"DayReport", NoAnswer(), {2, 0}}},
     {},
     true,
     kAttention,
     {},
     {{"counter", nullptr}}},
    {"command sent", "command", std::nullopt, {{"TestPrinter", NoAnswer(), {90, ""}}}, {}, true, kAttention, {}, {}},
    {"report sent",
     "report",
     std::nullopt,
     {{"GetDayInfo", Ok("1,1,1.00")}, {"PrintReport", NoAnswer()}},
     {},
     true,
     kAttention,
     {},
     {{"lastStep", {{"op", "PrintReport"}, {"code", kNoResponse}}}}},
    {"only queries", "command", std::nullopt, {{"GetDayInfo", NoAnswer()}}, {}, true, kNot, {}, {}},
};

TEST_F(ReconcileTest, TheRulesSettleEachCase) {
  int n = 0;
  for (const Case &c : kCases) {
    const std::string key = "doc" + std::to_string(n++);
    const DocumentRecord doc = Record(key, c.kind, c.before, c.steps);
    ScriptedPort port(c.device);
    const Settlement s = Reconcile(doc, port, store_);
    EXPECT_EQ(s.settled, c.settled) << c.name << " " << s.evidence;
    if (c.settled) {
      EXPECT_EQ(s.state, c.state) << c.name << " " << s.evidence;
    }
    EXPECT_EQ(s.result, c.result) << c.name;
    EXPECT_EQ(port.Sent(), c.sent) << c.name;
    for (const char *field : {"counterBefore", "lastStep", "sent", "reason"}) {
      EXPECT_TRUE(s.evidence.contains(field)) << c.name << ": no " << field;
    }
    test::ExpectFields(s.evidence, c.evidence, c.name);
    EXPECT_EQ(s.evidence["sent"].size(), c.sent.size()) << c.name;

    // What went to the device is recorded after the steps, each with its answer.
    const auto after = store_.Get(key);
    ASSERT_TRUE(after);
    ASSERT_EQ(after->steps.size(), c.steps.size() + c.sent.size()) << c.name;
    EXPECT_EQ(after->state, DocState::InProgress) << c.name;  // the caller settles
    for (size_t i = 0; i < c.sent.size(); ++i) {
      const StepRecord &step = after->steps[c.steps.size() + i];
      EXPECT_EQ(step.op, c.sent[i]) << c.name;
      EXPECT_TRUE(step.answered) << c.name;
    }
  }
}

// The void itself lost on the line: the next settlement finds our void as the last step and the
// receipt closed, so the document is not registered; nothing is voided twice.
TEST_F(ReconcileTest, ASecondInterruptionIsSettledInTurn) {
  const DocumentRecord doc = Record("k", "receipt", 17, kOpened);
  ScriptedPort first(Open18({NoAnswer()}));
  EXPECT_FALSE(Reconcile(doc, first, store_).settled);
  ScriptedPort second(kClosed18);
  const Settlement s = Reconcile(doc, second, store_);
  EXPECT_TRUE(s.settled);
  EXPECT_EQ(s.state, DocState::NotRegistered);
  EXPECT_EQ(s.evidence["lastStep"]["op"], "VoidAll");
  EXPECT_EQ(second.Sent(), kReads);
  ASSERT_TRUE(store_.Settle("k", s.state, s.result, s.evidence));

  // Settled now: answered as it stands, without a word to the device.
  ScriptedPort third({});
  const Settlement again = Reconcile(doc, third, store_);
  EXPECT_TRUE(again.settled);
  EXPECT_EQ(again.state, DocState::NotRegistered);
  EXPECT_TRUE(third.Sent().empty());
}

// A command whose intent cannot be recorded is not sent.
TEST_F(ReconcileTest, NothingIsSentThatCannotBeRecorded) {
  const DocumentRecord doc = Record("k", "receipt", 17, kOpened);
  store_.Close();
  ScriptedPort port(Open18({Ok()}));
  const Settlement s = Reconcile(doc, port, store_);
  EXPECT_FALSE(s.settled);
  EXPECT_TRUE(port.Sent().empty());
  EXPECT_TRUE(s.evidence.contains("storeError"));
}

}  // namespace
}  // namespace hub
