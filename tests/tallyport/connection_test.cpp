// Connecting, disconnecting, the status text and the error texts.
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

}  // namespace
}  // namespace tallyport::testing
