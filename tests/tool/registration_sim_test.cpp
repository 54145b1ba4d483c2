// The registration dialogs through the real serial link and the simulator: the business premises
// written, concluded and read back in the Croatian code page, the remote-audit parameters in the
// Bulgarian one.
#include <gtest/gtest.h>

#include "core/code_page.h"
#include "core/send_command.h"
#include "logic_test_support.h"
#include "registration/business_data.h"
#include "registration/reg_data.h"
#include "seriallink/link.h"
#include "sim_fixture.h"

namespace {

using tillwright::CBusinessData;

class PremisesOnSimulator : public tooltest::SimOnCom7 {
 protected:
  void TearDown() override {
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

namespace {

using tillwright::CRegData;

class RegistrationOnSimulator : public tooltest::SimOnCom7 {
 protected:
  tooltest::FakeView view_;
};

TEST_F(RegistrationOnSimulator, WrittenParametersReadBackAndARegistrationIsCarriedOut) {
  tillwright::SetWidgetCodePage(1251);
  tillwright::RealLink link;
  ASSERT_EQ(link.SerialConnect("COM7", 115200, 8, 0, 0), 0);
  tooltest::ScriptedPrompter prompter;
  const auto &ids = CRegData::kParameterIds;
  {
    CRegData dlg(link);
    view_.MakeCheckBox(CRegData::kCheckExisting);
    dlg.Attach(view_, prompter);
    dlg.OnInitDialog();
    EXPECT_EQ(view_.Selection(CRegData::kActionList), 0);  // the device held none: set back
    view_.SetText(ids[5], "123456789");
    view_.SetText(ids[14], "гр. София, ул. Витоша 1");
    view_.SetSelection(CRegData::kActionList, CRegData::kRegistration);
    view_.SetText(CRegData::kDate, "2014-03-01");
    view_.Click(dlg, CRegData::kExecuteButton);
    EXPECT_EQ(view_.Text(CRegData::kStatusLine), "0, УСПЕШНО ИЗПЪЛНЕНИЕ");
    dlg.Detach();
  }
  Sim().WithModel([](fiscalsim::DeviceModel &m) {
    EXPECT_EQ(m.State().registration[5], "123456789");
    EXPECT_EQ(m.State().registration[14], "\xE3\xF0. \xD1\xEE\xF4\xE8\xFF, \xF3\xEB. \xC2\xE8\xF2\xEE\xF8\xE0 1");
    EXPECT_EQ(m.State().registration[23], "01-03-14");
    EXPECT_EQ(m.State().procedures, std::vector<std::string>{"1"});
    EXPECT_EQ(m.State().registrationState, "1");
  });
  tooltest::FakeView again;
  CRegData dlg(link);
  dlg.Attach(again, prompter);
  dlg.OnInitDialog();
  EXPECT_EQ(again.Text(ids[14]), "гр. София, ул. Витоша 1");
  EXPECT_EQ(again.Selection(CRegData::kActionList), CRegData::kRegistration);
  EXPECT_EQ(again.Text(CRegData::kDate), "2014-03-01");
  EXPECT_EQ(again.Text(1158), "1");  // registered
  dlg.Detach();
}

}  // namespace
