// fiscal-hub against fiscal-sim: a Z report and cash whose outcome the hub never learnt are
// settled by what the device's own counters say, as the device writes them.
#include <httplib.h>
#include <signal.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>

#include "program_posix.h"
#include "stored_png.h"
#include "wait_for.h"

namespace {

namespace fs = std::filesystem;
using fiscal_test::Program;
using nlohmann::json;
using namespace std::chrono_literals;

constexpr const char *kSerial = "SV000101";

class HubSettle : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/fiscal-hub-settle-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ::setenv("FISCAL_COM_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    hub_.reset();
    if (HasFailure()) {
      for (int n = 1; n <= hubs_; ++n) std::cout << fiscal_test::ReadFile(dir_ / ("hub" + std::to_string(n) + ".out"));
    }
    StopSim();
    ::unsetenv("FISCAL_COM_DIR");
    fs::remove_all(dir_);
  }

  void StartSim(const std::string &faults) {
    std::ofstream(dir_ / "faults") << faults;
    std::ofstream(dir_ / "COM7.json") << json{
        {"format", "fiscal-sim-state"}, {"version", 1}, {"serialNumber", kSerial}};
    const fs::path out = dir_ / "sim.out";
    sim_ = std::make_unique<Program>(
        std::vector<std::string>{FISCAL_SIM_PATH, "--com", "COM7", "--state", (dir_ / "COM7.json").string(),
                                 "--journal", (dir_ / "COM7.journal").string(), "--faults", (dir_ / "faults").string()},
        out);
    ASSERT_TRUE(fiscal_test::WaitFor([&] {
      const std::string text = fiscal_test::ReadFile(out);
      const size_t at = text.find("fiscal-sim: COM7 -> ");
      return at != std::string::npos && text.find('\n', at) != std::string::npos;
    })) << fiscal_test::ReadFile(out);
  }
  void StopSim() {
    if (!sim_) return;
    sim_->Signal(SIGTERM);
    EXPECT_EQ(sim_->Wait(fiscal_test::kPatience), 0);
    sim_.reset();
  }

  void StartHub() {
    const fs::path out = dir_ / ("hub" + std::to_string(++hubs_) + ".out");
    hub_ = std::make_unique<Program>(
        std::vector<std::string>{FISCAL_HUB_PATH, "--listen", "127.0.0.1:0", "--database",
                                 (dir_ / "hub.sqlite").string(), "--answer-wait", "30", "--port", "COM7"},
        out);
    ASSERT_TRUE(fiscal_test::WaitFor(
        [&] { return fiscal_test::ReadFile(out).find("fiscal-hub: ready\n") != std::string::npos; }, 60s))
        << fiscal_test::ReadFile(out);
    const std::string text = fiscal_test::ReadFile(out);
    const std::string prefix = "listening on http://127.0.0.1:";
    port_ = std::atoi(text.c_str() + text.find(prefix) + prefix.size());
    ASSERT_GT(port_, 0) << text;
  }

  // The status and the body; status 0 when the connection ended without an answer.
  std::pair<int, json> Post(const std::string &path, const std::string &body) {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(60, 0);
    const httplib::Result r = client.Post(path.c_str(), {{"Idempotency-Key", "settle-1"}}, body, "application/json");
    if (!r) return {0, json()};
    return {r->status, json::parse(r->body, nullptr, false)};
  }

  // The frames of command `cmd` the device received.
  int Frames(int cmd) {
    std::istringstream lines(fiscal_test::ReadFile(dir_ / "COM7.journal"));
    int n = 0;
    for (std::string line; std::getline(lines, line);) {
      const json j = json::parse(line, nullptr, false);
      if (j.is_object() && j.value("dir", "") == "in" && j.value("cmd", -1) == cmd) ++n;
    }
    return n;
  }

  json SimState() { return json::parse(fiscal_test::ReadFile(dir_ / "COM7.json"), nullptr, false); }

  fs::path dir_;
  std::unique_ptr<Program> sim_, hub_;
  int hubs_ = 0;
  int port_ = 0;
};

// Each document's command interrupted two ways: the hub killed while the device executes it
// (answered late), then started again; or the device vanishing instead of executing it. The
// document ends registered exactly when the device's memory shows it, and the same key again
// sends nothing.
TEST_F(HubSettle, AZReportAndCashEndAsTheDeviceCountedThem) {
  struct Case {
    const char *path;
    const char *body;
    int cmd;
    const char *member;  // in the device's memory
    int registered;      // its value once the document is registered
    json result;
  };
  const Case cases[] = {
      {"/reports", R"({"type": "Z"})", 0x45, "zReports", 1, {{"zReport", 1}}},
      {"/cash", R"({"amount": 12.50})", 0x46, "cashInCents", 1250, json::object()},
      {"/cash", R"({"amount": -3.00})", 0x46, "cashOutCents", 300, json::object()},
  };
  for (const Case &c : cases) {
    for (const bool killHub : {true, false}) {
      SCOPED_TRACE(std::string(c.body) + (killHub ? ", hub killed" : ", device vanished"));
      hub_.reset();
      StopSim();
      for (const char *file : {"hub.sqlite", "hub.sqlite-wal", "hub.sqlite-shm", "COM7.json", "COM7.journal"}) {
        fs::remove(dir_ / file);
      }
      const std::string on = "on command " + std::to_string(c.cmd) + " once: ";
      StartSim(on + (killHub ? "delay 1500\n" : "vanish 300\n"));
      StartHub();
      const std::string path = "/devices/" + std::string(kSerial) + c.path;
      if (killHub) {
        auto pending = std::async(std::launch::async, [&] { return Post(path, c.body).first; });
        ASSERT_TRUE(fiscal_test::WaitFor([&] { return Frames(c.cmd) >= 1; }));
        hub_->Signal(SIGKILL);
        hub_->Wait(fiscal_test::kPatience);
        EXPECT_EQ(pending.get(), 0);
        std::this_thread::sleep_for(1600ms);  // the device executes the command meanwhile
        StartHub();
      }
      const auto [status, settled] = Post(path, c.body);
      const json device = SimState();
      ASSERT_TRUE(device.is_object()) << device;
      if (killHub) {
        EXPECT_EQ(status, 200) << settled;
        EXPECT_EQ(settled["state"], "registered") << settled;
        EXPECT_EQ(settled["result"], c.result) << settled;
        EXPECT_EQ(device.value(c.member, 0), c.registered) << device;
      } else {
        EXPECT_EQ(status, 502) << settled;
        EXPECT_EQ(settled["state"], "not-registered") << settled;
        EXPECT_EQ(device.value(c.member, 0), 0) << device;
        EXPECT_EQ(settled["evidence"].value("counterNow", -1), 0) << settled;  // read, not assumed
      }
      const int frames = Frames(c.cmd);
      EXPECT_EQ(Post(path, c.body).second, settled);
      EXPECT_EQ(Frames(c.cmd), frames);
    }
  }
}

}  // namespace
