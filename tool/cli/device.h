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
  // tool's scan does (command 62, then 200). False when nothing answers; OpenProblem() then says
  // why the port itself could not be opened, when that was the reason.
  bool Open(const std::string &port);
  const std::string &OpenProblem() const { return openProblem_; }
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

  // How the last command failed. Lost: no answer, a garbled one, or the link went away; Refused:
  // the device answered with its error flag.
  enum class Failure { None, Refused, Lost };
  Failure LastFailure() const { return failure_; }
  bool Lost() const { return failure_ == Failure::Lost; }

  // The six status bytes of the last command that carried them. Over a serial line the engine
  // hands them over with bit 7 cleared.
  std::optional<std::array<uint8_t, 6>> LastStatusBytes() const;

 private:
  LinkBackends backends_;
  LinkBackends routed_;  // backends_ held to the chosen link
  std::string port_;
  bool usb_ = false;
  bool serialOpen_ = false;
  bool transportFailed_ = false;  // the last command's link failed, whatever the reply says
  Failure failure_ = Failure::None;
  std::string openProblem_;
  std::string lastStatus_;
  std::optional<std::array<uint8_t, 6>> usbStatus_;
};

// Reads the identity (command 90); false when the device refuses.
bool ReadIdentity(ILink &link, Identity &identity);

// Reads `group` into `backup`; false when a command of it failed, or when the device answered
// with something that is no value of the group: then *unreadable (when given) quotes it.
bool ReadGroup(ILink &link, Group group, Backup &backup, std::string *unreadable = nullptr);

// What a write did: everything, nothing, part (the header's lines are written one by one), or
// nothing because the person declined a report the device needs first.
enum class Written { All, None, Part, Declined };

// Header lines: only `lines`, each after the report pre-check when it is an advertisement line.
// The lines the device took go to *written when given.
Written WriteHeaderLines(ILink &link, ui::IPrompter &prompter, const std::array<std::string, kTextLines> &header,
                         const std::vector<size_t> &lines, std::vector<size_t> *written = nullptr);
Written WriteVat(ILink &link, ui::IPrompter &prompter, const VatRates &vat);
Written WriteTcpIp(ILink &link, const TcpIpSettings &settings);
// The device's current password goes back with the access point and user; it is read first.
Written WriteGprs(ILink &link, const GprsSettings &settings, const std::optional<std::string> &password);

}  // namespace tillwright::cli
