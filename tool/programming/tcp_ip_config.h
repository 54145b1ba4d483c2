// The device's wired network addressing: automatic configuration (DHCP), or a static address with
// mask, gateway and two name servers.
#pragma once

#include <array>
#include <cstdint>

#include "core/link.h"
#include "dialogs/dialog.h"

namespace tillwright {

class tcpIpConfig : public ui::Dialog {
 public:
  // The address controls in the order the device lists them: address, mask, gateway, DNS1, DNS2.
  static constexpr std::array<ui::ControlId, 5> kAddressFields = {1182, 1183, 1185, 1186, 1187};
  static constexpr size_t kMask = 1;
  static constexpr ui::ControlId kDhcpBox = 1043;

  explicit tcpIpConfig(ILink &link);

  // Reads the settings; a mask of 0.0.0.0 means automatic configuration.
  void OnInitDialog() override;
  // Writes the mode and all five addresses, after asking when the settings were never read.
  void OnOK() override;

  // Whether the opening read succeeded.
  bool SettingsRead() const { return read_; }

 protected:
  void DoDataExchange(ui::DataExchange &dx) override;

 private:
  void EnableAddresses();

  ILink &link_;
  std::array<uint32_t, kAddressFields.size()> addresses_{};
  bool dhcp_ = false;
  bool read_ = false;
};

}  // namespace tillwright
