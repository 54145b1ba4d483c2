#include "registration/fiscalization.h"

#include "core/code_page.h"
#include "core/command_codes.h"
#include "core/fields.h"
#include "core/messages.h"

namespace tillwright {

std::string_view FiscalizationMessage(std::string_view reply) {
  if (reply == "P") return {};
  if (reply == "1") return msg::kAlreadyFiscalized;
  if (reply == "2") return msg::kNoSerial;
  if (reply == "3") return msg::kDifferentSerial;
  if (reply == "4") return msg::kOpenReceipt;
  if (reply == "5") return msg::kZReportNecessary;
  if (reply == "8") return msg::kInvoiceRange;
  if (reply == "6") return msg::kJournalActivationNeeded;
  return msg::kFiscalError;
}

CFiscalization::CFiscalization(AppState &state, ILink &link)
    : Dialog("fiscalization"), state_(state), link_(link) {
  Uses({kSerialField, kTaxNumberField, kVatBox, ui::kIdOk, ui::kIdCancel});
}

void CFiscalization::DoDataExchange(ui::DataExchange &dx) {
  DeviceText(dx, kSerialField, serial_);
  DeviceText(dx, kTaxNumberField, taxNumber_);
  dx.Check(kVatBox, vatRegistered_);
}

void CFiscalization::OnOK() {
  if (!UpdateData(true)) return;
  ui::WaitCursor wait(Prompter());

  std::string reply;
  std::string request;
  if (link_.SendCommand(reply, request, cmd::kJournalState) == 0) {
    const auto fields = SplitFields(reply);
    if (!fields.empty() && fields[0][0] == '0') {
      if (!Prompter().AskOkCancel(msg::kJournalActivationNeeded)) return;
      request.clear();
      if (link_.SendCommand(reply, request, cmd::kActivateJournal) != 0) {
        wait.Restore();
        Prompter().Inform(msg::kJournalActivationError, {}, ui::Icon::Information);
        return;
      }
    }
  }

  request = serial_ + "," + taxNumber_ + "\n" + (vatRegistered_ ? "1" : "0");
  reply.clear();
  link_.SendCommand(reply, request, cmd::kFiscalize);
  state_.fiscalResultText = std::string(msg::kResult) + ":" + reply + "  " + std::string(msg::kState) + ":";
  const std::string_view message = FiscalizationMessage(reply);
  if (!message.empty()) Prompter().Inform(message, {}, ui::Icon::Information);

  UpdateData(false);
  wait.Restore();
  EndDialog(0);
}

}  // namespace tillwright
