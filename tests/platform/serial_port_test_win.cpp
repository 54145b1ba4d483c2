#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_port.h"
#include "scoped_threads.h"
#include "wait_for.h"

namespace platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The serial link engine's and the transport's time-outs, as they set them.
constexpr PortTimeouts kLinkTimeouts{kNoReadInterval, 0, 1000, 2, 1000};
constexpr PortTimeouts kTransportTimeouts{1000, 1, 1000, 2, 1000};

const std::string kAwkwardBytes("\x01\x24\x20\x21\x05\x30\x30\x36\x3A\x03\r\n\x11\x13\x7F\xFF\x00\x1A", 18);

bool UnderWine() {
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

double ProcessCpuSeconds() {
  FILETIME created, exited, kernel, user;
  if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  auto value = [](const FILETIME &f) { return (static_cast<ULONGLONG>(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
  return static_cast<double>(value(kernel) + value(user)) / 1e7;
}

// Runs against two COM ports linked to each other (on Linux under wine: a socat pty pair mapped
// to, say, COM5 and COM6 in the wine prefix), named by FISCAL_TEST_COM_A and FISCAL_TEST_COM_B.
class SerialPortWinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char *a = std::getenv("FISCAL_TEST_COM_A");
    const char *b = std::getenv("FISCAL_TEST_COM_B");
    if (a == nullptr || b == nullptr || *a == '\0' || *b == '\0') {
      GTEST_SKIP() << "set FISCAL_TEST_COM_A and FISCAL_TEST_COM_B to two linked COM ports to run this";
    }
    nameA_ = a;
    nameB_ = b;
  }

  void OpenBoth(const PortTimeouts &timeouts) {
    ASSERT_EQ(a_.Open(nameA_), 0) << nameA_;
    ASSERT_EQ(b_.Open(nameB_), 0) << nameB_;
    for (SerialPort *p : {&a_, &b_}) {
      ASSERT_EQ(p->Configure({115200, 8, 0, 0}), 0);
      ASSERT_EQ(p->SetQueueSizes(4096, 4096), 0);
      ASSERT_EQ(p->SetTimeouts(timeouts), 0);
    }
  }

  static std::string ReadPort(SerialPort &port, size_t n, Clock::duration limit = 5s) {
    std::string got;
    const auto deadline = Clock::now() + limit;
    while (got.size() < n && Clock::now() < deadline) {
      if (port.WaitReadable(100ms) != WaitResult::Readable) continue;
      char buf[256];
      const ptrdiff_t r = port.Read(buf, sizeof buf);
      if (r < 0) break;
      got.append(buf, static_cast<size_t>(r));
    }
    return got;
  }

  std::string nameA_, nameB_;
  SerialPort a_, b_;
};

TEST_F(SerialPortWinTest, BytesPassUnchangedBothWays) {
  for (const PortTimeouts &timeouts : {kLinkTimeouts, kTransportTimeouts}) {
    OpenBoth(timeouts);
    EXPECT_EQ(a_.Path(), nameA_);
    char none[4];
    EXPECT_EQ(a_.WaitReadable(0ms), WaitResult::TimedOut);
    EXPECT_EQ(a_.Read(none, sizeof none), 0);
    EXPECT_EQ(a_.Write(kAwkwardBytes.data(), kAwkwardBytes.size(), 5s), kAwkwardBytes.size());
    EXPECT_EQ(ReadPort(b_, kAwkwardBytes.size()), kAwkwardBytes);
    EXPECT_EQ(b_.Write(kAwkwardBytes.data(), kAwkwardBytes.size(), 5s), kAwkwardBytes.size());
    EXPECT_EQ(ReadPort(a_, kAwkwardBytes.size()), kAwkwardBytes);
    EXPECT_EQ(a_.Available(), 0u);
    a_.Close();
    b_.Close();
  }
}

// Bursts with pauses between them: the waits in between may settle on either wait strategy, and
// a byte a wait holds back must come out in its place.
TEST_F(SerialPortWinTest, BurstsWithPausesArriveCompleteAndInOrder) {
  OpenBoth(kLinkTimeouts);
  std::string sent;
  for (int i = 0; i < 40; ++i) sent += static_cast<char>(i * 7);
  fiscal_test::ScopedThreads sender;
  sender.Start([&] {
    for (size_t i = 0; i < sent.size(); i += 5) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10 + 15 * (i % 3)));
      b_.Write(sent.data() + i, 5, 5s);
    }
  });
  std::string got;
  const auto deadline = Clock::now() + 10s;
  while (got.size() < sent.size() && Clock::now() < deadline) {
    if (a_.WaitReadable(1s) != WaitResult::Readable) continue;
    EXPECT_GT(a_.Available(), 0u);
    char one[2];  // small reads, so a held byte and queued bytes meet in one Read
    const ptrdiff_t r = a_.Read(one, sizeof one);
    ASSERT_GE(r, 0);
    got.append(one, static_cast<size_t>(r));
  }
  sender.Join();
  EXPECT_EQ(got, sent);
}

