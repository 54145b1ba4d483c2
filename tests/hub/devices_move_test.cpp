// Devices that vanish, come back and turn up on other ports: the lines are fakes on a table of
// ports, each answering command 90 with the serial of the device plugged in there.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

#include <gtest/gtest.h>

#include "devices.h"
#include "hub_test_line.h"

namespace hub {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

// The ports of a machine: which device answers on each, and which ports exist at all.
struct Machine {
  std::mutex mutex;
  std::condition_variable changed;
  std::map<std::string, std::string> serialOn;  // port -> serial answering there
  std::set<std::string> present;                // ports whose node exists
  std::vector<std::string> calls;               // "port op", in order
  std::set<int> closed;                         // lines destroyed, by number
  bool holdSteps = false;                       // TestPrinter waits until released
  int holding = 0;

  void Plug(const std::string &port, const std::string &serial) {
    std::lock_guard lock(mutex);
    serialOn[port] = serial;
    present.insert(port);
  }
  void Unplug(const std::string &port) {
    std::lock_guard lock(mutex);
    serialOn.erase(port);
    present.erase(port);
  }
  std::vector<std::string> Calls() {
    std::lock_guard lock(mutex);
    return calls;
  }
  void HoldSteps(bool hold) {
    std::lock_guard lock(mutex);
    holdSteps = hold;
    changed.notify_all();
  }
  // Until a held step is on the line.
  bool AwaitHeldStep() {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), [&] { return holding == 1; });
  }
};

class FakeLine : public DevicePort {
 public:
  FakeLine(Machine &machine, std::string port, int number)
      : machine_(machine), port_(std::move(port)), number_(number) {}
  ~FakeLine() override {
    std::lock_guard lock(machine_.mutex);
    machine_.closed.insert(number_);
  }
  CallResult Call(std::string_view op, const json &) override {
    std::unique_lock lock(machine_.mutex);
    machine_.calls.push_back(port_ + " " + std::string(op));
    machine_.changed.notify_all();
    if (op == "TestPrinter" && machine_.holdSteps) {
      ++machine_.holding;
      machine_.changed.notify_all();
      machine_.changed.wait(lock, [&] { return !machine_.holdSteps; });
    }
    const auto it = machine_.serialOn.find(port_);
    if (it == machine_.serialOn.end()) return CallResult{kNoResponse, json::object(), ""};
    CallResult r{kSuccess, json::object(), "808080808080"};
    if (op == "GetDiagnosticInfo") r.out["text"] = "1.0,01Jan26,ABCD,00," + it->second + ",FM1";
    if (op == "GetDocNumber") r.out["text"] = "17";
    if (op == "GetBonInfo") r.out["text"] = "0,0,0.00";
    return r;
  }

 private:
  Machine &machine_;
  const std::string port_;
  const int number_;
};

Document Command(const std::string &key, int steps = 1) {
  Document d{DocumentKind::Command, key, json::object(), {}};
  for (int i = 0; i < steps; ++i) d.steps.push_back({"TestPrinter", json::array({90, ""})});
  return d;
}

class DevicesMoveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    record_ = std::make_unique<test::TempRecord>();
    ASSERT_TRUE(record_->ok());
    DevicesOptions options;
    options.portPresent = [this](const std::string &port) {
      std::lock_guard lock(machine_.mutex);
      return machine_.present.count(port) != 0;
    };
    options.moveWait = 10s;
    devices_ = std::make_unique<Devices>(
        [this](const std::string &port) { return std::make_unique<FakeLine>(machine_, port, lines_++); },
        record_->store(), text_, options);
  }
  void TearDown() override {
    devices_.reset();
    record_.reset();
  }
  ScanResult ScanOne(const std::string &port) {
    const std::vector<ScanResult> found = devices_->Scan({port});
    EXPECT_EQ(found.size(), 1u);
    return found.empty() ? ScanResult{} : found[0];
  }
  DocState Settle(Device &device, const std::string &key) {
    const std::optional<DocumentRecord> record = device.WaitSettled(key, 10s);
    return record ? record->state : DocState::NeedsAttention;
  }

  Machine machine_;
  std::atomic<int> lines_{0};
  std::unique_ptr<test::TempRecord> record_;
  const DeviceText text_;
  std::unique_ptr<Devices> devices_;
};

