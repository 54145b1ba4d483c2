#include "platform/serial_port.h"

#include "scoped_threads.h"
#include "termios_settings.h"
#include "wait_for.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A pseudo-terminal whose slave side is aliased as COM7 in a private map directory; the test
// plays the device on the master side.
class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/serial-port-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ::setenv("FISCAL_COM_DIR", dir_.c_str(), 1);
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(::grantpt(master_), 0);
    ASSERT_EQ(::unlockpt(master_), 0);
    slavePath_ = ::ptsname(master_);
    fs::create_symlink(slavePath_, dir_ / "COM7");
  }
  void TearDown() override {
    if (master_ >= 0) ::close(master_);
    fs::remove_all(dir_);
    ::unsetenv("FISCAL_COM_DIR");
  }

  std::string ReadMaster(size_t n) {
    std::string got;
    const auto deadline = Clock::now() + 5s;
    while (got.size() < n && Clock::now() < deadline) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char buf[256];
      const ssize_t r = ::read(master_, buf, sizeof buf);
      if (r > 0) got.append(buf, static_cast<size_t>(r));
    }
    return got;
  }

  std::string ReadPort(SerialPort &port, size_t n) {
    std::string got;
    const auto deadline = Clock::now() + 5s;
    while (got.size() < n && Clock::now() < deadline) {
      if (port.WaitReadable(100ms) != WaitResult::Readable) continue;
      char buf[256];
      const ptrdiff_t r = port.Read(buf, sizeof buf);
      if (r > 0) got.append(buf, static_cast<size_t>(r));
    }
    return got;
  }

  fs::path dir_;
  int master_ = -1;
  std::string slavePath_;
};

// Bytes that a cooked terminal would translate or act on (CR, LF, XON, XOFF, ^C, DEL, 0xFF).
const std::string kAwkwardBytes("\x01\x24\x20\x21\x05\x30\x30\x36\x3A\x03\r\n\x11\x13\x7F\xFF\x00\x1A", 18);

TEST_F(SerialPortTest, BytesPassUnchangedBothWays) {
  SerialPort port;
  ASSERT_EQ(port.Open("COM7"), 0);
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.Path(), (dir_ / "COM7").string());
  ASSERT_EQ(port.Configure({115200, 8, 0, 0}), 0);

  EXPECT_EQ(port.Write(kAwkwardBytes.data(), kAwkwardBytes.size()), kAwkwardBytes.size());
  EXPECT_EQ(ReadMaster(kAwkwardBytes.size()), kAwkwardBytes);

  EXPECT_EQ(port.WaitReadable(0ms), WaitResult::TimedOut);
  char none[4];
  EXPECT_EQ(port.Read(none, sizeof none), 0);
  ASSERT_EQ(::write(master_, kAwkwardBytes.data(), kAwkwardBytes.size()), static_cast<ssize_t>(kAwkwardBytes.size()));
  EXPECT_EQ(ReadPort(port, kAwkwardBytes.size()), kAwkwardBytes);
}

TEST(LineSettingsTest, EachCodeMapsToItsTermiosFlags) {
  termios tio{};
  tio.c_lflag = ICANON | ECHO | ISIG;
  tio.c_iflag = IXON | IXOFF | ICRNL;
  tio.c_cflag = CRTSCTS;
  ASSERT_EQ(ApplyLineSettings({9600, 7, 2, 2}, &tio), 0);
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
  EXPECT_EQ(tio.c_cflag & (PARENB | PARODD | CMSPAR), static_cast<tcflag_t>(PARENB));
  EXPECT_NE(tio.c_iflag & INPCK, 0u);
  EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B9600));
  EXPECT_EQ(::cfgetispeed(&tio), static_cast<speed_t>(B9600));
  EXPECT_EQ(tio.c_cflag & CRTSCTS, 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));

  const struct {
    uint16_t parity;
    tcflag_t flags;
  } kParities[] = {{0, 0}, {1, PARENB | PARODD}, {2, PARENB}, {3, PARENB | PARODD | CMSPAR}, {4, PARENB | CMSPAR}};
  for (const auto &p : kParities) {
    ASSERT_EQ(ApplyLineSettings({115200, 8, p.parity, 0}, &tio), 0);
    EXPECT_EQ(tio.c_cflag & (PARENB | PARODD | CMSPAR), p.flags) << "parity code " << p.parity;
    EXPECT_EQ((tio.c_iflag & INPCK) != 0, p.parity != 0) << "parity code " << p.parity;
  }
  ASSERT_EQ(ApplyLineSettings({115200, 5, 0, 0}, &tio), 0);
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS5));
  EXPECT_EQ(tio.c_cflag & CSTOPB, 0u);
  ASSERT_EQ(ApplyLineSettings({115200, 6, 0, 1}, &tio), 0);
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS6));
  EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B115200));
}

TEST(LineSettingsTest, OutOfRangeValuesLeaveTheSettingsAlone) {
  termios tio{};
  ASSERT_EQ(ApplyLineSettings({115200, 8, 0, 0}, &tio), 0);
  const termios before = tio;
  const LineSettings bad[] = {{115200, 4, 0, 0}, {115200, 9, 0, 0}, {115200, 8, 5, 0}, {115200, 8, 0, 3}, {12345, 8, 0, 0}, {0, 8, 0, 0}};
  for (const LineSettings &s : bad) EXPECT_EQ(ApplyLineSettings(s, &tio), EINVAL);
  EXPECT_EQ(std::memcmp(&before, &tio, sizeof tio), 0);
}

