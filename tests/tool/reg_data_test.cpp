// The registration data dialog against a scripted device: the read, write and execute sequences
// on the wire, the panels, the enabling rules and the status line.
#include <gtest/gtest.h>

#include <map>

#include "core/messages.h"
#include "logic_test_support.h"
#include "registration/reg_data.h"

namespace {

using tillwright::CRegData;
using tillwright::ui::Icon;
using tillwright::ui::kIdOk;
using tooltest::FakeView;
using tooltest::RecordingLink;
using tooltest::ScriptedPrompter;
using tooltest::Sent;
using Texts = std::vector<std::string>;

constexpr auto &kIds = CRegData::kParameterIds;

// Answers every read with "<n>,<value>", the state panels and the device information as given;
// writes succeed unless told otherwise.
struct RegistrationDevice {
  std::map<std::string, std::string> replies = {
      {"G16", "16,1"}, {"G17", "17,4"}, {"G18", "18,2"}, {"G19", "19,AB12"}, {"G20", "20,123"},
      {"G21", "21,1"}, {"G22", "22,3"}, {"V23", "23,05-12-13"},
      {"Q0", "ID77,S2,S3,S4,284011111"}, {"Z0", "Z1,Z2,Z3,1,PURGE,0"}, {"X0", "X1,X2,X3,X4,1,X5,X6"}};
  std::string deviceInfo = "a,b,c,d,INFO5,INFO6,IMSI7";
  std::string taxNumber = "x,TAX2";
  std::string imsi = "284019999";
  std::string procedure = "1,0,OK";
  std::string failWrite;  // the data whose write fails
  bool procedureFails = false;

  RecordingLink::Answer operator()(uint16_t code, const std::string &data) {
    if (code == 90) return {0, deviceInfo};
    if (code == 99) return {0, taxNumber};
    if (code == 200) return {0, imsi};
    if (code == 199) return procedureFails ? RecordingLink::Answer{1, "Error"} : RecordingLink::Answer{0, procedure};
    if (code != 198) return {1, "Error"};
    if (!failWrite.empty() && data == failWrite) return {1, "Error"};
    if (data[0] == 'R') return {0, data.substr(1) + ",VALUE" + data.substr(1)};
    const auto it = replies.find(data);
    return {0, it != replies.end() ? it->second : ""};
  }
};

class Registration : public ::testing::Test {
 protected:
  void SetUp() override {
    link.device = [this](uint16_t code, const std::string &data) { return device(code, data); };
  }
  void TearDown() override { opened_.reset(); }
  CRegData &Open() {
    dialog_ = std::make_unique<CRegData>(link);
    view.MakeCheckBox(CRegData::kCheckExisting);
    opened_.emplace(view, *dialog_, prompter);
    return *dialog_;
  }
  Texts Sent198() const { return link.DataOf(198); }

  RegistrationDevice device;
  RecordingLink link;
  ScriptedPrompter prompter;
  FakeView view;

