#include "programming/dev_code_tbl.h"

#include "core/command_codes.h"
#include "dialogs/data_exchange.h"
#include "settings/settings.h"

namespace tillwright {
namespace {

constexpr const char *kCodePages[] = {"WIN1251", "DOS"};
constexpr const char *kDownloadError = "Code table downloading error!!!";
}  // namespace

std::array<std::string, 4> CDevCodeTbl::Blocks(int codePage) { return CodeTableBlocks(codePage); }

CDevCodeTbl::CDevCodeTbl(ILink &link) : Dialog("dev_code_tbl"), link_(link) {
  Uses({kCodePageCombo, ui::kIdOk, ui::kIdCancel});
}

void CDevCodeTbl::OnInitDialog() {
  View().SetItems(kCodePageCombo, {kCodePages[0], kCodePages[1]});
  Dialog::OnInitDialog();
}

void CDevCodeTbl::DoDataExchange(ui::DataExchange &dx) { dx.Selection(kCodePageCombo, codePage_); }

void CDevCodeTbl::OnOK() {
  if (!UpdateData(true)) return;
  // Nothing chosen: there is no table to send, and a half-known one is worse than none.
  if (codePage_ != kWin1251 && codePage_ != kDos) return;
  ui::WaitCursor wait(Prompter());
  for (const std::string &block : Blocks(codePage_)) {
    std::string request = block;
    std::string reply;
    if (link_.SendCommand(reply, request, cmd::kCodeTable) != 0) {
      // The blocks sent before stay in the device; sending the table again repairs it.
      wait.Restore();
      Prompter().Inform(kDownloadError);
      EndDialog(ui::kResultOk);
      return;
    }
  }
  wait.Restore();
  EndDialog(ui::kResultOk);
}

}  // namespace tillwright
