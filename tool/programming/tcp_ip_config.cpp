#include "programming/tcp_ip_config.h"

#include "core/command_codes.h"
#include "core/fields.h"
#include "core/messages.h"
#include "dialogs/data_exchange.h"

namespace tillwright {

tcpIpConfig::tcpIpConfig(ILink &link) : Dialog("tcp_ip_config"), link_(link) {
  for (ui::ControlId id : kAddressFields) Uses({id});
  Uses({ui::kIdOk, ui::kIdCancel});
  // Only the box is taken: a click never brings an address field's refusal.
  On(kDhcpBox, ui::Event::Clicked, [this] {
    dhcp_ = View().Checked(kDhcpBox);
    EnableAddresses();
  });
}

void tcpIpConfig::DoDataExchange(ui::DataExchange &dx) {
  for (size_t i = 0; i < kAddressFields.size(); ++i) dx.Address(kAddressFields[i], addresses_[i]);
  dx.Check(kDhcpBox, dhcp_);
}

void tcpIpConfig::EnableAddresses() {
  for (ui::ControlId id : kAddressFields) View().SetEnabled(id, !dhcp_);
}

void tcpIpConfig::OnInitDialog() {
  Dialog::OnInitDialog();
  ui::WaitCursor wait(Prompter());
  std::string reply;
  std::string request = cmd::kRead;
  if (link_.SendCommand(reply, request, cmd::kTcpIp) == 0) {
    read_ = true;
    // Pieces keep their places (an empty one reads 0), and numbers the reply lacks are 0. A
    // number above 255 is added into its address as it stands, so it carries into the octet
    // before it; the sum wraps at 32 bits.
    const auto pieces = SplitPieces(reply);
    for (size_t a = 0; a < addresses_.size(); ++a) {
      uint32_t address = 0;
      for (size_t octet = 0; octet < 4; ++octet) {
        const size_t at = a * 4 + octet;
        const auto value = static_cast<uint32_t>(at < pieces.size() ? LeadingInteger(pieces[at]) : 0);
        address += value << (8 * (3 - octet));
      }
      addresses_[a] = address;
    }
    dhcp_ = addresses_[kMask] == 0;
  }
  EnableAddresses();
  wait.Restore();
  UpdateData(false);
}

void tcpIpConfig::OnOK() {
  if (!UpdateData(true)) return;
  // Fields that were never read hold zeros, not the device's addresses.
  if (!read_ && !Prompter().AskYesNo(msg::kTcpIpNotRead)) return;
  ui::WaitCursor wait(Prompter());
  std::string request = cmd::kWrite + std::to_string(dhcp_ ? cmd::kTcpIpDhcp : cmd::kTcpIpStatic);
  for (const uint32_t address : addresses_) {
    for (int shift = 24; shift >= 0; shift -= 8) request += ',' + std::to_string(address >> shift & 0xFF);
  }
  std::string reply;
  if (link_.SendCommand(reply, request, cmd::kTcpIp) == 0) {
    wait.Restore();
    EndDialog(ui::kResultOk);
    return;
  }
  wait.Restore();
  Prompter().Inform(msg::kParametersError);
}

}  // namespace tillwright