TEST_F(SerialPortWinTest, WaitTimesOutThenSeesInput) {
  OpenBoth(kTransportTimeouts);
  const auto start = Clock::now();
  EXPECT_EQ(a_.WaitReadable(200ms), WaitResult::TimedOut);
  EXPECT_GE(Clock::now() - start, 190ms);

  std::thread sender([&] {
    std::this_thread::sleep_for(100ms);
    b_.Write("z", 1, 5s);
  });
  EXPECT_EQ(a_.WaitReadable(5s), WaitResult::Readable);
  sender.join();
  EXPECT_EQ(a_.Available(), 1u);
  char c = 0;
  EXPECT_EQ(a_.Read(&c, 1), 1);
  EXPECT_EQ(c, 'z');
  EXPECT_EQ(a_.Available(), 0u);
  EXPECT_EQ(a_.WaitReadable(50ms), WaitResult::TimedOut);
}

TEST_F(SerialPortWinTest, IdleWaitingDoesNotSpin) {
  // The callers' time-outs, none at all, and two under which a read ends within milliseconds.
  for (const PortTimeouts &timeouts : {kLinkTimeouts, kTransportTimeouts, PortTimeouts{},
                                       PortTimeouts{kNoReadInterval, kNoReadInterval, 1, 0, 0},
                                       PortTimeouts{50, 0, 10, 0, 0}}) {
    OpenBoth(timeouts);
    const double cpuBefore = ProcessCpuSeconds();
    const auto until = Clock::now() + 1200ms;
    int waits = 0;
    while (Clock::now() < until) {
      EXPECT_EQ(a_.WaitReadable(300ms), WaitResult::TimedOut);
      ++waits;
    }
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    EXPECT_LE(waits, 6);
    EXPECT_LT(cpu, 0.3) << "CPU seconds spent idle-waiting for 1.2 s";
    a_.Close();
    b_.Close();
  }
}

TEST_F(SerialPortWinTest, CloseFromAnotherThreadEndsAWaitAndAWrite) {
  OpenBoth(kLinkTimeouts);
  std::atomic<bool> returned{false};
  WaitResult result = WaitResult::Readable;
  std::thread waiter([&] {
    result = a_.WaitReadable(kInfinite);
    returned = true;
  });
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(returned.load());
  auto closeStart = Clock::now();
  a_.Close();
  waiter.join();
  EXPECT_LT(Clock::now() - closeStart, 1s);
  EXPECT_EQ(result, WaitResult::Closed);
  EXPECT_FALSE(a_.IsOpen());
  a_.Close();  // a second close does nothing

  // Nobody reads the other end, so the write stops on full queues.
  ASSERT_EQ(a_.Open(nameA_), 0);
  const std::vector<char> big(1 << 20, 'x');
  size_t written = big.size();
  fiscal_test::ScopedThreads writer;
  writer.Start([&] { written = a_.Write(big.data(), big.size()); });
  std::this_thread::sleep_for(300ms);
  closeStart = Clock::now();
  a_.Close();
  writer.Join();
  EXPECT_LT(Clock::now() - closeStart, 2s);
  EXPECT_LT(written, big.size());
}

TEST_F(SerialPortWinTest, WriteTimeOutOnFullQueues) {
  OpenBoth(PortTimeouts{});
  const std::vector<char> big(1 << 20, 'x');
  const auto start = Clock::now();
  EXPECT_LT(a_.Write(big.data(), big.size(), 100ms), big.size());
  EXPECT_GE(Clock::now() - start, 90ms);
  EXPECT_LT(Clock::now() - start, 3s);
}

