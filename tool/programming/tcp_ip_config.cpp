#include "programming/tcp_ip_config.h"

#include "core/command_codes.h"
#include "core/messages.h"
#include "dialogs/data_exchange.h"
#include "settings/settings.h"

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
    const TcpIpSettings settings = ReadTcpIp(reply);
    addresses_ = settings.addresses;
    dhcp_ = settings.dhcp;
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
  TcpIpSettings settings;
  settings.addresses = addresses_;
  settings.dhcp = dhcp_;
  std::string request = TcpIpWriteData(settings);
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
