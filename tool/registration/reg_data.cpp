#include "registration/reg_data.h"

#include <cstdio>

#include "core/code_page.h"
#include "core/command_codes.h"
#include "core/fields.h"
#include "core/messages.h"
#include "dialogs/data_exchange.h"

namespace tillwright {

namespace {

const std::vector<std::string> kActions = {"Избери", "Регистрация", "Промяна на данни", "Дерегистрация"};
const std::vector<std::string> kOperators = {"MTel", "Golbul", "Vivacom"};
const std::vector<std::string> kIdKinds = {"БУЛСТАТ", "ЕГН", "ЛНЧ", "Служ.номер"};
const std::vector<std::string> kNumbers = {" ", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10"};

// The state panels, in the order of the reply's fields.
constexpr ui::ControlId kStatusPanel[] = {1141, 1158, 1154, 1155, 1156};
constexpr ui::ControlId kDeviceInfo[] = {1117, 1118, 1120, 1122};

// A numeric reply field as the device's tools have always read it: leading blanks and a sign,
// digits up to the first other character, 0 without digits.
int Number(const std::string &field) { return static_cast<int>(LeadingInteger(field)); }

// Field n (from 1), empty fields skipped; nothing when missing.
const std::string *Field(const std::vector<std::string> &fields, size_t n) {
  return n >= 1 && n <= fields.size() ? &fields[n - 1] : nullptr;
}


}  // namespace

CRegData::CRegData(ILink &link) : Dialog("reg_data"), link_(link), date_(Today()) {
  for (const ui::ControlId id : kParameterIds) Uses({id});
  for (const ui::ControlId id : kStatusPanel) Uses({id});
  for (const ui::ControlId id : kDeviceInfo) Uses({id});
  Uses({1142, 1143, 1144, 1145, 1146, 1147, 1148, 1149, 1150, 1151, 1152, 1153});
  Uses({kStatusLine, kCheckExisting, kUnusedDate, ui::kIdOk, kCloseButton});
  On(kReadButton, ui::Event::Clicked, [this] { ReadAll(); });
  On(kExecuteButton, ui::Event::Clicked, [this] { Execute(); });
  On(kGprsTestButton, ui::Event::Clicked, [this] { TestGprs(); });
  On(kCloseButton, ui::Event::Clicked, [this] {
    if (UpdateData(true)) EndDialog(ui::kResultOk);
  });
  On(kActionList, ui::Event::SelectionChanged, [this] {
    UpdateData(true);
    ApplyEnabling();
  });
}

size_t CRegData::Limit(size_t parameter) {
  if (parameter <= 10) return 16;
  if (parameter <= 13) return 100;
  if (parameter <= 15) return 200;
  return parameter == 19 ? 4 : 3;
}

void CRegData::OnInitDialog() {
  Dialog::OnInitDialog();
  // One blank, which a template loader may read as no title at all.
  View().SetCaption(" ");
  View().SetItems(kActionList, kActions);
  View().SetItems(kOperatorList, kOperators);
  View().SetItems(kIdKindList, kIdKinds);
  View().SetItems(kNumberKindList, kIdKinds);
  View().SetItems(kNumberList, kNumbers);
  ReadAll();
}

void CRegData::DoDataExchange(ui::DataExchange &dx) {
  for (size_t p = 0; p < kTextParameters; ++p) DeviceText(dx, kParameterIds[p], texts_[p], Limit(p));
  dx.Selection(kActionList, action_);
  dx.Selection(kNumberList, number_);
  dx.Selection(kOperatorList, operator_);
  DeviceText(dx, kParameterIds[19], texts_[19], Limit(19));
  DeviceText(dx, kParameterIds[20], texts_[20], Limit(20));
  if (dx.FromControls() && !dx.Failed() && texts_[20].find_first_not_of("0123456789") != std::string::npos)
    dx.Refuse(kParameterIds[20], msg::kDigitsOnly);
  dx.Selection(kIdKindList, idKind_);
  dx.Selection(kNumberKindList, numberKind_);
  DateField(dx, View(), kDate, date_);
  dx.Check(kCheckExisting, checkExisting_);
  // What the device shows is never taken back.
  if (!dx.FromControls()) {
    for (auto &[id, bytes] : shown_) View().SetText(id, WidgetCodePage().ToWidget(bytes));
    View().SetText(kStatusLine, status_);
  }
}

bool CRegData::Send(std::string &reply, std::string data, uint16_t code) {
  return link_.SendCommand(reply, data, code) == 0;
}

void CRegData::ReadAll() {
  UpdateData(true);
  ui::WaitCursor wait(Prompter());
  std::string reply;
  const auto listValue = [&](const char *data, int &value) {
    if (Send(reply, data, cmd::kRegistrationData)) {
      const auto fields = SplitFields(reply);
      if (const std::string *f = Field(fields, 2)) value = Number(*f);
    }
  };
  // An action or operator the lists do not hold is set back on the device first.
  listValue("G16", action_);
  if (action_ < 1 || action_ > 3) {
    Send(reply, "S16,0", cmd::kRegistrationData);
    action_ = 0;
  }
  listValue("G18", operator_);
  if (operator_ < 0 || operator_ > 2) {
    Send(reply, "S18,0", cmd::kRegistrationData);
    operator_ = 0;
  }
  // A text parameter's value is all of the reply after its number: an address keeps its commas
  // (cut at the first, it would be written back cut).
  const auto textValue = [&](const std::string &data, std::string &text) {
    if (!Send(reply, data, cmd::kRegistrationData)) return;
    const size_t comma = reply.find(',');
    if (comma != std::string::npos && comma + 1 < reply.size()) text = reply.substr(comma + 1);
  };
  for (size_t p = 0; p < kTextParameters; ++p) textValue("R" + std::to_string(p), texts_[p]);
  listValue("G16", action_);
  listValue("G17", number_);
  listValue("G18", operator_);
  textValue("G19", texts_[19]);
  textValue("G20", texts_[20]);
  listValue("G21", idKind_);
  listValue("G22", numberKind_);
  if (Send(reply, "V23", cmd::kRegistrationData)) {
    const size_t comma = reply.find(',');
    const auto pieces = SplitFields(comma == std::string::npos ? std::string() : reply.substr(comma + 1), '-');
    if (pieces.size() >= 3) date_ = {2000 + Number(pieces[2]), Number(pieces[1]), Number(pieces[0])};
  }
  if (Send(reply, cmd::kDeviceInfoRequest, cmd::kDeviceInfo)) {
    const auto fields = SplitFields(reply);
    if (!fields.empty()) {
      if (const std::string *f = Field(fields, 5)) shown_[1117] = *f;
      if (const std::string *f = Field(fields, 6)) shown_[1118] = *f;
      if (const std::string *f = Field(fields, 7)) {
        shown_[1120] = *f;
      } else if (Send(reply, "", cmd::kImsi)) {
        shown_[1120] = reply;
      }
    }
  }
  if (Send(reply, "", cmd::kTaxNumber) && !reply.empty()) {
    // The second comma-separated position either way: a reply that begins with a comma has its
    // value as the first field that is not empty.
    const auto fields = SplitFields(reply);
    if (const std::string *f = Field(fields, reply[0] == ',' ? 1 : 2)) shown_[1122] = *f;
  }
  if (Send(reply, "Q0", cmd::kRegistrationData)) {
    const auto fields = SplitFields(reply);
    for (size_t i = 0; i < std::size(kStatusPanel); ++i)
      if (const std::string *f = Field(fields, i + 1)) shown_[kStatusPanel[i]] = *f;
  }
  // The panels' optional parts: a flag field, then its fields when it is present and not 0.
  const auto flagged = [this](const std::vector<std::string> &fields, size_t &next,
                              std::initializer_list<ui::ControlId> ids) {
    const std::string *flag = Field(fields, next++);
    if (flag != nullptr && Number(*flag) != 0) {
      for (const ui::ControlId id : ids)
        if (const std::string *f = Field(fields, next++)) shown_[id] = *f;
    } else {
      for (const ui::ControlId id : ids) shown_[id] = std::string(msg::kNotAvailable);
    }
  };
  if (Send(reply, "Z0", cmd::kRegistrationData)) {
    const auto fields = SplitFields(reply);
    size_t next = 1;
    for (const ui::ControlId id : {1142, 1143, 1144}) {
      if (const std::string *f = Field(fields, next)) shown_[id] = *f;
      ++next;
    }
    flagged(fields, next, {1145});
    flagged(fields, next, {1147, 1146});
  }
  if (Send(reply, "X0", cmd::kRegistrationData)) {
    const auto fields = SplitFields(reply);
    size_t next = 1;
    for (const ui::ControlId id : {1148, 1149, 1151, 1150}) {
      if (const std::string *f = Field(fields, next)) shown_[id] = *f;
      ++next;
    }
    flagged(fields, next, {1153, 1152});
  }
  wait.Restore();
  status_ = msg::kExecutedOk;
  UpdateData(false);
  ApplyEnabling();
}

void CRegData::OnOK() { WriteAll(); }

bool CRegData::WriteAll() {
  if (!UpdateData(true)) return false;
  status_ = msg::kErrorState;
  ui::WaitCursor wait(Prompter());
  std::string reply;
  bool ok = true;
  for (size_t p = 0; ok && p < kTextParameters; ++p) {
    // An empty parameter goes out as one blank, never as nothing behind the comma.
    if (texts_[p].empty()) texts_[p] = " ";
    ok = Send(reply, "P" + std::to_string(p) + "," + texts_[p], cmd::kRegistrationData);
  }
  // The blank entry of list D stands for 1.
  if (ok && number_ == 0) number_ = 1;
  char date[48];
  std::snprintf(date, sizeof date, "A23,%02d-%02d-%02d", date_.day, date_.month, date_.year - 2000);
  for (const std::string &data :
       {"S16," + std::to_string(action_), "S17," + std::to_string(number_), "S18," + std::to_string(operator_),
        "S19," + texts_[19], "S20," + texts_[20], "S21," + std::to_string(idKind_),
        "S22," + std::to_string(numberKind_), std::string(date)}) {
    if (!ok) break;
    ok = Send(reply, data, cmd::kRegistrationData);
  }
  if (!ok) {
    Prompter().Inform(msg::kParametersWriteError);
  } else {
    status_ = msg::kExecutedOk;
  }
  wait.Restore();
  UpdateData(false);
  return ok;
}

void CRegData::Execute() {
  if (!UpdateData(true)) return;
  if (checkExisting_ && action_ != kRegistration) {
    Prompter().Inform(msg::kChooseRegistration, {}, ui::Icon::Error);
    status_.clear();
    UpdateData(false);
    return;
  }
  UpdateData(false);
  WriteAll();  // a failed write has shown its box; the procedure is started all the same
  if (!UpdateData(true)) return;
  ui::WaitCursor wait(Prompter());
  int result = 0;
  int error = 999;
  std::string text;
  std::string reply;
  if (Send(reply, checkExisting_ ? "5" : std::to_string(action_), cmd::kRegistrationProcedure)) {
    const auto fields = SplitFields(reply);
    if (const std::string *f = Field(fields, 1)) result = Number(*f);
    if (const std::string *f = Field(fields, 2)) error = Number(*f);
    if (const std::string *f = Field(fields, 3)) text = *f;
  }
  wait.Restore();
  if (result != 0) {
    Prompter().Inform(msg::kCarriedOut, {}, ui::Icon::Information);
    status_ = std::to_string(error) + ", " + std::string(msg::kExecutedOk);
  } else {
    Prompter().Inform(msg::kNotCarriedOut, {}, ui::Icon::Error);
    status_ = error != 999 ? std::string(msg::kErrorNumber) + ":" + std::to_string(error) + ", " +
                                 WidgetCodePage().ToWidget(text)
                           : std::to_string(error) + ", " + std::string(msg::kExecutionFailed);
  }
  UpdateData(false);
}

void CRegData::TestGprs() {
  if (!UpdateData(true)) return;
  ui::WaitCursor wait(Prompter());
  std::string reply;
  int value = 0;
  if (Send(reply, "4", cmd::kRegistrationProcedure)) {
    const auto fields = SplitFields(reply);
    if (const std::string *f = Field(fields, 1)) value = Number(*f);
  }
  wait.Restore();
  if (value != 0)
    Prompter().Inform(msg::kGprsCheckOk, {}, ui::Icon::Information);
  else
    Prompter().Inform(msg::kGprsError, {}, ui::Icon::Error);
  status_ = msg::kExecutedOk;
  UpdateData(false);
}

void CRegData::ApplyEnabling() {
  const bool deregistration = action_ == kDeregistration;
  for (size_t p = 0; p < kTextParameters; ++p)
    if (p != 5) View().SetEnabled(kParameterIds[p], !deregistration);
  View().SetEnabled(kParameterIds[19], !deregistration);
  View().SetEnabled(kParameterIds[20], !deregistration);
  View().SetEnabled(kOperatorList, !deregistration);
  View().SetEnabled(kNumberList, deregistration);
  View().SetEnabled(kIdKindList, action_ == kRegistration);
}

}  // namespace tillwright
