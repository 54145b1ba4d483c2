// fiscal-hub against fiscal-sim: a Z report and cash whose outcome the hub never learnt are
// settled by what the device's own counters say, as the device writes them.
#include <httplib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "hub_program.h"
#include "wait_for.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace std::chrono_literals;

constexpr const char *kSerial = "SV000101";

class HubSettle : public fiscal_test::HubProgramTest {
 protected:
  HubSettle() : HubProgramTest("fiscal-hub-settle") {}

  // The status and the body; status 0 when the connection ended without an answer.
  std::pair<int, json> Post(const std::string &path, const std::string &body) {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(60, 0);
    const httplib::Result r = client.Post(path.c_str(), {{"Idempotency-Key", "settle-1"}}, body, "application/json");
    if (!r) return {0, json()};
    return {r->status, json::parse(r->body, nullptr, false)};
  }
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
      StopSims();
      for (const char *file : {"hub.sqlite", "hub.sqlite-wal", "hub.sqlite-shm", "COM7.json", "COM7.journal"}) {
        fs::remove(dir_ / file);
      }
      const std::string on = "on command " + std::to_string(c.cmd) + " once: ";
      StartSim("COM7", kSerial, on + (killHub ? "delay 1500\n" : "vanish 300\n"));
      StartHub({"COM7"});
      const std::string path = "/devices/" + std::string(kSerial) + c.path;
      if (killHub) {
        auto pending = std::async(std::launch::async, [&] { return Post(path, c.body).first; });
        ASSERT_TRUE(fiscal_test::WaitFor([&] { return Frames("COM7", c.cmd) >= 1; }));
        KillHub();
        EXPECT_EQ(pending.get(), 0);
        std::this_thread::sleep_for(1600ms);  // the device executes the command meanwhile
        StartHub({"COM7"});
      }
      const auto [status, settled] = Post(path, c.body);
      const json device = SimState("COM7");
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
      const int frames = Frames("COM7", c.cmd);
      EXPECT_EQ(Post(path, c.body).second, settled);
      EXPECT_EQ(Frames("COM7", c.cmd), frames);
    }
  }
}

}  // namespace
