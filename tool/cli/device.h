// tillwright-cli's way to a device: the tool's links (USB through the transport library, COM
// ports through the serial link engine), the same probe as the tool's port scan, and each
// settings group read and written with the shared requests of settings/settings.h.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/backup_file.h"
#include "core/link.h"
#include "core/send_command.h"
#include "dialogs/prompter.h"

namespace tillwright::cli {

inline constexpr const char *kUsbPort = "USB";

// Where a device is looked for when no port is named: USB first, then the Connect scan's ports
// (COM1..COM20, then on Linux the USB serial devices that exist).
std::vector<std::string> CandidatePorts();

// One device on one link: USB or a serial port, never switching between them behind the
// caller's back. Keeps the six status bytes of the last command.
class CliLink final : public ILink {
 public:
  // `backends` replaceable for tests; the real ones by default.
  explicit CliLink(LinkBackends backends);
  CliLink();
  ~CliLink() override;

  // Opens `port` ("USB", a COM name or a path) and checks that a device answers there, as the
  // tool's scan does (command 62, then 200). False when nothing answers.
  bool Open(const std::string &port);
  void Close();
  const std::string &Port() const { return port_; }
  bool Usb() const { return usb_; }

  int TestConnection() override { return usb_ ? 1 : 0; }
  int SendCommand(std::string &reply, std::string &data, uint16_t code) override;
  int SerialConnect(const std::string &port, uint32_t baudRate, uint16_t dataBits, uint16_t parity,
                    uint16_t stopBits) override;
  int SerialSetWindow(int32_t) override { return 0; }
  void SerialDisconnect() override;
  std::string LastStatus() const override { return lastStatus_; }
  void ClearLastStatus() override { lastStatus_.clear(); }

  // Whether the last command failed for want of an answer rather than by the device's refusal.
  bool Lost() const { return lost_; }

  // The six status bytes of the last command that carried them. Over a serial line the engine
  // hands them over with bit 7 cleared.
  std::optional<std::array<uint8_t, 6>> LastStatusBytes() const;

 private:
  LinkBackends backends_;
  LinkBackends routed_;  // backends_ held to the chosen link
  std::string port_;
  bool usb_ = false;
  bool serialOpen_ = false;
  bool lost_ = false;
  std::string lastStatus_;
  std::optional<std::array<uint8_t, 6>> usbStatus_;
};

// Reads the identity (command 90); false when the device refuses.
bool ReadIdentity(ILink &link, Identity &identity);

// Reads `group` into `backup`; false when the device refused a command of it.
bool ReadGroup(ILink &link, Group group, Backup &backup);

// What a write did: everything, nothing, part (the header's lines are written one by one), or
// nothing because the person declined a report the device needs first.
enum class Written { All, None, Part, Declined };

// Header lines: only `lines`, each after the report pre-check when it is an advertisement line.
Written WriteHeaderLines(ILink &link, ui::IPrompter &prompter, const std::array<std::string, kTextLines> &header,
                         const std::vector<size_t> &lines);
Written WriteVat(ILink &link, ui::IPrompter &prompter, const VatRates &vat);
Written WriteTcpIp(ILink &link, const TcpIpSettings &settings);
// The device's current password goes back with the access point and user; it is read first.
Written WriteGprs(ILink &link, const GprsSettings &settings, const std::optional<std::string> &password);

}  // namespace tillwright::cli
