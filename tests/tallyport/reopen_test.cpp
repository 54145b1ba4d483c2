// A port that vanishes and comes back under the same name: COM7 is an alias that the tests point
// at a new simulator's pseudo-terminal, as a USB serial device plugged in again gets its name back.
#include <thread>

#include "fiscalsim/port_alias.h"
#include "fiscalsim/pty_link.h"
#include "seriallink/port.h"
#include "seriallink/settings.h"
#include "test_support.h"
#include "wait_for.h"

namespace tallyport::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Far below the five waits of a command that waits for a port that will never answer.
constexpr auto kAtOnce = 2s;

class ReopenTest : public ::testing::Test {
 protected:
  void TearDown() override {
    Disconnect();
    seriallink::SetFlavour(seriallink::Flavour::Pos());
  }

  // A new device on a new pseudo-terminal, reached as COM7.
  fiscalsim::Simulator &Plug() {
    alias_.reset();
    sims_.push_back(std::make_unique<fiscalsim::Simulator>(fiscalsim::OpenPtyLink()));
    sims_.back()->Start();
    std::string error;
    alias_ = fiscalsim::PortAlias::Create("COM7", sims_.back()->PortName(), &error);
    EXPECT_NE(alias_, nullptr) << error;
    return *sims_.back();
  }

  // The device vanishes; the receive thread sees it a moment later.
  void Vanish(fiscalsim::Simulator &sim) {
    sim.ClosePort();
    fiscal_test::WaitFor([] { return seriallink::PortFailed(); });
    ASSERT_TRUE(seriallink::PortFailed());
  }

  static int32_t ConnectCom7() { return Connect("COM7", 115200, 8, 0, 0); }

  PrivateComDir dir_;
  std::vector<std::unique_ptr<fiscalsim::Simulator>> sims_;
  std::unique_ptr<fiscalsim::PortAlias> alias_;
};

TEST_F(ReopenTest, TheNextCommandOpensAVanishedPortThatIsBackUnderItsName) {
  for (const auto flavour : {seriallink::Flavour::Pos(), seriallink::Flavour::Tool()}) {
    seriallink::SetFlavour(flavour);
    fiscalsim::Simulator &first = Plug();
    ASSERT_EQ(ConnectCom7(), 0);
    ASSERT_EQ(DisplayClear(), 0);
    Vanish(first);

    fiscalsim::Simulator &back = Plug();
    const auto start = Clock::now();
    EXPECT_EQ(DisplayText(1, "again"), 0);
    EXPECT_LT(Clock::now() - start, kAtOnce);
    const auto frames = back.ReceivedFrames().Entries();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].data, "1,again");
    TextOut status;
    GetStatus(status.bytes);
    EXPECT_EQ(status.Text(), "000000000000");
    EXPECT_EQ(ConnectCom7(), TALLYPORT_ALREADY_CONNECTED);
    EXPECT_EQ(Disconnect(), 0);
  }
}

TEST_F(ReopenTest, ACommandOnAVanishedPortThatIsNotBackFailsAtOnce) {
  fiscalsim::Simulator &first = Plug();
  ASSERT_EQ(ConnectCom7(), 0);
  Vanish(first);
  alias_.reset();

  for (int i = 0; i < 2; ++i) {
    const auto start = Clock::now();
    EXPECT_EQ(DisplayClear(), TALLYPORT_NO_RESPONSE);
    EXPECT_LT(Clock::now() - start, kAtOnce);
  }
  TextOut status;
  GetStatus(status.bytes);
  EXPECT_EQ(status.Text(), "");

  fiscalsim::Simulator &back = Plug();
  EXPECT_EQ(DisplayClear(), 0);
  EXPECT_EQ(back.ReceivedFrames().Size(), 1u);
}

TEST_F(ReopenTest, TheCommandInFlightWhenThePortVanishesEndsAtOnce) {
  fiscalsim::Simulator &first = Plug();
  ASSERT_EQ(ConnectCom7(), 0);
  first.Faults().VanishOnNext();
  const auto start = Clock::now();
  EXPECT_EQ(DisplayClear(), TALLYPORT_NO_RESPONSE);
  EXPECT_LT(Clock::now() - start, kAtOnce);
  EXPECT_EQ(first.ReceivedFrames().Size(), 1u);

  fiscalsim::Simulator &back = Plug();
  EXPECT_EQ(DisplayClear(), 0);
  EXPECT_EQ(back.ReceivedFrames().Size(), 1u);
}

// Connect's failed open keeps the connection made (and Connect answering 10001); its commands
// try the port once each, so a device plugged in late is still reached.
TEST_F(ReopenTest, APortThatNeverOpenedIsTriedOnceByEachCommand) {
  EXPECT_EQ(ConnectCom7(), TALLYPORT_ALREADY_CONNECTED);
  const auto start = Clock::now();
  EXPECT_EQ(DisplayClear(), TALLYPORT_NO_RESPONSE);
  EXPECT_LT(Clock::now() - start, kAtOnce);

  fiscalsim::Simulator &late = Plug();
  EXPECT_EQ(DisplayClear(), 0);
  EXPECT_EQ(late.ReceivedFrames().Size(), 1u);
  EXPECT_EQ(ConnectCom7(), TALLYPORT_ALREADY_CONNECTED);
  EXPECT_EQ(Disconnect(), 0);
  EXPECT_EQ(ConnectCom7(), 0);
  EXPECT_EQ(DisplayClear(), 0);
}

// A bad line setting never opens, however often a command tries.
TEST_F(ReopenTest, ABadLineSettingStaysRefused) {
  Plug();
  EXPECT_EQ(Connect("COM7", 115200, 9, 0, 0), TALLYPORT_ALREADY_CONNECTED);
  const auto start = Clock::now();
  EXPECT_EQ(DisplayClear(), TALLYPORT_NO_RESPONSE);
  EXPECT_LT(Clock::now() - start, kAtOnce);
  EXPECT_EQ(sims_.back()->ReceivedFrames().Size(), 0u);
}

}  // namespace
}  // namespace tallyport::testing
