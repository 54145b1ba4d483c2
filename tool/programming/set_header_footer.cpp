#include "programming/set_header_footer.h"

#include "core/code_page.h"
#include "core/command_codes.h"
#include "programming/report_precheck.h"
#include "settings/settings.h"

namespace tillwright {

CSetheaderFooter::CSetheaderFooter(ILink &link) : Dialog("set_header_footer"), link_(link) {
  for (size_t slot = 0; slot < kLines; ++slot) Uses({SlotField(slot)});
  Uses({ui::kIdOk, ui::kIdCancel});
  On(kAdvertisementOnlyBox, ui::Event::Clicked, [this] { ApplyReadOnly(true); });
  On(kUnfixedOnlyBox, ui::Event::Clicked, [this] { ApplyReadOnly(false); });
}

void CSetheaderFooter::OnInitDialog() {
  Dialog::OnInitDialog();
  ui::WaitCursor wait(Prompter());
  for (size_t line = 0; line < kLines; ++line) {
    std::string reply;
    std::string request = TextLineReadData(line);
    if (link_.SendCommand(reply, request, cmd::kTextLine) != 0) break;
    current_[kSlotOfLine[line]] = reply;
    device_[kSlotOfLine[line]] = reply;
  }
  wait.Restore();
  UpdateData(false);
}

void CSetheaderFooter::DoDataExchange(ui::DataExchange &dx) {
  for (size_t slot = 0; slot < kLines; ++slot) DeviceText(dx, SlotField(slot), current_[slot]);
  dx.Check(kAdvertisementOnlyBox, advertisementOnly_);
  dx.Check(kUnfixedOnlyBox, unfixedOnly_);
}

void CSetheaderFooter::ApplyReadOnly(bool advertisementBox) {
  advertisementOnly_ = View().Checked(kAdvertisementOnlyBox);
  unfixedOnly_ = View().Checked(kUnfixedOnlyBox);
  // Each box sets its own fields to its own value; the last one clicked wins where they overlap.
  if (!advertisementBox) {
    for (size_t slot = 0; slot < kUnfixedSlots; ++slot) View().SetReadOnly(SlotField(slot), unfixedOnly_);
    return;
  }
  for (size_t line = 0; line < kHeaderLines; ++line)
    View().SetReadOnly(SlotField(kSlotOfLine[line]), advertisementOnly_);
}

void CSetheaderFooter::OnOK() {
  if (!UpdateData(true)) return;
  ui::WaitCursor wait(Prompter());
  const size_t firstAd = kSlotOfLine[kHeaderLines];
  const size_t secondAd = kSlotOfLine[kHeaderLines + 1];
  if (current_[firstAd] != device_[firstAd] || current_[secondAd] != device_[secondAd]) {
    if (!ReportPreCheck(link_, Prompter())) return;
  }
  for (size_t line = advertisementOnly_ ? kHeaderLines : 0; line < kLines; ++line) {
    const size_t slot = kSlotOfLine[line];
    if (current_[slot] == device_[slot]) continue;
    // A cleared line goes out as one blank, never as the number alone.
    if (current_[slot].empty()) current_[slot] = " ";
    std::string request = TextLineWriteData(line, current_[slot]);
    std::string reply;
    if (link_.SendCommand(reply, request, cmd::kTextLine) != 0) break;
    device_[slot] = current_[slot];
  }
  wait.Restore();
  EndDialog(ui::kResultOk);
}

}  // namespace tillwright
