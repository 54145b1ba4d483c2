// What the library's tests share: the simulator (see sim_link.h for where it runs) with the
// library connected to it, and the frames it received.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "fiscalsim/simulator.h"
#include "sim_link.h"
#include "tallyport.h"

namespace tallyport::testing {

using namespace std::chrono_literals;

// A text out as callers pass it, filled with a mark so that a test sees whether it was touched.
struct TextOut {
  TextOut() { Reset(); }
  void Reset() {
    std::fill(std::begin(bytes), std::end(bytes), 'x');
    bytes[TALLYPORT_TEXT_SIZE - 1] = '\0';
  }
  bool Untouched() const {
    for (size_t i = 0; i + 1 < TALLYPORT_TEXT_SIZE; ++i) {
      if (bytes[i] != 'x') return false;
    }
    return true;
  }
  std::string Text() const { return bytes; }
  char bytes[TALLYPORT_TEXT_SIZE];
};

class SimulatorTest : public ::testing::Test {
 protected:
  // Skip when there is no simulator link to be had.
  void SetUp() override;
  void TearDown() override;

  // The frames received since the last call.
  std::vector<fiscalsim::JournalEntry> Frames();
  // Makes the device answer `code` with this data from now on.
  void Answer(uint8_t code, std::string data);

  std::unique_ptr<fiscalsim::Simulator> sim_;
};

// Points COMn names at a private empty folder while it lives, so no real port is touched.
class PrivateComDir {
 public:
  PrivateComDir();
  ~PrivateComDir();
  const std::string &Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace tallyport::testing