TEST_F(DevicesMoveTest, AKnownSerialOnAnotherPortMovesOnlyWhenItsOldLineIsLost) {
  struct Case {
    const char *name;
    bool oldPresent;        // the old port's node still exists
    const char *oldSerial;  // who answers on it now; null: nobody
    bool moves;
    const char *note;
  };
  const Case cases[] = {
      {"the old port is gone", false, nullptr, true, "device SV1 moved here from /dev/ttyACM0"},
      {"the old port is there but silent", true, nullptr, true, "device SV1 moved here from /dev/ttyACM0"},
      {"another device answers on the old port", true, "SV2", true, "device SV1 moved here from /dev/ttyACM0"},
      {"the device still answers on the old port", true, "SV1", false, "device SV1 is already served on /dev/ttyACM0"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    machine_.serialOn.clear();
    machine_.present.clear();
    machine_.closed.clear();
    lines_ = 0;
    SetUp();
    machine_.Plug("/dev/ttyACM0", "SV1");
    ASSERT_EQ(ScanOne("/dev/ttyACM0").serial, "SV1");  // line 0
    Device *device = devices_->Find("SV1");
    ASSERT_NE(device, nullptr);

    machine_.Unplug("/dev/ttyACM0");
    if (c.oldPresent) machine_.present.insert("/dev/ttyACM0");
    if (c.oldSerial != nullptr) machine_.serialOn["/dev/ttyACM0"] = c.oldSerial;
    machine_.Plug("/dev/ttyACM1", "SV1");
    const ScanResult moved = ScanOne("/dev/ttyACM1");  // line 1
    EXPECT_EQ(moved.note, c.note);
    EXPECT_EQ(moved.serial, c.moves ? "SV1" : "");
    EXPECT_EQ(device->Identity().port, c.moves ? "/dev/ttyACM1" : "/dev/ttyACM0");
    EXPECT_EQ(device->State(), "ready");
    // The next document goes through the line kept; the other one is closed by then.
    ASSERT_EQ(device->Admit(Command("k-" + std::string(c.name)), nullptr), Device::Admitted::Queued);
    EXPECT_EQ(Settle(*device, "k-" + std::string(c.name)), DocState::Registered);
    EXPECT_EQ(machine_.Calls().back(), std::string(c.moves ? "/dev/ttyACM1" : "/dev/ttyACM0") + " TestPrinter");
    std::lock_guard lock(machine_.mutex);
    EXPECT_EQ(machine_.closed, std::set<int>{c.moves ? 0 : 1});
  }
}

TEST_F(DevicesMoveTest, AnAbsentDeviceKeepsItsDocumentsQueuedUntilItIsBack) {
  machine_.Plug("/dev/ttyACM0", "SV1");
  ASSERT_EQ(ScanOne("/dev/ttyACM0").serial, "SV1");
  Device *device = devices_->Find("SV1");
  ASSERT_NE(device, nullptr);

  machine_.Unplug("/dev/ttyACM0");
  devices_->PortsGone({"/dev/ttyACM0"});
  EXPECT_EQ(device->State(), "absent");
  const size_t callsBefore = machine_.Calls().size();
  ASSERT_EQ(device->Admit(Command("k1"), nullptr), Device::Admitted::Queued);
  // Answered "in progress" after the wait, with nothing sent meanwhile.
  const std::optional<DocumentRecord> waiting = device->WaitSettled("k1", 200ms);
  ASSERT_TRUE(waiting);
  EXPECT_EQ(waiting->state, DocState::InProgress);
  EXPECT_EQ(device->QueueLength(), 1u);
  EXPECT_EQ(machine_.Calls().size(), callsBefore);

  // A scan while it is still missing finds nothing and leaves it absent.
  const ScanResult none = ScanOne("/dev/ttyACM0");
  EXPECT_EQ(none.serial, "");
  EXPECT_EQ(device->State(), "absent");

  // Plugged in again, renumbered: the scan moves it, and the queued document goes out there.
  machine_.Plug("/dev/ttyACM1", "SV1");
  EXPECT_EQ(ScanOne("/dev/ttyACM1").note, "device SV1 moved here from /dev/ttyACM0");
  EXPECT_EQ(Settle(*device, "k1"), DocState::Registered);
  EXPECT_EQ(machine_.Calls().back(), "/dev/ttyACM1 TestPrinter");
  EXPECT_NE(device->State(), "absent");  // "working" until the thread has seen the end of it
}

TEST_F(DevicesMoveTest, ADeviceBackUnderItsOldNameKeepsItsLine) {
  machine_.Plug("/dev/ttyACM0", "SV1");
  ASSERT_EQ(ScanOne("/dev/ttyACM0").serial, "SV1");
  Device *device = devices_->Find("SV1");
  machine_.Unplug("/dev/ttyACM0");
  devices_->PortsGone({"/dev/ttyACM0"});
  ASSERT_EQ(device->Admit(Command("k1"), nullptr), Device::Admitted::Queued);
  machine_.Plug("/dev/ttyACM0", "SV1");
  // Its port is in use again, so the scan does not open it a second time.
  EXPECT_TRUE(devices_->Scan({"/dev/ttyACM0"}).empty());
  EXPECT_EQ(Settle(*device, "k1"), DocState::Registered);
  std::lock_guard lock(machine_.mutex);
  EXPECT_TRUE(machine_.closed.empty());
}

TEST_F(DevicesMoveTest, ADeviceMovesBetweenDocumentsNeverInTheMiddleOfOne) {
  machine_.Plug("/dev/ttyACM0", "SV1");
  ASSERT_EQ(ScanOne("/dev/ttyACM0").serial, "SV1");
  Device *device = devices_->Find("SV1");
  machine_.HoldSteps(true);
  ASSERT_EQ(device->Admit(Command("k1", 2), nullptr), Device::Admitted::Queued);
  ASSERT_TRUE(machine_.AwaitHeldStep());
  {
    // The old node is gone while the document's first step is on the line.
    std::lock_guard lock(machine_.mutex);
    machine_.present.erase("/dev/ttyACM0");
    machine_.serialOn["/dev/ttyACM1"] = "SV1";
    machine_.present.insert("/dev/ttyACM1");
  }
  // The step is let go once the new port was probed: the device learns of the move mid-document.
  std::thread release([&] {
    std::unique_lock lock(machine_.mutex);
    machine_.changed.wait_for(lock, 10s, [&] {
      return std::find(machine_.calls.begin(), machine_.calls.end(), "/dev/ttyACM1 GetDiagnosticInfo") !=
             machine_.calls.end();
    });
    machine_.holdSteps = false;
    machine_.changed.notify_all();
  });
  const ScanResult moved = ScanOne("/dev/ttyACM1");
  release.join();
  EXPECT_EQ(moved.note, "device SV1 moved here from /dev/ttyACM0");
  EXPECT_EQ(Settle(*device, "k1"), DocState::Registered);
  // Both steps went through the old line; the probe of the new port was the only call there.
  std::vector<std::string> steps;
  for (const std::string &call : machine_.Calls()) {
    if (call.find("TestPrinter") != std::string::npos || call.rfind("/dev/ttyACM1", 0) == 0) steps.push_back(call);
  }
  EXPECT_EQ(steps, (std::vector<std::string>{"/dev/ttyACM0 TestPrinter", "/dev/ttyACM1 GetDiagnosticInfo",
                                             "/dev/ttyACM0 TestPrinter"}));
}

TEST_F(DevicesMoveTest, StoppingEndsAScanWaitingOnAMoveDecision) {
  machine_.Plug("/dev/ttyACM0", "SV1");
  ASSERT_EQ(ScanOne("/dev/ttyACM0").serial, "SV1");
  Device *device = devices_->Find("SV1");
  machine_.HoldSteps(true);
  ASSERT_EQ(device->Admit(Command("k1"), nullptr), Device::Admitted::Queued);
  ASSERT_TRUE(machine_.AwaitHeldStep());
  // Also answering on a second port: the scan waits for the device to be between documents.
  machine_.Plug("/dev/ttyACM1", "SV1");
  machine_.Plug("/dev/ttyACM2", "SV2");
  std::vector<ScanResult> found;
  std::thread scan([&] { found = devices_->Scan({"/dev/ttyACM1", "/dev/ttyACM2"}); });
  {
    std::unique_lock lock(machine_.mutex);
    ASSERT_TRUE(machine_.changed.wait_for(lock, 10s, [&] {
      return std::count(machine_.calls.begin(), machine_.calls.end(), "/dev/ttyACM2 GetDiagnosticInfo") == 1;
    }));
  }
  const auto start = std::chrono::steady_clock::now();
  devices_->Stop();
  scan.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);  // the move wait is 10 s
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].note,
            "device SV1 answers here and is busy on /dev/ttyACM0: it moves here between its documents if it no "
            "longer answers there");
  // A device first seen while stopping is not taken on, and later scans probe nothing.
  EXPECT_EQ(found[1].note, "device SV2 is left alone: the hub is stopping");
  EXPECT_EQ(devices_->Find("SV2"), nullptr);
  const size_t calls = machine_.Calls().size();
  EXPECT_TRUE(devices_->Scan({"/dev/ttyACM3"}).empty());
  EXPECT_EQ(machine_.Calls().size(), calls);
  // The document on the line still finishes before the devices are gone.
  machine_.HoldSteps(false);
  devices_.reset();
  EXPECT_EQ(record_->store().Get("k1")->state, DocState::Registered);
}

