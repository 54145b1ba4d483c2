// Tests that run fiscal-hub against fiscal-sim programs on pseudo-terminals: the devices, each
// with its own serial number and a journal of its line, and hubs whose records and output stay
// in the test's folder.
#pragma once

#include <signal.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "program_posix.h"
#include "sim_program_posix.h"
#include "wait_for.h"

namespace fiscal_test {

class HubProgramTest : public SimProgramTest {
 protected:
  explicit HubProgramTest(std::string prefix) : SimProgramTest(std::move(prefix)) {}

  void TearDown() override {
    hub_.reset();
    // What the hubs said (a sanitizer's report among it) explains a failure.
    if (HasFailure()) {
      for (int n = 1; n <= hubs_; ++n) std::cout << ReadFile(dir_ / ("hub" + std::to_string(n) + ".out"));
    }
    StopSims();
    SimProgramTest::TearDown();
  }

  // A device on `com` with its own serial number and a journal of its line; `faults` is a fault
  // script's text.
  void StartSim(const std::string &com, const std::string &serial, const std::string &faults = "") {
    std::ofstream(dir_ / (com + ".json"))
        << nlohmann::json{{"format", "fiscal-sim-state"}, {"version", 1}, {"serialNumber", serial}};
    std::vector<std::string> args = {"--state", (dir_ / (com + ".json")).string(), "--journal",
                                     (dir_ / (com + ".journal")).string()};
    if (!faults.empty()) {
      std::ofstream(dir_ / (com + ".faults")) << faults;
      args.insert(args.end(), {"--faults", (dir_ / (com + ".faults")).string()});
    }
    sims_[com] = StartSimProgram(com, args, dir_ / (com + ".out"));
  }

  // Ended as a person ends them, so that each takes its COM alias away.
  void StopSims() {
    for (auto &[com, sim] : sims_) {
      sim->Signal(SIGTERM);
      EXPECT_EQ(sim->Wait(kPatience), 0) << com;
    }
    sims_.clear();
  }

  // The hub on the given ports, with its record in this test's folder; waits until it has
  // looked at every port.
  void StartHub(const std::vector<std::string> &ports, std::vector<std::string> extra = {}) {
    hub_ = LaunchHub(ports, "hub.sqlite", std::move(extra), &port_);
  }

  // A hub with its record in `database` of this test's folder, its HTTP port in `port`; any
  // number of them may run at once, each on ports of its own.
  std::unique_ptr<Program> LaunchHub(const std::vector<std::string> &ports, const std::string &database,
                                     std::vector<std::string> extra, int *port) {
    std::vector<std::string> args = {
        FISCAL_HUB_PATH, "--listen", "127.0.0.1:0", "--database", (dir_ / database).string(), "--answer-wait", "30"};
    for (const std::string &p : ports) args.insert(args.end(), {"--port", p});
    args.insert(args.end(), extra.begin(), extra.end());
    const std::filesystem::path out = dir_ / ("hub" + std::to_string(++hubs_) + ".out");
    auto hub = std::make_unique<Program>(args, out);
    *port = 0;
    EXPECT_TRUE(WaitFor([&] { return ReadFile(out).find("fiscal-hub: ready\n") != std::string::npos; },
                        std::chrono::seconds(60)))
        << ReadFile(out);
    const std::string text = ReadFile(out);
    const std::string prefix = "listening on http://127.0.0.1:";
    const size_t at = text.find(prefix);
    if (at != std::string::npos) *port = std::atoi(text.c_str() + at + prefix.size());
    EXPECT_GT(*port, 0) << text;
    return hub;
  }

  void KillHub() {
    hub_->Signal(SIGKILL);
    hub_->Wait(kPatience);
  }

  // The device's memory as its state file holds it after the last command.
  nlohmann::json SimState(const std::string &com) {
    return nlohmann::json::parse(ReadFile(dir_ / (com + ".json")), nullptr, false);
  }

  // The frames of command `cmd` the device received (every frame for -1).
  int Frames(const std::string &com, int cmd = -1) {
    std::istringstream lines(ReadFile(dir_ / (com + ".journal")));
    int n = 0;
    for (std::string line; std::getline(lines, line);) {
      const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
      if (j.is_object() && j.value("dir", "") == "in" && (cmd < 0 || j.value("cmd", -1) == cmd)) ++n;
    }
    return n;
  }

  std::map<std::string, std::unique_ptr<Program>> sims_;
  std::unique_ptr<Program> hub_;
  std::atomic<int> hubs_ = 0;  // hubs started, each with its output in hub<n>.out
  int port_ = 0;
};

}  // namespace fiscal_test
