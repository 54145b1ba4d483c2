#include "platform/port_names.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>

#include "platform/serial_port.h"
#include "platform/trace.h"

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

// What stands where the alias directory belongs, and what COM7 then resolves to, both in the
// default place ($XDG_RUNTIME_DIR/fiscal-com, checked as /tmp/fiscal-com-<uid> is) and named by
// FISCAL_COM_DIR. A case with `why` is a refusal whose reason contains it.
struct DirCase {
  const char *what;
  enum Kind { Absent, Dir, LinkToDir, File } kind;
  fs::perms mode;
  bool foreign;         // owned by another account: only root can make one
  bool entry;           // COM7 exists in it
  const char *why;      // of a refusal; nullptr when the directory may be used
  bool namedMayFollow;  // the refusal does not hold when FISCAL_COM_DIR names the directory
};

void PrintTo(const DirCase &c, std::ostream *os) { *os << c.what; }

constexpr auto kPrivate = fs::perms::owner_all;
constexpr auto kOpen = fs::perms::all;
constexpr auto kReadable = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec;

const DirCase kDirCases[] = {
    {"PrivateWithEntry", DirCase::Dir, kPrivate, false, true, nullptr, false},
    {"PrivateWithoutEntry", DirCase::Dir, kPrivate, false, false, nullptr, false},
    {"ReadableByAll", DirCase::Dir, kReadable, false, true, nullptr, false},
    {"GroupMayWrite", DirCase::Dir, kPrivate | fs::perms::group_all, false, true, "is writable by others (mode 0770)", false},
    {"AnyoneMayWrite", DirCase::Dir, kOpen, false, true, "is writable by others (mode 0777)", false},
    {"AnyoneMayWriteSticky", DirCase::Dir, kOpen | fs::perms::sticky_bit, false, true, "is writable by others (mode 1777)", false},
    {"AnyoneMayWriteWithoutEntry", DirCase::Dir, kOpen, false, false, "is writable by others (mode 0777)", false},
    {"LinkToPrivateDir", DirCase::LinkToDir, kPrivate, false, true, "is a symbolic link", true},
    {"RegularFile", DirCase::File, kPrivate, false, false, "is not a directory", false},
    {"Absent", DirCase::Absent, kPrivate, false, false, nullptr, false},
    {"AnotherAccounts", DirCase::Dir, kPrivate, true, true, "belongs to another account (uid 1)", false},
};

class AliasDirTest : public PortNamesTest, public ::testing::WithParamInterface<std::tuple<DirCase, bool>> {};

TEST_P(AliasDirTest, OnlyAPrivateDirectoryIsUsed) {
  const auto &[c, named] = GetParam();
  if (c.foreign && ::geteuid() != 0) GTEST_SKIP() << "only root can give a directory to another account";
  const fs::path dir = tmp_ / "fiscal-com";
  switch (c.kind) {
    case DirCase::Absent: break;
    case DirCase::File: Touch(dir); break;
    case DirCase::Dir:
      fs::create_directory(dir);
      if (c.entry) Touch(dir / "COM7");
      if (c.foreign) {
        ASSERT_EQ(::chown(dir.c_str(), 1, 1), 0) << errno;
      }
      fs::permissions(dir, c.mode);
      break;
    case DirCase::LinkToDir:
      fs::create_directory(tmp_ / "real");
      if (c.entry) Touch(tmp_ / "real" / "COM7");
      fs::permissions(tmp_ / "real", c.mode);
      fs::create_directory_symlink("real", dir);
      break;
  }
  ::setenv(named ? "FISCAL_COM_DIR" : "XDG_RUNTIME_DIR", named ? dir.c_str() : tmp_.c_str(), 1);
  ASSERT_EQ(PortAliasDir(), dir.string());

  const bool refused = c.why != nullptr && !(named && c.namedMayFollow);
  std::string expected;
  if (!refused) expected = named || c.entry ? (dir / "COM7").string() : "/dev/ttyS6";
  std::string refusal = "left over";
  EXPECT_EQ(ResolvePortName("COM7", &refusal), expected);
  EXPECT_EQ(ResolvePortName("com7"), expected);
  EXPECT_EQ(PortAliasDirFault().empty(), !refused) << PortAliasDirFault();
  if (!refused) {
    EXPECT_EQ(refusal, "");
    return;
  }
  EXPECT_EQ(refusal, "COM7 is refused: " + dir.string() + " " + c.why);
  // Paths pass through whatever the directory is.
  EXPECT_EQ(ResolvePortName("/dev/ttyACM0", &refusal), "/dev/ttyACM0");
  EXPECT_EQ(refusal, "");
  // The port is not opened, and a trace says why.
  TraceCapture traces;
  SerialPort port;
  EXPECT_EQ(port.Open("COM7"), EACCES);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_TRUE(traces.Contains("COM7 is refused: " + dir.string())) << ::testing::PrintToString(traces.Lines());
}

INSTANTIATE_TEST_SUITE_P(Cases, AliasDirTest, ::testing::Combine(::testing::ValuesIn(kDirCases), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<AliasDirTest::ParamType> &p) {
                           return std::string(std::get<0>(p.param).what) + (std::get<1>(p.param) ? "Named" : "Default");
                         });

TEST_F(PortNamesTest, WithoutEitherVariableTheDirectoryIsPerUser) {
  EXPECT_EQ(PortAliasDir(), "/tmp/fiscal-com-" + std::to_string(::getuid()));
}

}  // namespace
}  // namespace platform