TEST_F(DevicesMoveTest, AnOutcomeLostWithTheOldLineIsSettledThroughTheNewOne) {
  machine_.Plug("/dev/ttyACM0", "SV1");
  ASSERT_EQ(ScanOne("/dev/ttyACM0").serial, "SV1");
  Device *device = devices_->Find("SV1");
  machine_.HoldSteps(true);
  Document receipt{DocumentKind::Receipt, "r1", json::object(), {{"TestPrinter", json::array()}}};
  ASSERT_EQ(device->Admit(receipt, nullptr), Device::Admitted::Queued);
  // Unplugged while the step is on the line: it gets no answer.
  ASSERT_TRUE(machine_.AwaitHeldStep());
  machine_.Unplug("/dev/ttyACM0");
  machine_.HoldSteps(false);
  devices_->PortsGone({"/dev/ttyACM0"});
  EXPECT_EQ(device->WaitSettled("r1", 100ms)->state, DocState::InProgress);
  machine_.Plug("/dev/ttyACM3", "SV1");
  EXPECT_EQ(ScanOne("/dev/ttyACM3").note, "device SV1 moved here from /dev/ttyACM0");
  EXPECT_NE(Settle(*device, "r1"), DocState::InProgress);
  // The settlement asked the device on its new line.
  const std::vector<std::string> calls = machine_.Calls();
  EXPECT_EQ(calls.back().rfind("/dev/ttyACM3 ", 0), 0u) << calls.back();
}

}  // namespace
}  // namespace hub
