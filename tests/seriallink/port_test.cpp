// Opening and closing the port, and the receive thread's behaviour around it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <thread>

#include "fiscalsim/pty_link.h"
#include "fiscalsim/simulator.h"
#include "platform/serial_port.h"
#include "seriallink/port.h"
#include "seriallink/result_codes.h"
#include "test_support.h"
#include "wait_for.h"

namespace seriallink {
namespace {

using testing::Clock;
using testing::RawDevice;
using namespace std::chrono_literals;

// Idle for half a second, the reader may use at most this much CPU (ticks of 10 ms).
constexpr long kIdleTicks = 2;

void WaitForReader() {
  fiscal_test::WaitFor([] { return ReaderAlive(); });
  ASSERT_TRUE(ReaderAlive());
}

// A thread just joined may still be listed by the system for a moment.
bool ReaderThreadGone() {
  fiscal_test::WaitFor([] { return testing::ReaderCpuTicks() == -1; });
  return testing::ReaderCpuTicks() == -1;
}

TEST(PortTest, BadLineParametersGive13AndOpenNothing) {
  RawDevice device;
  const struct {
    uint16_t dataBits, parity, stopBits;
  } bad[] = {{4, 0, 0}, {9, 0, 0}, {8, 5, 0}, {8, 0, 3}, {0xFFFF, 0, 0}};
  for (const auto &b : bad) {
    EXPECT_EQ(OpenPort(device.Path(), 9600, b.dataBits, b.parity, b.stopBits), kBadPortParameters);
    EXPECT_FALSE(PortRunning());
    // 13 is EACCES too: the result says which it was.
    EXPECT_EQ(LastOpenResult().failure, OpenFailure::BadParameters);
    EXPECT_FALSE(LastOpenResult().system);
  }
  platform::SerialPort other;
  EXPECT_EQ(other.Open(device.Path()), 0) << "the port was left held";
}

TEST(PortTest, MissingPortGivesTheSystemsFileNotFound) {
  EXPECT_EQ(OpenPort("/dev/seriallink-no-such-port", 115200, 8, 0, 0), 2);
  EXPECT_EQ(LastOpenResult().failure, OpenFailure::CannotOpen);
  EXPECT_EQ(LastOpenResult().system, std::errc::no_such_file_or_directory);
  char pattern[] = "/tmp/seriallink-com-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  ::setenv("FISCAL_COM_DIR", pattern, 1);
  EXPECT_EQ(OpenPort("COM9", 115200, 8, 0, 0), 2);
  ::unsetenv("FISCAL_COM_DIR");
  std::filesystem::remove_all(pattern);
  EXPECT_FALSE(PortRunning());
}

TEST(PortTest, OpenPortIsIdleAndClosesInAbout200msOnce) {
  RawDevice device;
  ASSERT_EQ(OpenPort(device.Path(), 115200, 8, 0, 0), 0);
  EXPECT_EQ(OpenPort("/dev/seriallink-no-such-port", 115200, 8, 0, 0), 0) << "a second open changed something";
  WaitForReader();

  const long before = testing::ReaderCpuTicks();
  std::this_thread::sleep_for(500ms);
  EXPECT_LE(testing::ReaderCpuTicks() - before, kIdleTicks);

  auto start = Clock::now();
  EXPECT_EQ(ClosePort(), 0);
  const auto took = Clock::now() - start;
  EXPECT_GE(took, 190ms);
  EXPECT_LT(took, 2s);
  EXPECT_FALSE(ReaderAlive());
  EXPECT_FALSE(PortRunning());
  EXPECT_TRUE(ReaderThreadGone()) << "the receive thread outlived the port";

  start = Clock::now();
  EXPECT_EQ(ClosePort(), 0);
  EXPECT_LT(Clock::now() - start, 150ms);  // no second 200 ms close
  platform::SerialPort other;
  EXPECT_EQ(other.Open(device.Path()), 0) << "the port was left held";
}

TEST(PortTest, VanishedDeviceCostsNoCpuAndCommandsEndAtOnceInNoResponse) {
  fiscalsim::Simulator sim(fiscalsim::OpenPtyLink());
  sim.Start();
  CCommDlg dlg(sim.PortName(), 115200, 8, 0, 0);
  ASSERT_EQ(dlg.Open(), 0);
  WaitForReader();
  sim.ClosePort();

  const long before = testing::ReaderCpuTicks();
  const testing::Frame frame = testing::MakeFrame(dlg, 0x3E, "");
  RCVBLOCK reply;
  const auto start = Clock::now();
  EXPECT_EQ(dlg.Transact(frame.bytes.data(), frame.length, 2500ms, reply), kNoResponse);
  EXPECT_LT(Clock::now() - start, 2s) << "the exchange waited out a port that had failed";
  std::this_thread::sleep_for(500ms);
  EXPECT_LE(testing::ReaderCpuTicks() - before, kIdleTicks);
  EXPECT_TRUE(PortRunning());
  EXPECT_TRUE(PortFailed());

  const auto closing = Clock::now();
  EXPECT_EQ(ClosePort(), 0);
  EXPECT_LT(Clock::now() - closing, 2s);
  EXPECT_FALSE(PortFailed());
  EXPECT_TRUE(ReaderThreadGone());
}

}  // namespace
}  // namespace seriallink