 private:
  std::unique_ptr<CRegData> dialog_;
  std::optional<tooltest::OpenDialog> opened_;
};

TEST_F(Registration, OpeningReadsEverythingInOrderAndFillsEveryControl) {
  Open();
  Texts expected = {"G16", "G18"};
  for (int p = 0; p < 16; ++p) expected.push_back("R" + std::to_string(p));
  for (const char *g : {"G16", "G17", "G18", "G19", "G20", "G21", "G22", "V23"}) expected.push_back(g);
  expected.insert(expected.end(), {"Q0", "Z0", "X0"});
  EXPECT_EQ(Sent198(), expected);
  EXPECT_EQ(link.sent.size(), 31u);  // with 90 and 99
  EXPECT_EQ(view.Text(kIds[0]), "VALUE0");
  EXPECT_EQ(view.Text(kIds[15]), "VALUE15");
  EXPECT_EQ(view.Selection(CRegData::kActionList), 1);
  EXPECT_EQ(view.Selection(CRegData::kNumberList), 4);
  EXPECT_EQ(view.Selection(CRegData::kOperatorList), 2);
  EXPECT_EQ(view.Text(kIds[19]), "AB12");
  EXPECT_EQ(view.Text(kIds[20]), "123");
  EXPECT_EQ(view.Selection(CRegData::kIdKindList), 1);
  EXPECT_EQ(view.Selection(CRegData::kNumberKindList), 3);
  EXPECT_EQ(view.Text(CRegData::kDate), "2013-12-05");
  EXPECT_EQ(view.Text(1117), "INFO5");
  EXPECT_EQ(view.Text(1118), "INFO6");
  EXPECT_EQ(view.Text(1120), "IMSI7");
  EXPECT_EQ(view.Text(1122), "TAX2");
  EXPECT_EQ((Texts{view.Text(1141), view.Text(1158), view.Text(1154), view.Text(1155), view.Text(1156)}),
            (Texts{"ID77", "S2", "S3", "S4", "284011111"}));
  EXPECT_EQ((Texts{view.Text(1142), view.Text(1143), view.Text(1144), view.Text(1145), view.Text(1147),
                   view.Text(1146)}),
            (Texts{"Z1", "Z2", "Z3", "PURGE", "N/A", "N/A"}));
  EXPECT_EQ((Texts{view.Text(1148), view.Text(1149), view.Text(1151), view.Text(1150), view.Text(1153),
                   view.Text(1152)}),
            (Texts{"X1", "X2", "X3", "X4", "X5", "X6"}));
  EXPECT_EQ(view.Text(CRegData::kStatusLine), "УСПЕШНО ИЗПЪЛНЕНИЕ");
  EXPECT_EQ(view.Items(CRegData::kActionList),
            (Texts{"Избери", "Регистрация", "Промяна на данни", "Дерегистрация"}));
  EXPECT_EQ(view.Items(CRegData::kIdKindList), (Texts{"БУЛСТАТ", "ЕГН", "ЛНЧ", "Служ.номер"}));
  EXPECT_EQ(prompter.waitDepth, 0);
  EXPECT_TRUE(prompter.messages.empty());
}

TEST_F(Registration, AnActionOrOperatorOutsideTheListsIsSetBackAndTheSecondReadingWins) {
  device.replies["G16"] = "16,0";
  device.replies["G18"] = "18,7";
  device.deviceInfo = "a,b,c,d,INFO5,INFO6";  // no IMSI: command 200 brings it
  Open();
  const Texts sent = Sent198();
  EXPECT_EQ(Texts(sent.begin(), sent.begin() + 4), (Texts{"G16", "S16,0", "G18", "S18,0"}));
  EXPECT_EQ(link.sent.size(), 34u);
  EXPECT_EQ(view.Text(1120), "284019999");
  // The second readings (0 and 7) are what the lists show.
  EXPECT_EQ(view.Selection(CRegData::kActionList), 0);
  EXPECT_EQ(view.Selection(CRegData::kOperatorList), 7);
}

TEST_F(Registration, EmptyReplyFieldsAreSkippedAndAFlagWithoutFieldsLeavesTheRest) {
  device.replies["Q0"] = "A,,C";
  device.replies["Z0"] = "Z1,Z2,Z3,1";
  device.taxNumber = ",TAX";
  Open();
  EXPECT_EQ(view.Text(1141), "A");
  EXPECT_EQ(view.Text(1158), "C");  // the field after the empty one moves up
  EXPECT_EQ(view.Text(1145), "");   // flag 1 with nothing behind it
  EXPECT_EQ(view.Text(1147), "N/A");
  EXPECT_EQ(view.Text(1146), "N/A");
  EXPECT_EQ(view.Text(1122), "TAX");
}

TEST_F(Registration, WriteSendsAll24ParametersAsTheDeviceTakesThem) {
  CRegData &dlg = Open();
  view.SetText(kIds[3], "");
  view.SetText(kIds[19], "");
  view.SetSelection(CRegData::kNumberList, 0);   // the blank entry
  view.SetSelection(CRegData::kOperatorList, -1);  // text typed that matches no entry
  view.SetText(CRegData::kDate, "2013-12-05");
  link.sent.clear();
  view.Click(dlg, kIdOk);
  const Texts sent = Sent198();
  ASSERT_EQ(sent.size(), 24u);
  EXPECT_EQ(sent[0], "P0,VALUE0");
  EXPECT_EQ(sent[3], "P3, ");
  EXPECT_EQ(view.Text(kIds[3]), " ");
  EXPECT_EQ(Texts(sent.begin() + 16, sent.end()),
            (Texts{"S16,1", "S17,1", "S18,-1", "S19,", "S20,123", "S21,1", "S22,3", "A23,05-12-13"}));
  EXPECT_EQ(view.Selection(CRegData::kNumberList), 1);
  EXPECT_EQ(view.Text(CRegData::kStatusLine), "УСПЕШНО ИЗПЪЛНЕНИЕ");
  EXPECT_FALSE(view.Result());  // writing keeps the dialog open
}

TEST_F(Registration, AFailedWriteStopsWithItsMessageAndTheErrorStatus) {
  device.failWrite = "P5,VALUE5";
  CRegData &dlg = Open();
  link.sent.clear();
  view.Click(dlg, kIdOk);
  EXPECT_EQ(Sent198().size(), 6u);
  EXPECT_EQ(prompter.messages, Texts{"Parameters write error!!!"});
  EXPECT_EQ(view.Text(CRegData::kStatusLine), "ГРЕШКА");
  EXPECT_EQ(prompter.waitDepth, 0);
}

TEST_F(Registration, TextsLongerThanTheirFieldAreRefusedWithTheLimitBeforeAnythingGoesOut) {
  device.replies.clear();
  CRegData &dlg = Open();
  view.SetText(kIds[0], std::string(17, 'A'));  // 16 at most
  link.sent.clear();
  view.Click(dlg, kIdOk);
  EXPECT_TRUE(link.sent.empty());
  EXPECT_EQ(prompter.messages, Texts{"Please enter no more than 16 characters."});
  EXPECT_EQ(view.Focus(), kIds[0]);
  view.SetText(kIds[0], "ok");
  view.SetText(kIds[20], "12a");
  prompter.messages.clear();
  view.Click(dlg, kIdOk);
  EXPECT_TRUE(link.sent.empty());
  EXPECT_EQ(prompter.messages, Texts{"Please enter digits only."});
  // A year the two digits cannot carry.
  view.SetText(kIds[20], "12");
  view.SetText(CRegData::kDate, "1999-12-31");
  view.Click(dlg, kIdOk);
  EXPECT_TRUE(link.sent.empty());
  EXPECT_EQ(view.Focus(), CRegData::kDate);
}

TEST_F(Registration, ExecuteWritesThenStartsTheActionOrTheCheckForAnExistingRegistration) {
  CRegData &dlg = Open();
  link.sent.clear();
  view.Click(dlg, CRegData::kExecuteButton);
  EXPECT_EQ(link.DataOf(198).size(), 24u);
  EXPECT_EQ(link.DataOf(199), Texts{"1"});
  EXPECT_EQ(prompter.messages, Texts{"УСПЕШНО ИЗПЪЛНЕНА!!!"});
  EXPECT_EQ(view.Text(CRegData::kStatusLine), "0, УСПЕШНО ИЗПЪЛНЕНИЕ");

  link.sent.clear();
  view.Click(dlg, CRegData::kCheckExisting);
  view.Click(dlg, CRegData::kExecuteButton);
  EXPECT_EQ(link.DataOf(199), Texts{"5"});

  // Any other action with the box checked: nothing at all goes out.
  view.Choose(dlg, CRegData::kActionList, 2);
  link.sent.clear();
  prompter.messages.clear();
  view.Click(dlg, CRegData::kExecuteButton);
  EXPECT_TRUE(link.sent.empty());
  EXPECT_EQ(prompter.messages, Texts{"ИЗБЕРЕТЕ РЕГИСТРАЦИЯ ЗА ДА ПРОВЕРИТЕ ЗА СЪЩЕСТВУВАЩА!"});
  EXPECT_EQ(view.Text(CRegData::kStatusLine), "");
}

TEST_F(Registration, TheProceduresRepliesInTheStatusLine) {
  struct Case {
    const char *reply;
    bool fails;
    const char *status;
    const char *message;
  };
  static constexpr Case kCases[] = {
      {"0,17,X", false, "ГРЕШКА N:17, X", "НЕУСПЕШНО ИЗПЪЛНЕНА!!!"},
      {"0", false, "999, НЕУСПЕШНО ИЗПЪЛНЕНИЕ", "НЕУСПЕШНО ИЗПЪЛНЕНА!!!"},
      {"1", false, "999, УСПЕШНО ИЗПЪЛНЕНИЕ", "УСПЕШНО ИЗПЪЛНЕНА!!!"},
      {"", true, "999, НЕУСПЕШНО ИЗПЪЛНЕНИЕ", "НЕУСПЕШНО ИЗПЪЛНЕНА!!!"},
  };
  CRegData &dlg = Open();
  for (const Case &c : kCases) {
    device.procedure = c.reply;
    device.procedureFails = c.fails;
    prompter.messages.clear();
    view.Click(dlg, CRegData::kExecuteButton);
    EXPECT_EQ(view.Text(CRegData::kStatusLine), c.status) << c.reply;
    EXPECT_EQ(prompter.messages, Texts{c.message}) << c.reply;
  }
}

TEST_F(Registration, TheGprsTestSaysWhatTheDeviceFound) {
  CRegData &dlg = Open();
  for (const auto &[reply, message, icon] : std::vector<std::tuple<std::string, std::string, Icon>>{
           {"1", "ПРОВЕРКА GPRS УСПЕШНА!!!", Icon::Information}, {"0", "ГРЕШКА GPRS !!!", Icon::Error}}) {
    device.procedure = reply;
    prompter.messages.clear();
    prompter.icons.clear();
    link.sent.clear();
    view.Click(dlg, CRegData::kGprsTestButton);
    EXPECT_EQ(link.sent, (std::vector<Sent>{{199, "4"}}));
    EXPECT_EQ(prompter.messages, Texts{message});
    EXPECT_EQ(prompter.icons, std::vector<Icon>{icon});
    EXPECT_EQ(view.Text(CRegData::kStatusLine), "УСПЕШНО ИЗПЪЛНЕНИЕ");
  }
}

TEST_F(Registration, TheActionDecidesWhichFieldsTakeInput) {
  CRegData &dlg = Open();
  EXPECT_TRUE(view.Enabled(CRegData::kIdKindList));  // registration
  EXPECT_FALSE(view.Enabled(CRegData::kNumberList));
  view.Choose(dlg, CRegData::kActionList, CRegData::kDeregistration);
  EXPECT_TRUE(view.Enabled(CRegData::kNumberList));
  EXPECT_FALSE(view.Enabled(kIds[0]));
  EXPECT_FALSE(view.Enabled(kIds[20]));
  EXPECT_FALSE(view.Enabled(CRegData::kOperatorList));
  EXPECT_FALSE(view.Enabled(CRegData::kIdKindList));
  EXPECT_TRUE(view.Enabled(kIds[5]));  // the identification number, its kind and the date always
  EXPECT_TRUE(view.Enabled(CRegData::kNumberKindList));
  EXPECT_TRUE(view.Enabled(CRegData::kDate));
  view.Choose(dlg, CRegData::kActionList, 2);
  EXPECT_TRUE(view.Enabled(kIds[0]));
  EXPECT_FALSE(view.Enabled(CRegData::kIdKindList));
}

}  // namespace

namespace {

// An address read back whole: cut at its first comma it would be written back cut.
TEST_F(Registration, ATextParameterKeepsItsCommas) {
  device.replies.clear();
  link.device = [this](uint16_t code, const std::string &data) -> RecordingLink::Answer {
    if (code == 198 && data == "R14") return {0, "14,ul. Vitosha 1, Sofia"};
    return device(code, data);
  };
  CRegData &dlg = Open();
  EXPECT_EQ(view.Text(kIds[14]), "ul. Vitosha 1, Sofia");
  link.sent.clear();
  view.Click(dlg, kIdOk);
  EXPECT_EQ(link.DataOf(198)[14], "P14,ul. Vitosha 1, Sofia");
}

}  // namespace
