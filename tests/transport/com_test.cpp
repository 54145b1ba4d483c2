// CRSComSupp on a pseudo-terminal played by the test: line settings, the receive ring, and a
// device that hangs up.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "drivers/rs_com_supp.h"
#include "platform/trace.h"
#include "wait_for.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using vrn::CRSComSupp;

// A pseudo-terminal whose master end the test drives as the device.
struct RawPty {
  RawPty() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0) slave = ::ptsname(master);
  }
  ~RawPty() {
    if (master >= 0) ::close(master);
  }
  void Send(const std::vector<uint8_t> &bytes) const {
    ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  int master = -1;
  std::string slave;
};

using fiscal_test::WaitFor;

TEST(ComSupp, OpensAt115200EightDataBitsNoParityOneStopBit) {
  RawPty pty;
  ASSERT_FALSE(pty.slave.empty());
  {
    // Leave the line at other settings first, so the open has something to change.
    const int fd = ::open(pty.slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfsetspeed(&t, B9600);
    t.c_cflag |= CSTOPB;
    ::tcsetattr(fd, TCSANOW, &t);
    ::close(fd);
  }
  platform::TraceCapture traces;
  CRSComSupp com;
  ASSERT_EQ(com.OpenCom(pty.slave.c_str(), 115200, 8, 0, 0), 0);
  EXPECT_TRUE(com.IsOpen());
  EXPECT_TRUE(traces.Contains("Com " + pty.slave + " opened"));
  termios t{};
  ASSERT_EQ(::tcgetattr(pty.master, &t), 0);  // a pty's master shows the line of its slave
  EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B115200));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);

  // Open again on an open port: 0, nothing changes.
  EXPECT_EQ(com.OpenCom("/nonexistent/tty", 9600, 7, 2, 2), 0);
  com.CloseCom();
  EXPECT_FALSE(com.IsOpen());
  EXPECT_TRUE(traces.Contains("Com " + pty.slave + " closed"));
}

TEST(ComSupp, BadSettingsReturn13WithoutTouchingThePort) {
  RawPty pty;
  platform::TraceCapture traces;
  CRSComSupp com;
  EXPECT_EQ(com.OpenCom(pty.slave.c_str(), 115200, 9, 0, 0), CRSComSupp::kBadSettings);
  EXPECT_EQ(com.OpenCom(pty.slave.c_str(), 115200, 4, 0, 0), CRSComSupp::kBadSettings);
  EXPECT_EQ(com.OpenCom(pty.slave.c_str(), 115200, 8, 5, 0), CRSComSupp::kBadSettings);
  EXPECT_EQ(com.OpenCom(pty.slave.c_str(), 115200, 8, 0, 3), CRSComSupp::kBadSettings);
  // Not even a missing port is looked at.
  EXPECT_EQ(com.OpenCom("/nonexistent/tty", 115200, 9, 0, 0), CRSComSupp::kBadSettings);
  EXPECT_FALSE(com.IsOpen());
  EXPECT_TRUE(traces.Lines().empty());
  // 13 is EACCES too: the result says which it was.
  EXPECT_EQ(com.LastOpenResult().failure, CRSComSupp::OpenFailure::BadSettings);
  EXPECT_FALSE(com.LastOpenResult().system);
  // The port is still free for an exclusive open.
  CRSComSupp other;
  EXPECT_EQ(other.OpenCom(pty.slave.c_str(), 115200, 8, 0, 0), 0);
}

TEST(ComSupp, MissingPortReturnsTheSystemErrorAndStaysClosed) {
  platform::TraceCapture traces;
  CRSComSupp com;
  EXPECT_EQ(com.OpenCom("/nonexistent/tty", 115200, 8, 0, 0), ENOENT);
  EXPECT_FALSE(com.IsOpen());
  EXPECT_TRUE(traces.Contains("Com /nonexistent/tty cannot be opened"));
  EXPECT_EQ(com.LastOpenResult().failure, CRSComSupp::OpenFailure::CannotOpen);
  EXPECT_EQ(com.LastOpenResult().system, std::errc::no_such_file_or_directory);
  // A file that is no terminal: the system's code again, not one of OpenCom's own.
  EXPECT_EQ(com.OpenCom("/dev/null", 115200, 8, 0, 0), ENOTTY);
  EXPECT_EQ(com.LastOpenResult().system, std::errc::inappropriate_io_control_operation);
  EXPECT_FALSE(com.ReopenCom());  // nothing opened yet, so nothing to re-open
}

TEST(ComSupp, RingHoldsAtMost1023BytesAndDropsTheNext) {
  RawPty pty;
  CRSComSupp com;
  ASSERT_EQ(com.OpenCom(pty.slave.c_str(), 115200, 8, 0, 0), 0);
  std::vector<uint8_t> bytes(1024);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  pty.Send(bytes);
  ASSERT_TRUE(WaitFor([&] { return com.Pending() == 1023; }));
  // The 1024th byte has come too once the pty holds nothing more for the port.
  ASSERT_TRUE(WaitFor([&] {
    int queued = 0;
    return ::ioctl(pty.master, TIOCOUTQ, &queued) == 0 && queued == 0;
  }));
  std::this_thread::sleep_for(50ms);
  std::vector<uint8_t> taken(vrn::ByteRing::kSize);
  ASSERT_EQ(com.TakeReceived(taken.data()), 1023u);
  taken.resize(1023);
  EXPECT_EQ(taken, std::vector<uint8_t>(bytes.begin(), bytes.begin() + 1023));

  // The ring goes on after being emptied, wrapping around.
  pty.Send({0x41, 0x42, 0x43});
  ASSERT_TRUE(WaitFor([&] { return com.Pending() == 3; }));
  taken.assign(vrn::ByteRing::kSize, 0);
  ASSERT_EQ(com.TakeReceived(taken.data()), 3u);
  EXPECT_EQ(taken[0], 0x41);
  EXPECT_EQ(taken[2], 0x43);
}

TEST(ComSupp, ReopenCyclesThePortWithTheRememberedSettings) {
  RawPty pty;
  platform::TraceCapture traces;
  CRSComSupp com;
  ASSERT_EQ(com.OpenCom(pty.slave.c_str(), 57600, 8, 0, 2), 0);
  ASSERT_TRUE(com.ReopenCom());
  EXPECT_TRUE(com.IsOpen());
  EXPECT_EQ(traces.Count("Com " + pty.slave + " opened"), 2u);
  EXPECT_EQ(traces.Count("Com " + pty.slave + " closed"), 1u);
  termios t{};
  ASSERT_EQ(::tcgetattr(pty.master, &t), 0);
  EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B57600));
  EXPECT_NE(t.c_cflag & CSTOPB, 0u);
}

TEST(ComSupp, VanishedDeviceEndsTheReceiveThreadWithoutSpinning) {
  auto pty = std::make_unique<RawPty>();
  platform::TraceCapture traces;
  CRSComSupp com;
  ASSERT_EQ(com.OpenCom(pty->slave.c_str(), 115200, 8, 0, 0), 0);
  pty.reset();  // hang-up
  ASSERT_TRUE(WaitFor([&] { return traces.Contains("WaitCommEvent error"); }));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(traces.Count("WaitCommEvent error"), 1u);
  com.CloseCom();  // joins the ended thread
}

}  // namespace
