// A device on a COM port that the system names by a long path, that vanishes and that comes back
// under the same name: the protocol, and the exports as a host drives them.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "api/module.h"
#include "drivers/com_port_driver.h"
#include "fiscalsim/pty_link.h"
#include "fiscalsim/simulator.h"
#include "platform/trace.h"
#include "protocol/vrn_protocol.h"
#include "test_driver.h"
#include "vrn_interface.h"
#include "wait_for.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr uint16_t kImsi = 200;
constexpr const char *kImsiText = "284011234567890";

std::unique_ptr<fiscalsim::Simulator> StartSimulator() {
  auto sim = std::make_unique<fiscalsim::Simulator>(fiscalsim::OpenPtyLink());
  sim->Start();
  return sim;
}

using fiscal_test::WaitFor;

// A stable name for a port whose device node changes, as /dev/serial/by-id gives one.
class PortName {
 public:
  PortName() {
    dir_ = fs::temp_directory_path() / ("vrn-by-id-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    path_ = (dir_ / "usb-Fiscal_Device_Cash_Register_0123456789ABCDEF-if00-port0").string();
  }
  ~PortName() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  void PointTo(const std::string &target) const {
    std::error_code ignored;
    fs::remove(path_, ignored);
    fs::create_symlink(target, path_);
  }
  const std::string &Path() const { return path_; }

 private:
  fs::path dir_;
  std::string path_;
};

TEST(PortRecovery, ALongPortNameIsKeptWholeForTheReopenAfterATimeOut) {
  auto sim = StartSimulator();
  PortName name;
  name.PointTo(sim->PortName());
  ASSERT_GT(name.Path().size(), 63u);
  vrn::cVRNProtocol protocol(nullptr);
  ASSERT_TRUE(protocol.Start(name.Path().c_str()));
  sim->Faults().SilentFor(1);
  const vrn_test::Reply reply = vrn_test::Ask(protocol, kImsi, "");
  ASSERT_EQ(reply.result, 0);  // the time-out re-opened the same port and sent again
  EXPECT_EQ(reply.text, kImsiText);
  EXPECT_EQ(sim->ReceivedFrames().Size(), 2u);
  EXPECT_EQ(protocol.ComSupp().PortName(), name.Path());
}

TEST(PortRecovery, AVanishedPortFailsAtOnceAndIsUsedAgainWhenItComesBack) {
  PortName name;
  auto first = StartSimulator();
  name.PointTo(first->PortName());
  vrn::cVRNProtocol protocol(nullptr);
  ASSERT_TRUE(protocol.Start(name.Path().c_str()));
  ASSERT_EQ(vrn_test::Ask(protocol, kImsi, "").result, 0);

  first->ClosePort();
  ASSERT_TRUE(WaitFor([&] { return protocol.ComSupp().HungUp(); }));
  for (int i = 0; i < 2; ++i) {
    const auto start = Clock::now();
    EXPECT_EQ(vrn_test::Ask(protocol, kImsi, "").result, -1);
    EXPECT_LT(Clock::now() - start, 1s) << "request " << i << " while the port is gone";
  }

  auto second = StartSimulator();
  name.PointTo(second->PortName());
  const vrn_test::Reply back = vrn_test::Ask(protocol, kImsi, "");
  ASSERT_EQ(back.result, 0);
  EXPECT_EQ(back.text, kImsiText);
  EXPECT_EQ(second->ReceivedFrames().Size(), 1u);

  // Stopped, the protocol is done with the port: nothing opens it again.
  protocol.Stop();
  EXPECT_EQ(vrn_test::Ask(protocol, kImsi, "").result, -1);
  EXPECT_FALSE(protocol.IsComOpen());
}

// The device hangs up while a request waits for its reply: the request ends as the time-out's
// failed re-open would end it, without waiting out the time-out first.
TEST(PortRecovery, AHangUpDuringARequestEndsItAtOnce) {
  PortName name;
  auto sim = StartSimulator();
  name.PointTo(sim->PortName());
  vrn::cVRNProtocol protocol(nullptr);
  ASSERT_TRUE(protocol.Start(name.Path().c_str()));
  ASSERT_EQ(vrn_test::Ask(protocol, kImsi, "").result, 0);
  // The open port is kept; only a re-open would follow the name, and find nothing (a pty number
  // set free by the hang-up may be someone else's by then).
  name.PointTo(name.Path() + "-gone");

  sim->Faults().VanishOnNext();
  const auto start = Clock::now();
  EXPECT_EQ(vrn_test::Ask(protocol, kImsi, "").result, -1);
  EXPECT_LT(Clock::now() - start, vrn::cVRNProtocol::kComWaitLimit / 2);
  EXPECT_EQ(sim->ReceivedFrames().Size(), 2u);
  EXPECT_FALSE(protocol.IsComOpen());
}

TEST(PortRecovery, TheExportsFollowAPortThatVanishesAndComesBack) {
  vrn::DriverFactory comOnly;
  comOnly.makeComPortOnly = []() -> std::unique_ptr<vrn::iCOMDriver> { return std::make_unique<vrn::cComPortDriver>(); };
  vrn::CDllApp::Instance().InstallDriverFactory(comOnly);
  PortName name;
  auto first = StartSimulator();
  name.PointTo(first->PortName());
  char reply[VRN_REPLY_SIZE];
  uint8_t status[VRN_STATUS_SIZE];
  ASSERT_TRUE(vrn_init(name.Path().c_str()));
  ASSERT_EQ(vrn_request(kImsi, "", reply, status), 0);

  // Gone while a request waits: the hang-up's re-open fails and ends it, long before the
  // time-out would have.
  name.PointTo(name.Path() + "-gone");
  first->Faults().VanishOnNext();
  const auto start = Clock::now();
  EXPECT_EQ(vrn_request(kImsi, "", reply, status), -1);
  EXPECT_LT(Clock::now() - start, vrn::cVRNProtocol::kComWaitLimit / 2);
  EXPECT_EQ(vrn_test_connection(), 0);

  auto second = StartSimulator();
  name.PointTo(second->PortName());
  ASSERT_EQ(vrn_request(kImsi, "", reply, status), 0);
  EXPECT_STREQ(reply, kImsiText);
  EXPECT_EQ(vrn_test_connection(), 1);
  vrn_dispose();
  vrn::CDllApp::Instance().InstallDriverFactory({});
}

}  // namespace
