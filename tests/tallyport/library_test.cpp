// The library as its callers load it, and a port that does not exist.
#include <dlfcn.h>

#include <cstdio>
#include <fstream>
#include <set>

#include "seriallink/settings.h"
#include "test_support.h"

namespace tallyport::testing {
namespace {

TEST(MissingPort, ConnectFailsAndCommandsRunAgainstNoPortUntilDisconnect) {
  PrivateComDir dir;
  seriallink::SetFlavour({std::chrono::milliseconds(40), std::chrono::milliseconds(0)});
  EXPECT_EQ(Connect("COM9", 9600, 8, 0, 0), TALLYPORT_ALREADY_CONNECTED);
  EXPECT_EQ(Sale("Bread", "B", 1, 1, 0), TALLYPORT_NO_RESPONSE);
  EXPECT_EQ(Connect("COM9", 9600, 8, 0, 0), TALLYPORT_ALREADY_CONNECTED);
  EXPECT_EQ(Disconnect(), 0);
  EXPECT_EQ(Sale("Bread", "B", 1, 1, 0), TALLYPORT_NOT_CONNECTED);
  seriallink::SetFlavour(seriallink::Flavour::Pos());
}

TEST(SharedLibrary, ExportsExactlyTheListedNames) {
  const std::string command = std::string("nm -D --defined-only '") + TALLYPORT_LIBRARY_PATH + "'";
  FILE *pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> exported;
  char line[512];
  while (std::fgets(line, sizeof line, pipe)) {
    char type = 0;
    char name[256] = {};
    // "address type name"
    if (std::sscanf(line, "%*s %c %255s", &type, name) == 2) exported.insert(name);
  }
  EXPECT_EQ(::pclose(pipe), 0);
  std::ifstream list(TALLYPORT_EXPORTS_LIST);
  std::set<std::string> expected;
  for (std::string name; list >> name;) expected.insert(name);
  EXPECT_EQ(expected.size(), 92u);
  EXPECT_EQ(exported, expected);
}

TEST(SharedLibrary, LoadsAnswersAndUnloadsWhileConnected) {
  auto sim = std::make_unique<fiscalsim::Simulator>(fiscal_test::OpenSimLink());
  sim->Start();
  void *library = ::dlopen(TALLYPORT_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << ::dlerror();
  using ConnectFn = int32_t (*)(const char *, int32_t, int16_t, int16_t, int16_t);
  using TestPrinterFn = int32_t (*)(int32_t, const char *, char *);
  auto connect = reinterpret_cast<ConnectFn>(::dlsym(library, "Connect"));
  auto testPrinter = reinterpret_cast<TestPrinterFn>(::dlsym(library, "TestPrinter"));
  ASSERT_TRUE(connect && testPrinter);
  EXPECT_EQ(connect(sim->PortName().c_str(), 115200, 8, 0, 0), 0);
  TextOut out;
  EXPECT_EQ(testPrinter(0x3E, "", out.bytes), 0);
  EXPECT_EQ(out.Text().size(), 17u);  // DD-MM-YY HH:MM:SS
  // Unloading disconnects: the port is free again for the next user.
  EXPECT_EQ(::dlclose(library), 0);
  EXPECT_EQ(Connect(sim->PortName().c_str(), 115200, 8, 0, 0), 0);
  EXPECT_EQ(Disconnect(), 0);
  sim->Stop();
}

}  // namespace
}  // namespace tallyport::testing
