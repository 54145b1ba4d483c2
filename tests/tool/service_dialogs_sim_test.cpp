// The network and operator dialogs end to end: through the real serial link to the simulator.
#include <gtest/gtest.h>

#include "core/code_page.h"
#include "core/send_command.h"
#include "logic_test_support.h"
#include "programming/set_clerk.h"
#include "programming/set_conn_par.h"
#include "programming/tcp_ip_config.h"
#include "seriallink/link.h"
#include "sim_fixture.h"

namespace {

using tillwright::ui::kIdOk;
using tillwright::ui::kResultOk;
using tooltest::FakeView;

class ServiceDialogsOnSimulator : public tooltest::SimOnCom7 {
 protected:
  void SetUp() override {
    SimOnCom7::SetUp();
    tillwright::SetWidgetCodePage(1251);
    ASSERT_EQ(link.SerialConnect("COM7", 115200, 8, 0, 0), 0);
  }
  int Run(tillwright::ui::Dialog &dialog, const std::function<void(FakeView &, tillwright::ui::Dialog &)> &person) {
    return tillwright::testing::RunOn(dialog, prompter, person);
  }

  tillwright::RealLink link;
  tooltest::ScriptedPrompter prompter;
};

TEST_F(ServiceDialogsOnSimulator, TcpIpSettingsWrittenReadBackInDhcpMode) {
  tillwright::tcpIpConfig first(link);
  EXPECT_EQ(Run(first,
                [](FakeView &v, tillwright::ui::Dialog &d) {
                  EXPECT_EQ(v.Address(1182), 0xC0A80164u);
                  EXPECT_FALSE(v.Checked(1043));
                  v.TypeAddress(1182, "10.0.0.7");
                  v.SetChecked(1043, true);
                  d.Dispatch(1043, tillwright::ui::Event::Clicked);
                  v.Click(d, kIdOk);
                }),
            kResultOk);
  tillwright::tcpIpConfig again(link);
  Run(again, [](FakeView &v, tillwright::ui::Dialog &) {
    EXPECT_TRUE(v.Checked(1043));
    EXPECT_FALSE(v.Enabled(1182));
    EXPECT_EQ(v.Address(1182), 0x0A000007u);
    EXPECT_EQ(v.Address(1183), 0u);
  });
  Sim().WithModel([](fiscalsim::DeviceModel &m) { EXPECT_TRUE(m.State().dhcp); });
  EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(ServiceDialogsOnSimulator, AnOperatorWrittenInCyrillicReachesTheDevice) {
  tillwright::CSetClerkName name(link);
  EXPECT_EQ(Run(name,
                [](FakeView &v, tillwright::ui::Dialog &d) {
                  v.SetText(1033, "4");
                  v.SetText(1034, "77");
                  v.SetText(1035, "Иван");
                  v.SetText(1172, "12345678901");
                  v.Click(d, kIdOk);
                }),
            kResultOk);
  tillwright::CSetClerkPass pass(link);
  Run(pass, [](FakeView &v, tillwright::ui::Dialog &d) {
    v.SetText(1033, "4");
    v.SetText(1034, "77");
    v.SetText(1035, "88");
    v.Click(d, kIdOk);
  });
  Sim().WithModel([](fiscalsim::DeviceModel &m) {
    EXPECT_EQ(m.State().clerkNames[3], "\xC8\xE2\xE0\xED");
    EXPECT_EQ(m.State().clerkIds[3], "12345678901");
    EXPECT_EQ(m.State().clerkPasswords[3], "88");
  });
}

TEST_F(ServiceDialogsOnSimulator, GprsUnlockWriteAndTest) {
  tillwright::CSetConnPar gprs(link);
  Run(gprs, [](FakeView &v, tillwright::ui::Dialog &d) {
    EXPECT_EQ(v.Text(1200), "Lock state :Locked or OIB not set");
    EXPECT_EQ(v.Text(1087), "internet");
    EXPECT_EQ(v.Text(1088), "");
    const char *key[] = {"1111", "2222", "3333", "4444"};
    for (int i = 0; i < 4; ++i) v.SetText(1195 + i, key[i]);
    v.Click(d, tillwright::CSetConnPar::kUnlockButton);
    EXPECT_EQ(v.Text(1200), "Lock state :Unlocked for 12345678901");
    v.SetText(1087, "apn.example");
    v.SetText(1089, "secret");
    v.Click(d, kIdOk);
    v.Click(d, tillwright::CSetConnPar::kTestButton);
    v.Click(d, tillwright::ui::kIdCancel);
  });
  EXPECT_EQ(prompter.messages, (std::vector<std::string>{"OK !!!"}));
  Sim().WithModel([](fiscalsim::DeviceModel &m) {
    EXPECT_FALSE(m.State().locked);
    EXPECT_EQ(m.State().gprsApn, "apn.example");
    EXPECT_EQ(m.State().gprsUser, "");
    EXPECT_EQ(m.State().gprsPassword, "secret");
  });
}

}  // namespace
