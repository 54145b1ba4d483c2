// The serial devices beyond COM1..COM20 and the ports left alone, over a private tree that stands
// for /dev, /dev/serial/by-id and /sys/class/tty: every device in it is a pseudo-terminal.
#include "platform/serial_ports.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/serial_port.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class SerialPortsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/serial-ports-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
    fs::create_directories(root_ / "dev/serial/by-id");
    fs::create_directories(root_ / "sys/class/tty/console");
    roots_.dev = (root_ / "dev").string();
    roots_.byId = (root_ / "dev/serial/by-id").string();
    roots_.sysTty = (root_ / "sys/class/tty").string();
  }
  void TearDown() override {
    for (int fd : masters_) ::close(fd);
    fs::remove_all(root_);
  }

  // dev/<name> as a link to a fresh pseudo-terminal; returns its master.
  int Device(const std::string &name) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_GE(master, 0);
    EXPECT_EQ(::grantpt(master), 0);
    EXPECT_EQ(::unlockpt(master), 0);
    masters_.push_back(master);
    fs::create_symlink(::ptsname(master), root_ / "dev" / name);
    return master;
  }
  std::string Dev(const std::string &name) const { return (root_ / "dev" / name).string(); }
  void ById(const std::string &link, const std::string &target) {
    fs::create_symlink(target, root_ / "dev/serial/by-id" / link);
  }
  void Sys(const std::string &file, const std::string &text) {
    fs::create_directories((root_ / "sys/class/tty" / file).parent_path());
    std::ofstream(root_ / "sys/class/tty" / file) << text;
  }
  // sysfs's "major:minor" of a device.
  static std::string Number(const std::string &path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)) + "\n";
  }
  static bool Quiet(int master) {
    pollfd p{master, POLLIN, 0};
    return ::poll(&p, 1, 0) == 0 || (p.revents & POLLIN) == 0;
  }

  fs::path root_;
  SerialRoots roots_;
  std::vector<int> masters_;
};

TEST(NaturalOrder, NumbersCompareByValue) {
  EXPECT_TRUE(NaturalLess("ttyUSB2", "ttyUSB10"));
  EXPECT_FALSE(NaturalLess("ttyUSB10", "ttyUSB2"));
  EXPECT_TRUE(NaturalLess("ttyACM9", "ttyUSB0"));
  EXPECT_TRUE(NaturalLess("ttyUSB", "ttyUSB0"));
  EXPECT_FALSE(NaturalLess("ttyUSB3", "ttyUSB3"));
  // Leading zeros: equal values still order one way only.
  EXPECT_NE(NaturalLess("ttyUSB01", "ttyUSB1"), NaturalLess("ttyUSB1", "ttyUSB01"));
}

// By-id links first, by name and resolved; then ttyUSB/ttyACM in natural order, each device once.
TEST_F(SerialPortsTest, AdaptersByIdThenUsbTtysInNaturalOrderEachOnce) {
  for (const char *name : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyUSB0", "ttyACM1", "ttyS0", "tty5", "ttyUSBx"})
    Device(name);
  std::ofstream(root_ / "dev/ttyUSB3") << "not a device";
  ById("usb-B_Adapter-if00-port0", "../../ttyUSB0");
  ById("usb-A_Printer-if00", "../../ttyACM1");
  ById("usb-C_Gone-if00-port0", "../../ttyUSB99");
  // A COM alias already reaches ttyUSB2.
  const std::string alias = (root_ / "COM4").string();
  fs::create_symlink(Dev("ttyUSB2"), alias);

  EXPECT_EQ(ExtraSerialPorts(roots_, {alias}),
            (std::vector<std::string>{Dev("ttyACM1"), Dev("ttyUSB0"), Dev("ttyACM0"), Dev("ttyUSB10")}));
  EXPECT_EQ(ExtraSerialPorts(roots_),
            (std::vector<std::string>{Dev("ttyACM1"), Dev("ttyUSB0"), Dev("ttyACM0"), Dev("ttyUSB2"), Dev("ttyUSB10")}));
  EXPECT_TRUE(ExtraSerialPorts(SerialRoots::None()).empty());
}

// A device held through the suite's exclusive open (as the transport library holds its USB
// serial device) is not offered, and is again once let go.
TEST_F(SerialPortsTest, ADeviceHeldOpenIsLeftOut) {
  Device("ttyACM0");
  Device("ttyUSB0");
  SerialPort held;
  ASSERT_EQ(held.Open(Dev("ttyACM0")), 0);
  EXPECT_EQ(ExtraSerialPorts(roots_), (std::vector<std::string>{Dev("ttyUSB0")}));
  held.Close();
  EXPECT_EQ(ExtraSerialPorts(roots_), (std::vector<std::string>{Dev("ttyACM0"), Dev("ttyUSB0")}));
}

TEST_F(SerialPortsTest, TheConsoleAndBuiltInPortsWithoutUartAreSkipped) {
  const int console = Device("ttyS0");
  Sys("console/active", "tty0 ttyS0\n");
  const int absent = Device("ttyS1");
  Sys("ttyS1/type", "0\n");
  Sys("ttyS1/dev", Number(Dev("ttyS1")));
  Device("ttyS2");
  Sys("ttyS2/type", "4\n");  // a 16550A
  Device("ttyS3");
  Sys("ttyS3/type", "0\n");
  Sys("ttyS3/dev", "4:67\n");  // the entry is some other device's
  Device("ttyUSB0");

  EXPECT_TRUE(SkipSerialPort(Dev("ttyS0"), roots_));
  const std::string alias = (root_ / "COM1").string();
  fs::create_symlink(Dev("ttyS0"), alias);
  EXPECT_TRUE(SkipSerialPort(alias, roots_)) << "an alias of the console is the console";
  EXPECT_TRUE(SkipSerialPort(Dev("ttyS1"), roots_));
  EXPECT_FALSE(SkipSerialPort(Dev("ttyS2"), roots_));
  EXPECT_FALSE(SkipSerialPort(Dev("ttyS3"), roots_));
  EXPECT_FALSE(SkipSerialPort(Dev("ttyUSB0"), roots_));
  EXPECT_FALSE(SkipSerialPort(Dev("ttyS9"), roots_)) << "missing: the open reports it";
  EXPECT_FALSE(SkipSerialPort(Dev("ttyS0"), SerialRoots::None()));
  // Deciding opened neither.
  EXPECT_TRUE(Quiet(console));
  EXPECT_TRUE(Quiet(absent));
}

// Without sysfs's word, a built-in port is asked itself; a pseudo-terminal has no UART type to
// tell, so it stays in.
TEST_F(SerialPortsTest, WithoutSysfsABuiltInPortIsAskedItself) {
  Device("ttyS4");
  EXPECT_FALSE(SkipSerialPort(Dev("ttyS4"), roots_));
}

}  // namespace
}  // namespace platform
