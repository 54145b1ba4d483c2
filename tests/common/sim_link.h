// Where the suites' simulator runs. With FISCAL_SIM_PORT and FISCAL_HOST_PORT both set (the two
// ends of a linked pair of ports, e.g. COM6 and COM5 of fiscal-pty-pair mapped into wine) the
// simulator serves FISCAL_SIM_PORT and the code under test opens FISCAL_HOST_PORT; otherwise, on
// Linux, each simulator gets a pseudo-terminal of its own. Windows has nothing of its own to
// offer, so there tests that need the device skip unless the pair is given.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "fiscalsim/byte_pipe.h"
#include "fiscalsim/device_link.h"
#include "fiscalsim/serial_link.h"
#ifndef _WIN32
#include "fiscalsim/pty_link.h"
#endif

namespace fiscal_test {

inline constexpr const char *kNoSimLink = "set FISCAL_SIM_PORT and FISCAL_HOST_PORT to a linked COM pair";

inline std::string EnvOrEmpty(const char *name) {
  const char *value = std::getenv(name);
  return value != nullptr ? value : "";
}

inline bool PortPairGiven() { return !EnvOrEmpty("FISCAL_SIM_PORT").empty() && !EnvOrEmpty("FISCAL_HOST_PORT").empty(); }

inline bool SimLinkAvailable() {
#ifdef _WIN32
  return PortPairGiven();
#else
  return true;
#endif
}

// The simulator's link; its Name() is what the code under test opens. Without any link to offer
// an in-process pipe nobody reaches stands in, so that fixtures build before they skip.
inline std::unique_ptr<fiscalsim::DeviceLink> OpenSimLink() {
  if (PortPairGiven()) return fiscalsim::OpenSerialLink(EnvOrEmpty("FISCAL_SIM_PORT"), EnvOrEmpty("FISCAL_HOST_PORT"));
#ifdef _WIN32
  return std::move(fiscalsim::MakeBytePipe().device);
#else
  return fiscalsim::OpenPtyLink();
#endif
}

}  // namespace fiscal_test

// In SetUp or a test body: skips when OpenSimLink() has no real link to give.
#define FISCAL_SKIP_WITHOUT_SIM_LINK() \
  if (!fiscal_test::SimLinkAvailable()) GTEST_SKIP() << fiscal_test::kNoSimLink
