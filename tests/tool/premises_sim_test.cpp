// The business premises written, concluded and read back through the real serial link and the
// simulator, in the Croatian code page.
#include <gtest/gtest.h>

#include "core/code_page.h"
#include "core/send_command.h"
#include "logic_test_support.h"
#include "registration/business_data.h"
#include "seriallink/link.h"
#include "sim_fixture.h"

namespace {

using tillwright::CBusinessData;

class PremisesOnSimulator : public tooltest::SimOnCom7 {
 protected:
  void TearDown() override {
    seriallink::Disconnect();
    tillwright::SetWidgetCodePage(1251);
    SimOnCom7::TearDown();
  }
};

TEST_F(PremisesOnSimulator, WrittenPremisesAreConcludedAndReadBackInPlace) {
  tillwright::SetWidgetCodePage(1250);
  tillwright::RealLink link;
  ASSERT_EQ(link.SerialConnect("COM7", 115200, 8, 0, 0), 0);
  tooltest::ScriptedPrompter prompter;
  const auto ids = CBusinessData::kAddressIds;
  {
    CBusinessData dlg(link);
    tillwright::testing::RunOn(dlg, prompter, [&](tooltest::FakeView &v, tillwright::ui::Dialog &d) {
      const char *values[] = {"PP1", "Ilica", "5", "", "10000", "Zagreb", "Grad Zagreb"};
      for (size_t i = 0; i < ids.size(); ++i) v.SetText(ids[i], values[i]);
      v.SetText(CBusinessData::kWorkingHours, "Pon-Pet 8-16, Sub 8-12");
      v.SetText(CBusinessData::kSpecificPurpose, "Trgovina Šime");
      v.Click(d, tillwright::ui::kIdOk);
    });
  }
  EXPECT_EQ(prompter.messages, std::vector<std::string>{"OK"});
  Sim().WithModel([](fiscalsim::DeviceModel &m) {
    EXPECT_EQ(m.State().premises[3], "");
    EXPECT_EQ(m.State().premises[4], "10000");
    EXPECT_EQ(m.State().workingHours, "Pon-Pet 8-16; Sub 8-12");
    EXPECT_EQ(m.State().specificPurpose, "Trgovina \x8Aime");  // CP1250
    EXPECT_EQ(m.State().premisesConclusions, 1u);
  });
  CBusinessData again(link);
  tillwright::testing::RunOn(again, prompter, [&](tooltest::FakeView &v, tillwright::ui::Dialog &) {
    EXPECT_EQ(v.Text(ids[3]), "");
    EXPECT_EQ(v.Text(ids[4]), "10000");
    EXPECT_EQ(v.Text(ids[6]), "Grad Zagreb");
    EXPECT_EQ(v.Text(CBusinessData::kSpecificPurpose), "Trgovina Šime");
  });
}

}  // namespace