TEST_F(SerialPortTest, SettingsReachTheLineAndBadOnesAreRefused) {
  SerialPort port;
  ASSERT_EQ(port.Open("COM7"), 0);
  ASSERT_EQ(port.Configure({115200, 8, 0, 0}), 0);
  EXPECT_EQ(port.Configure({115200, 9, 0, 0}), EINVAL);
  EXPECT_EQ(port.Configure({12345, 8, 0, 0}), EINVAL);
  // A pty keeps the speed and stop bits it is given, so they show what reached the line.
  termios tio{};
  ASSERT_EQ(::tcgetattr(master_, &tio), 0);
  EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B115200));
  EXPECT_EQ(port.Configure({9600, 8, 0, 2}), 0);
  ASSERT_EQ(::tcgetattr(master_, &tio), 0);
  EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B9600));
  EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
}

TEST_F(SerialPortTest, SecondExclusiveOpenIsRefusedUntilTheFirstCloses) {
  SerialPort first, second;
  ASSERT_EQ(first.Open("COM7"), 0);
  EXPECT_EQ(second.Open("COM7"), EBUSY);
  EXPECT_EQ(second.Open(slavePath_), EBUSY);  // the same device by its own path
  EXPECT_FALSE(second.IsOpen());
  EXPECT_EQ(first.Open("COM7"), EISCONN);
  first.Close();
  EXPECT_EQ(second.Open("COM7"), 0);
}

TEST_F(SerialPortTest, MissingPortsReportFileNotFound) {
  SerialPort port;
  EXPECT_EQ(port.Open("COM9"), ENOENT);  // no alias in the map directory
  fs::create_symlink("/dev/pts/999999", dir_ / "COM8");
  EXPECT_EQ(port.Open("COM8"), ENOENT);  // alias of a device that is gone
  EXPECT_FALSE(port.IsOpen());
  char buf[4];
  EXPECT_EQ(port.Read(buf, sizeof buf), -1);
  EXPECT_EQ(port.Write("x", 1), 0u);
  EXPECT_EQ(port.WaitReadable(10ms), WaitResult::Closed);
}

TEST_F(SerialPortTest, CloseFromAnotherThreadEndsABlockedWaitAtOnce) {
  SerialPort port;
  ASSERT_EQ(port.Open("COM7"), 0);
  std::atomic<bool> returned{false};
  WaitResult result = WaitResult::Readable;
  fiscal_test::ScopedThreads reader([&] { port.Close(); });
  reader.Start([&] {
    result = port.WaitReadable(kInfinite);
    returned = true;
  });
  std::this_thread::sleep_for(100ms);
  ASSERT_FALSE(returned.load());
  const auto closeStart = Clock::now();
  port.Close();
  reader.Join();
  // The wait had no limit: only the close can have ended it. The bound only keeps a slow
  // machine from failing it.
  EXPECT_LT(Clock::now() - closeStart, 5s);
  EXPECT_EQ(result, WaitResult::Closed);
  EXPECT_FALSE(port.IsOpen());
  port.Close();  // a second close does nothing
}

TEST_F(SerialPortTest, CloseEndsAWriteStuckOnAFullQueue) {
  SerialPort port;
  ASSERT_EQ(port.Open("COM7"), 0);
  const std::vector<char> big(1 << 20, 'x');  // far more than the pty buffers; nobody reads it
  size_t written = big.size();
  fiscal_test::ScopedThreads writer([&] { port.Close(); });
  writer.Start([&] { written = port.Write(big.data(), big.size()); });
  // Once bytes reach the other side the writer is under way, and it cannot finish.
  pollfd p{master_, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 30000), 1) << "the writer never began";
  port.Close();
  writer.Join();
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, big.size());
}

TEST_F(SerialPortTest, WriteTimeOutOnAFullQueue) {
  SerialPort port;
  ASSERT_EQ(port.Open("COM7"), 0);
  const std::vector<char> big(1 << 20, 'x');
  const auto start = Clock::now();
  const size_t written = port.Write(big.data(), big.size(), 50ms);
  EXPECT_LT(written, big.size());
  EXPECT_GE(Clock::now() - start, 50ms);
}

TEST_F(SerialPortTest, VanishedDeviceIsReportedNotSpunOn) {
  SerialPort port;
  ASSERT_EQ(port.Open("COM7"), 0);
  ::close(master_);
  master_ = -1;
  EXPECT_EQ(port.WaitReadable(1s), WaitResult::Failed);
  EXPECT_EQ(port.WaitReadable(1s), WaitResult::Failed);
  char buf[8];
  EXPECT_EQ(port.Read(buf, sizeof buf), -1);
}

TEST_F(SerialPortTest, PurgeDropsUnreadInput) {
  SerialPort port;
  ASSERT_EQ(port.Open("COM7"), 0);
  ASSERT_EQ(::write(master_, "stale", 5), 5);
  // The terminal may hand the bytes over in steps; readable means only that the first came.
  fiscal_test::WaitFor([&port] { return port.Available() >= 5u; });
  EXPECT_EQ(port.Available(), 5u);
  EXPECT_EQ(port.Purge(), 0);
  EXPECT_EQ(port.Available(), 0u);
  ASSERT_EQ(::write(master_, "new", 3), 3);
  EXPECT_EQ(ReadPort(port, 3), "new");
}

}  // namespace
}  // namespace platform
