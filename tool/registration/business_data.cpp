#include "registration/business_data.h"

#include <algorithm>

#include "core/code_page.h"
#include "core/command_codes.h"
#include "core/fields.h"
#include "core/messages.h"

namespace tillwright {

CBusinessData::CBusinessData(ILink &link) : Dialog("business_data"), link_(link) {
  for (const ui::ControlId id : kAddressIds) Uses({id});
  Uses({kWorkingHours, kSpecificPurpose, kClosingBox, ui::kIdOk, ui::kIdCancel});
}

void CBusinessData::OnInitDialog() {
  Dialog::OnInitDialog();
  UpdateData(true);
  ui::WaitCursor wait(Prompter());
  std::string reply;
  std::string request = "R";
  // Every piece keeps its place, so that an empty field never moves the ones after it; an empty
  // piece leaves its field as it was. A failed read is silent.
  if (link_.SendCommand(reply, request, cmd::kPremisesAddress) == 0) {
    const auto pieces = SplitFieldsInPlace(reply);
    for (size_t i = 0; i < kAddressFields && i < pieces.size(); ++i)
      if (!pieces[i].empty()) address_[i] = pieces[i];
  }
  request = "R";
  if (link_.SendCommand(reply, request, cmd::kPremisesHours) == 0) {
    const auto pieces = SplitFieldsInPlace(reply);
    if (pieces.size() > 0 && !pieces[0].empty()) closing_ = LeadingInteger(pieces[0]) != 0;
    if (pieces.size() > 1 && !pieces[1].empty()) workingHours_ = pieces[1];
    if (pieces.size() > 2 && !pieces[2].empty()) specificPurpose_ = pieces[2];
  }
  wait.Restore();
  UpdateData(false);
}

void CBusinessData::DoDataExchange(ui::DataExchange &dx) {
  // The address and the purpose go out as comma-separated fields: a comma in one would move the
  // rest. The hours' commas become semicolons on the way out.
  for (size_t i = 0; i < kAddressFields; ++i) SeparatedDeviceText(dx, kAddressIds[i], address_[i]);
  DeviceText(dx, kWorkingHours, workingHours_);
  SeparatedDeviceText(dx, kSpecificPurpose, specificPurpose_);
  dx.Check(kClosingBox, closing_);
}

bool CBusinessData::Write(uint16_t code, std::string data) {
  std::string reply;
  if (link_.SendCommand(reply, data, code) == 0) return true;
  Prompter().Inform(msg::kWriteError, {}, ui::Icon::Error);
  return false;
}

void CBusinessData::OnOK() {
  if (!UpdateData(true)) return;
  ui::WaitCursor wait(Prompter());
  std::string address = "P";
  for (size_t i = 0; i < kAddressFields; ++i) address += (i == 0 ? "" : ",") + address_[i];
  // The hours are one field: their commas become semicolons.
  std::string hours = workingHours_;
  std::replace(hours.begin(), hours.end(), ',', ';');
  if (Write(cmd::kPremisesAddress, address) &&
      Write(cmd::kPremisesHours, "P" + std::string(closing_ ? "1" : "0") + hours + "," + specificPurpose_)) {
    std::string reply;
    std::string request;
    if (link_.SendCommand(reply, request, cmd::kPremisesConclude) != 0)
      Prompter().Inform(WidgetCodePage().ToWidget(reply), {}, ui::Icon::Error);
    else if (!reply.empty() && reply[0] == 'P')
      Prompter().Inform(msg::kOk);
    else
      Prompter().Inform(WidgetCodePage().ToWidget(reply.empty() ? reply : reply.substr(1)), {}, ui::Icon::Error);
  }
  wait.Restore();
  EndDialog(ui::kResultOk);
}

}  // namespace tillwright