TEST_F(SerialPortWinTest, MissingPortAndClosedPortCalls) {
  SerialPort port;
  EXPECT_EQ(port.Open("COM99"), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(port.IsOpen());
  char buf[4];
  EXPECT_EQ(port.Read(buf, sizeof buf), -1);
  EXPECT_EQ(port.Write("x", 1), 0u);
  EXPECT_EQ(port.WaitReadable(10ms), WaitResult::Closed);
  EXPECT_NE(port.Configure({115200, 8, 0, 0}), 0);
  EXPECT_NE(port.SetTimeouts(kLinkTimeouts), 0);
}

TEST_F(SerialPortWinTest, OpenIsExclusive) {
  ASSERT_EQ(a_.Open(nameA_), 0);
  EXPECT_EQ(a_.Open(nameA_), ERROR_ALREADY_INITIALIZED);
  if (UnderWine()) GTEST_SKIP() << "wine does not refuse a second open of a COM port";
  SerialPort second;
  EXPECT_EQ(second.Open(nameA_), ERROR_ACCESS_DENIED);
  a_.Close();
  EXPECT_EQ(second.Open(nameA_), 0);
}

TEST_F(SerialPortWinTest, SettingsOutOfRangeAreRefusedAndModemLinesMayFail) {
  OpenBoth(kLinkTimeouts);
  for (const LineSettings &bad : {LineSettings{115200, 4, 0, 0}, LineSettings{115200, 9, 0, 0},
                                  LineSettings{115200, 8, 5, 0}, LineSettings{115200, 8, 0, 3},
                                  LineSettings{0, 8, 0, 0}}) {
    EXPECT_EQ(a_.Configure(bad), ERROR_INVALID_PARAMETER);
  }
  EXPECT_EQ(a_.Configure({9600, 7, 2, 2}), 0);
  EXPECT_EQ(a_.Configure({115200, 8, 0, 0}), 0);
  // Pseudo-terminals under wine have no modem lines: whatever these return, the port goes on.
  a_.SetDtr(true);
  a_.SetRts(true);
  a_.SetDtr(false);
  a_.SetRts(false);
  EXPECT_EQ(b_.Write("ok", 2, 5s), 2u);
  EXPECT_EQ(ReadPort(a_, 2), "ok");
}

TEST_F(SerialPortWinTest, PurgeDropsUnreadInput) {
  OpenBoth(kLinkTimeouts);
  ASSERT_EQ(b_.Write("stale", 5, 5s), 5u);
  fiscal_test::WaitFor([this] {
    if (a_.Available() >= 5) return true;
    a_.WaitReadable(100ms);  // readable already with the first byte
    return false;
  });
  ASSERT_EQ(a_.Available(), 5u);
  EXPECT_EQ(a_.Purge(), 0);
  EXPECT_EQ(a_.Available(), 0u);
  ASSERT_EQ(b_.Write("new", 3, 5s), 3u);
  EXPECT_EQ(ReadPort(a_, 3), "new");
}

// As the link engine closes: purge while the receive thread waits, which must not read the
// purge as a failure nor lose what comes afterwards.
TEST_F(SerialPortWinTest, PurgeWhileAnotherThreadWaits) {
  OpenBoth(kLinkTimeouts);
  std::string got;
  std::atomic<bool> failed{false}, done{false};
  fiscal_test::ScopedThreads reader([&] { a_.Close(); });
  reader.Start([&] {
    while (!done) {
      const WaitResult r = a_.WaitReadable(kInfinite);
      if (r == WaitResult::Closed) return;
      if (r != WaitResult::Readable) {
        failed = true;
        return;
      }
      char buf[16];
      const ptrdiff_t n = a_.Read(buf, sizeof buf);
      if (n < 0) {
        failed = true;
        return;
      }
      got.append(buf, static_cast<size_t>(n));
      done = got.size() >= 3;
    }
  });
  std::this_thread::sleep_for(200ms);  // long enough for the wait to settle on its strategy
  EXPECT_EQ(a_.Purge(), 0);
  ASSERT_EQ(b_.Write("new", 3, 5s), 3u);
  fiscal_test::WaitFor([&] { return done || failed; });
  a_.Close();
  reader.Join();
  EXPECT_FALSE(failed.load());
  EXPECT_EQ(got, "new");
}

TEST_F(SerialPortWinTest, LargeTransfersBothWaysAtOnce) {
  OpenBoth(kLinkTimeouts);
  std::string toB(48 * 1024, '\0'), toA(48 * 1024, '\0');
  for (size_t i = 0; i < toB.size(); ++i) {
    toB[i] = static_cast<char>(i * 31 + 7);
    toA[i] = static_cast<char>(i * 17 + 3);
  }
  // An idle spell first, so that the waits have settled on their strategy (under wine: reads).
  EXPECT_EQ(a_.WaitReadable(100ms), WaitResult::TimedOut);
  EXPECT_EQ(b_.WaitReadable(100ms), WaitResult::TimedOut);
  std::string atA, atB;
  std::thread readA([&] { atA = ReadPort(a_, toA.size(), 20s); });
  std::thread readB([&] { atB = ReadPort(b_, toB.size(), 20s); });
  size_t wroteB = 0;
  std::thread writeB([&] { wroteB = b_.Write(toA.data(), toA.size(), 20s); });
  EXPECT_EQ(a_.Write(toB.data(), toB.size(), 20s), toB.size());
  writeB.join();
  readA.join();
  readB.join();
  EXPECT_EQ(wroteB, toA.size());
  EXPECT_TRUE(atA == toA) << "A received " << atA.size() << " of " << toA.size() << " bytes";
  EXPECT_TRUE(atB == toB) << "B received " << atB.size() << " of " << toB.size() << " bytes";
}

}  // namespace
}  // namespace platform
