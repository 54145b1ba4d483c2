#include "platform/port_names.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

namespace platform {
namespace {

namespace fs = std::filesystem;

// Each case starts from an environment without the variables that steer the alias directory.
class PortNamesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Save("FISCAL_COM_DIR", savedMap_);
    Save("XDG_RUNTIME_DIR", savedRuntime_);
    ::unsetenv("FISCAL_COM_DIR");
    ::unsetenv("XDG_RUNTIME_DIR");
    char pattern[] = "/tmp/port-names-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    tmp_ = pattern;
  }
  void TearDown() override {
    Restore("FISCAL_COM_DIR", savedMap_);
    Restore("XDG_RUNTIME_DIR", savedRuntime_);
    fs::remove_all(tmp_);
  }
  static void Save(const char *name, std::optional<std::string> &slot) {
    if (const char *v = std::getenv(name)) slot = v;
  }
  static void Restore(const char *name, const std::optional<std::string> &slot) {
    if (slot) ::setenv(name, slot->c_str(), 1);
    else ::unsetenv(name);
  }
  static void Touch(const fs::path &p) {
    fs::create_directories(p.parent_path());
    std::ofstream(p).put('x');
  }

  fs::path tmp_;
  std::optional<std::string> savedMap_, savedRuntime_;
};

TEST_F(PortNamesTest, PathsAndOtherNamesPassThrough) {
  ::setenv("FISCAL_COM_DIR", tmp_.c_str(), 1);
  EXPECT_EQ(ResolvePortName("/dev/ttyACM0"), "/dev/ttyACM0");
  EXPECT_EQ(ResolvePortName("/dev/pts/3"), "/dev/pts/3");
  EXPECT_EQ(ResolvePortName("./COM7"), "./COM7");
  EXPECT_EQ(ResolvePortName("ttyUSB0"), "ttyUSB0");
  EXPECT_EQ(ResolvePortName("COM0"), "COM0");
}

TEST_F(PortNamesTest, MapDirectoryIsTheWholeMap) {
  ::setenv("FISCAL_COM_DIR", tmp_.c_str(), 1);
  Touch(tmp_ / "COM7");
  EXPECT_EQ(PortAliasDir(), tmp_.string());
  EXPECT_EQ(ResolvePortName("COM7"), (tmp_ / "COM7").string());
  EXPECT_EQ(ResolvePortName("com7"), (tmp_ / "COM7").string());
  // No entry: still inside the map, so opening it reports the port missing; no real port is touched.
  EXPECT_EQ(ResolvePortName("COM1"), (tmp_ / "COM1").string());
}

TEST_F(PortNamesTest, RuntimeDirectoryAliasesFallBackToSerialDevices) {
  ::setenv("XDG_RUNTIME_DIR", tmp_.c_str(), 1);
  EXPECT_EQ(PortAliasDir(), (tmp_ / "fiscal-com").string());
  Touch(tmp_ / "fiscal-com" / "COM3");
  EXPECT_EQ(ResolvePortName("COM3"), (tmp_ / "fiscal-com" / "COM3").string());
  EXPECT_EQ(ResolvePortName("COM4"), "/dev/ttyS3");
  EXPECT_EQ(ResolvePortName("COM1"), "/dev/ttyS0");
  // A dangling alias is still the user's mapping, not a reason to fall back to a real port.
  fs::create_symlink("/nonexistent/tty", tmp_ / "fiscal-com" / "COM5");
  EXPECT_EQ(ResolvePortName("COM5"), (tmp_ / "fiscal-com" / "COM5").string());
}

TEST_F(PortNamesTest, WithoutEitherVariableTheDirectoryIsPerUser) {
  EXPECT_EQ(PortAliasDir(), "/tmp/fiscal-com-" + std::to_string(::getuid()));
}

}  // namespace
}  // namespace platform
