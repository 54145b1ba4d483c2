// fiscal-sim on a pseudo-terminal, reachable as COM7 through a private port alias directory, so
// that COM1..COM20 resolve to nothing else.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "fiscalsim/port_alias.h"
#include "fiscalsim/pty_link.h"
#include "fiscalsim/simulator.h"
#include "seriallink/link.h"

namespace tooltest {

class SimOnCom7 : public ::testing::Test {
 protected:
  void SetUp() override {
    char dirTemplate[] = "/tmp/tool-com-XXXXXX";
    ASSERT_NE(mkdtemp(dirTemplate), nullptr);
    dir_ = dirTemplate;
    setenv("FISCAL_COM_DIR", dir_.c_str(), 1);
    sim_ = std::make_unique<fiscalsim::Simulator>(fiscalsim::OpenPtyLink());
    sim_->Start();
    std::string error;
    alias_ = fiscalsim::PortAlias::Create("COM7", sim_->PortName(), &error);
    ASSERT_NE(alias_, nullptr) << error;
  }
  // The tool's serial link lets go of the port before the simulator behind it ends.
  void TearDown() override {
    seriallink::Disconnect();
    alias_.reset();
    if (sim_) sim_->Stop();
    sim_.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    unsetenv("FISCAL_COM_DIR");
  }

  fiscalsim::Simulator &Sim() { return *sim_; }

 private:
  std::string dir_;
  std::unique_ptr<fiscalsim::Simulator> sim_;
  std::unique_ptr<fiscalsim::PortAlias> alias_;
};

}  // namespace tooltest
