// Tests that run the fiscal-sim program: a private folder per test that is also the port alias
// directory (FISCAL_COM_DIR), so that COMn names reach only this test's simulators.
#pragma once

#include <stdlib.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "program_posix.h"
#include "stored_png.h"
#include "wait_for.h"

namespace fiscal_test {

class SimProgramTest : public ::testing::Test {
 protected:
  // `prefix` names the folder in /tmp, so that one left behind tells whose it was.
  explicit SimProgramTest(std::string prefix = "fiscal-sim-test") : prefix_(std::move(prefix)) {}

  void SetUp() override {
    std::string pattern = "/tmp/" + prefix_ + "-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    ::setenv("FISCAL_COM_DIR", dir_.c_str(), 1);
  }
  // A subclass ends its programs first: they may still use the folder.
  void TearDown() override {
    ::unsetenv("FISCAL_COM_DIR");
    std::filesystem::remove_all(dir_);
  }

  // fiscal-sim serving `com` (then `args`), its output in `out`; returns once it prints that it
  // serves, or with a test failure and what it said.
  std::unique_ptr<Program> StartSimProgram(const std::string &com, const std::vector<std::string> &args,
                                           const std::filesystem::path &out) {
    std::vector<std::string> all = {FISCAL_SIM_PATH, "--com", com};
    all.insert(all.end(), args.begin(), args.end());
    auto sim = std::make_unique<Program>(all, out);
    const std::string serving = "fiscal-sim: " + com + " -> ";
    EXPECT_TRUE(WaitFor([&] {
      const std::string text = ReadFile(out);
      const size_t at = text.find(serving);
      return at != std::string::npos && text.find('\n', at) != std::string::npos;
    })) << ReadFile(out);
    return sim;
  }

  std::filesystem::path dir_;

 private:
  std::string prefix_;
};

}  // namespace fiscal_test
