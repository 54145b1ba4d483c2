// A frame the host sends again because its answer was late or refused, through the serial link
// engine's own exchange: the sale it carries is booked once.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "fiscalsim/pty_link.h"
#include "fiscalsim/simulator.h"
#include "seriallink/comm_dlg.h"
#include "seriallink/result_codes.h"
#include "wait_for.h"

namespace fiscalsim {
namespace {

using namespace std::chrono_literals;

constexpr char kBread[] = "Bread\tB1.20*1.000,0.00";
constexpr char kMilk[] = "Milk\tA2.50*1.000,0.00";

struct Step {
  uint8_t seq;
  uint8_t cmd;  // a sale of either kind
  const char *sale;
  std::function<void(Simulator &)> before;  // faults to arm, or a change from outside the line
  std::chrono::milliseconds wait;           // the engine's wait for each answer
  int32_t result;
  std::chrono::milliseconds settle{0};  // for late answers to stray in before the next step
};

struct ResendCase {
  const char *what;
  std::vector<Step> steps;
  unsigned items;        // sales booked on the open receipt
  size_t framesOfSales;  // received, repeats included
};

void PrintTo(const ResendCase &c, std::ostream *os) { *os << c.what; }

const auto kNothing = [](Simulator &) {};

const ResendCase kResendCases[] = {
    {"AnswerLaterThanTheWait",
     {{0x21, command::kSale, kBread, [](Simulator &s) { s.Faults().DelayNext(2800ms); }, 2500ms, seriallink::kSuccess}},
     1,
     2},
    {"RefusedThenSentAgain",
     {{0x21, command::kSale, kBread, [](Simulator &s) { s.Faults().NakNext(1); }, 2500ms, seriallink::kSuccess}},
     1,
     2},
    // The engine gave up while the device executed; its next command keeps the number.
    {"AnotherCommandUnderTheSameNumberAfterTheEngineGaveUp",
     {{0x21, command::kSale, kBread, [](Simulator &s) { s.Faults().DelayNext(1200ms); }, 200ms, seriallink::kNoResponse,
       1000ms},
      {0x21, command::kSaleAndDisplay, kMilk, kNothing, 2500ms, seriallink::kSuccess}},
     2,
     6},
    {"TheSameSaleAgainAfterAChangeFromOutsideTheLine",
     {{0x21, command::kSale, kBread, kNothing, 2500ms, seriallink::kSuccess},
      {0x21, command::kSale, kBread,
       [](Simulator &s) { s.WithModel([](DeviceModel &m) { m.State().headerLines[0] = "X"; }); }, 2500ms,
       seriallink::kSuccess}},
     2,
     2},
};

class ResendTest : public ::testing::TestWithParam<ResendCase> {};

TEST_P(ResendTest, OnlyAFrameTheDeviceDidNotExecuteBooksItsSale) {
  const ResendCase &c = GetParam();
  Simulator sim(OpenPtyLink());
  sim.WithModel([](DeviceModel &m) { ASSERT_EQ(m.Execute(command::kOpenReceipt, "01,0000,01").status, kStatusIdle); });
  sim.Start();
  seriallink::CCommDlg dlg(sim.PortName(), 115200, 8, 0, 0);
  ASSERT_EQ(dlg.Open(), 0);
  for (const Step &step : c.steps) {
    step.before(sim);
    const Bytes frame = BuildRequest(step.seq, step.cmd, step.sale);
    seriallink::RCVBLOCK reply;
    EXPECT_EQ(dlg.Transact(frame.data(), frame.size(), step.wait, reply), step.result) << step.sale;
    std::this_thread::sleep_for(step.settle);
  }
  ASSERT_TRUE(sim.ReceivedFrames().WaitForSize(c.framesOfSales, fiscal_test::kPatience));
  const Receipt receipt = sim.WithModel([](DeviceModel &m) { return m.State().receipt; });
  EXPECT_EQ(receipt.items, c.items);
  EXPECT_EQ(sim.ReceivedFrames().Size(), c.framesOfSales);
}

INSTANTIATE_TEST_SUITE_P(Cases, ResendTest, ::testing::ValuesIn(kResendCases),
                         [](const ::testing::TestParamInfo<ResendCase> &p) { return std::string(p.param.what); });

}  // namespace
}  // namespace fiscalsim
