// Connecting, disconnecting, the status text and the error texts.
#include <dlfcn.h>

#include <cstdio>
#include <fstream>
#include <set>

#include "seriallink/settings.h"
#include "test_support.h"

namespace tallyport::testing {
namespace {

std::string ErrorString(int32_t code) {
  TextOut out;
  GetErrorString(code, out.bytes);
  return out.Text();
}

TEST(ErrorStrings, GiveTheTextOfEveryCode) {
  EXPECT_EQ(ErrorString(0), "SUCCESS");
  EXPECT_EQ(ErrorString(10001), "Device Already Connect");
  EXPECT_EQ(ErrorString(10002), "Device not Connect");
  EXPECT_EQ(ErrorString(10003), "Device not Respond");
  EXPECT_EQ(ErrorString(10004), "Device Answer Incorrect");
  EXPECT_EQ(ErrorString(10005), "Device Max Send Count");
  EXPECT_EQ(ErrorString(10006), "Device Bad Parametar");
  EXPECT_EQ(ErrorString(5), "Return Error No : 5 ");
  EXPECT_EQ(ErrorString(-2147483647 - 1), "Return Error No : -2147483648 ");
  GetErrorString(0, nullptr);  // skipped, not a crash
}

class ConnectionTest : public SimulatorTest {};

TEST_F(ConnectionTest, ConnectTwiceRefusesAndDisconnectIsAlwaysSuccess) {
  EXPECT_EQ(Connect(sim_->PortName().c_str(), 115200, 8, 0, 0), TALLYPORT_ALREADY_CONNECTED);
  EXPECT_EQ(SetHwnd4Message(1234), 0);
  EXPECT_EQ(Disconnect(), 0);
  EXPECT_EQ(Disconnect(), 0);
  EXPECT_EQ(PrintCopyBon(1), TALLYPORT_NOT_CONNECTED);
  EXPECT_EQ(Connect(sim_->PortName().c_str(), 115200, 8, 0, 0), 0);
  EXPECT_EQ(DisplayClear(), 0);
}

TEST_F(ConnectionTest, StatusTextFollowsTheLastReply) {
  TextOut status;
  GetStatus(status.bytes);
  EXPECT_EQ(status.Text(), "");  // no reply yet
  EXPECT_EQ(DisplayClear(), 0);
  GetStatus(status.bytes);
  EXPECT_EQ(status.Text(), "000000000000");
  EXPECT_EQ(VoidAll(), 0);  // refused: no receipt open
  GetStatus(status.bytes);
  EXPECT_EQ(status.Text(), "200200000000");

  seriallink::SetFlavour({std::chrono::milliseconds(50), std::chrono::milliseconds(0)});
  sim_->Faults().SilentFor(5);
  EXPECT_EQ(DisplayClear(), TALLYPORT_NO_RESPONSE);
  GetStatus(status.bytes);
  EXPECT_EQ(status.Text(), "");  // a failed command leaves no status
}

TEST_F(ConnectionTest, ABadLineSettingIsRefusedAsAConnectFailure) {
  Disconnect();
  EXPECT_EQ(Connect(sim_->PortName().c_str(), 115200, 9, 0, 0), TALLYPORT_ALREADY_CONNECTED);
  EXPECT_EQ(Disconnect(), 0);
  EXPECT_EQ(Connect(sim_->PortName().c_str(), 115200, -1, 0, 0), TALLYPORT_ALREADY_CONNECTED);
  EXPECT_EQ(Disconnect(), 0);
  EXPECT_EQ(Connect(sim_->PortName().c_str(), 115200, 8, 0, 0), 0);
}

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
  auto sim = std::make_unique<fiscalsim::Simulator>(fiscalsim::OpenPtyLink());
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
