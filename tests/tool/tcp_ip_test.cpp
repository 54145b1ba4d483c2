// The TCP/IP dialog: the read into five addresses and the mode, the write's mode code and 20
// octets, and the question before settings that were never read overwrite the device's.
#include <gtest/gtest.h>

#include "core/messages.h"
#include "dialogs/data_exchange.h"
#include "logic_test_support.h"
#include "programming/tcp_ip_config.h"

namespace {

using tillwright::tcpIpConfig;
using tillwright::ui::kIdCancel;
using tillwright::ui::kIdOk;
using tillwright::ui::kResultOk;
using tooltest::FakeView;
using tooltest::RecordingLink;
using tooltest::ScriptedPrompter;
using tooltest::Sent;

constexpr char kStatic[] = "192,168,1,10,255,255,255,0,192,168,1,1,8,8,8,8,8,8,4,4";

class TcpIp : public ::testing::Test {
 protected:
  void Open(const std::string &reply, int result = 0) {
    link.device = [reply, result](uint16_t, const std::string &data) {
      return RecordingLink::Answer{data == "R" ? result : 0, data == "R" ? reply : ""};
    };
    view.MakeCheckBox(tcpIpConfig::kDhcpBox);
    dlg.Attach(view, prompter);
    dlg.OnInitDialog();
  }
  void TearDown() override {
    tooltest::ExpectDeclaredControls(view, dlg);
    dlg.Detach();
  }
  std::vector<std::string> Writes() const {
    std::vector<std::string> out;
    for (const std::string &d : link.DataOf(37))
      if (d != "R") out.push_back(d);
    return out;
  }
  bool AddressesEnabled() const {
    for (int id : tcpIpConfig::kAddressFields)
      if (!view.Enabled(id)) return false;
    return true;
  }

  RecordingLink link;
  FakeView view;
  ScriptedPrompter prompter;
  tcpIpConfig dlg{link};
};

TEST_F(TcpIp, ReadsFiveAddressesAndWritesThemBackStatic) {
  Open(kStatic);
  EXPECT_EQ(link.sent, (std::vector<Sent>{{37, "R"}}));
  EXPECT_EQ(view.Address(1182), 0xC0A8010Au);
  EXPECT_EQ(view.Address(1183), 0xFFFFFF00u);
  EXPECT_EQ(view.Address(1185), 0xC0A80101u);
  EXPECT_EQ(view.Address(1186), 0x08080808u);
  EXPECT_EQ(view.Address(1187), 0x08080404u);
  EXPECT_FALSE(view.Checked(1043));
  EXPECT_TRUE(AddressesEnabled());
  EXPECT_EQ(prompter.waitDepth, 0);

  view.TypeAddress(1182, "10.0.0.5");
  view.Click(dlg, kIdOk);
  EXPECT_EQ(Writes(), (std::vector<std::string>{"P518204736,10,0,0,5,255,255,255,0,192,168,1,1,8,8,8,8,8,8,4,4"}));
  EXPECT_EQ(view.Result(), kResultOk);
  EXPECT_TRUE(prompter.questions.empty());
}

TEST_F(TcpIp, AZeroMaskOpensInDhcpModeAndTheBoxSendsModeTwentyTwo) {
  Open("10,1,2,3,0,0,0,0,10,1,2,1,0,0,0,0,0,0,0,0");
  EXPECT_TRUE(view.Checked(1043));
  for (int id : tcpIpConfig::kAddressFields) EXPECT_FALSE(view.Enabled(id)) << id;
  EXPECT_EQ(view.Address(1182), 0x0A010203u);
  view.Click(dlg, 1043);
  EXPECT_TRUE(AddressesEnabled());
  view.TypeAddress(1183, "255.0.0.0");
  view.Click(dlg, 1043);
  EXPECT_FALSE(view.Enabled(1183));
  view.Click(dlg, kIdOk);
  EXPECT_EQ(Writes(), (std::vector<std::string>{"P22,10,1,2,3,255,0,0,0,10,1,2,1,0,0,0,0,0,0,0,0"}));
}

// A number above 255 is added into its address as it stands and carries into the octet before
// it; a reply that lacks numbers leaves their octets 0.
TEST_F(TcpIp, NumbersAbove255CarryAndMissingOnesAreZero) {
  Open("1,300,0,0,255,255,254,256");
  EXPECT_EQ(view.Address(1182), 0x022C0000u);  // 1.300.0.0 is 2.44.0.0
  EXPECT_EQ(view.Address(1183), 0xFFFFFF00u);
  EXPECT_EQ(view.Address(1185), 0u);
  EXPECT_EQ(view.Address(1187), 0u);
  view.Click(dlg, kIdOk);
  EXPECT_EQ(Writes(), (std::vector<std::string>{"P518204736,2,44,0,0,255,255,255,0,0,0,0,0,0,0,0,0,0,0,0,0"}));
}

TEST_F(TcpIp, SettingsNeverReadAreWrittenOnlyWhenThePersonSaysSo) {
  Open("", 1);
  EXPECT_FALSE(view.Checked(1043));
  EXPECT_TRUE(AddressesEnabled());
  EXPECT_EQ(view.Address(1182), 0u);
  prompter.answers = {false};
  view.Click(dlg, kIdOk);
  EXPECT_TRUE(Writes().empty());
  EXPECT_FALSE(view.Result().has_value());
  EXPECT_EQ(prompter.questions, (std::vector<std::string>{std::string(tillwright::msg::kTcpIpNotRead)}));
  view.TypeAddress(1182, "10.0.0.9");
  view.Click(dlg, kIdOk);  // the script answers Yes from here on
  EXPECT_EQ(Writes(), (std::vector<std::string>{"P518204736,10,0,0,9,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0"}));
  EXPECT_EQ(view.Result(), kResultOk);
}

TEST_F(TcpIp, AFailedWriteKeepsTheDialogWithItsValues) {
  Open(kStatic);
  link.device = [](uint16_t, const std::string &) { return RecordingLink::Answer{1, "Error"}; };
  view.TypeAddress(1186, "1.1.1.1");
  view.Click(dlg, kIdOk);
  EXPECT_EQ(prompter.messages, (std::vector<std::string>{"Parameters error !!!"}));
  EXPECT_FALSE(view.Result().has_value());
  EXPECT_EQ(view.Address(1186), 0x01010101u);
  EXPECT_EQ(prompter.waitDepth, 0);
}

TEST_F(TcpIp, AMalformedAddressIsRefusedAndNothingSent) {
  Open(kStatic);
  view.TypeAddress(1185, "192.168.1");
  view.Click(dlg, kIdOk);
  EXPECT_TRUE(Writes().empty());
  EXPECT_EQ(prompter.messages, (std::vector<std::string>{tillwright::ui::DataExchange::kNotAnAddress}));
  EXPECT_EQ(view.Focus(), 1185);
  view.Click(dlg, kIdCancel);
  EXPECT_TRUE(Writes().empty());
}

}  // namespace
