#include "cli/device.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <cerrno>
#include <cstring>

#include "core/command_codes.h"
#include "core/messages.h"
#include "core/port_scan.h"
#include "platform/port_names.h"
#include "platform/serial_port.h"
#include "programming/report_precheck.h"
#include "seriallink/link.h"
#include "seriallink/settings.h"

namespace tillwright::cli {
namespace {

// The tool's line settings for its scan: 8 data bits, no parity, one stop bit.
constexpr uint32_t kBaudRate = 115200;
constexpr uint16_t kDataBits = 8;
constexpr uint16_t kNoParity = 0;
constexpr uint16_t kOneStopBit = 0;

int Send(ILink &link, uint16_t code, std::string data, std::string &reply) {
  return link.SendCommand(reply, data, code);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Why `port` did not open, when the port itself is the reason: a name refused, or a port that
// another program holds. Empty otherwise (then no device answered there).
std::string PortOpenProblem(const std::string &port) {
  std::string refusal;
  if (platform::ResolvePortName(port, &refusal).empty() && !refusal.empty()) return refusal;
  platform::SerialPort probe;
  const int error = probe.Open(port);
#ifdef _WIN32
  // Windows refuses a second opener of a COM port with "access denied".
  if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) return port + " is in use by another program";
#else
  if (error == EBUSY) return port + " is in use by another program";
  if (error == EACCES || error == EPERM) return port + " cannot be opened: permission denied";
#endif
  return {};
}

}  // namespace

std::vector<std::string> CandidatePorts() {
  // USB first, then the main dialog's own scan list.
  std::vector<std::string> ports{kUsbPort};
  for (std::string &port : ScanPortNames()) ports.push_back(std::move(port));
  return ports;
}

CliLink::CliLink(LinkBackends backends) : backends_(std::move(backends)) {}

CliLink::CliLink() : backends_(RealBackends()) { seriallink::SetFlavour(seriallink::Flavour::Tool()); }

CliLink::~CliLink() { Close(); }

bool CliLink::Open(const std::string &port) {
  Close();
  port_ = port;
  openProblem_.clear();
  usb_ = port == kUsbPort || port == "usb";
  routed_ = backends_;
  if (usb_) {
    if (backends_.testConnection() == 0) return false;
    routed_.testConnection = [] { return 1; };
    routed_.request = [this, request = backends_.request](uint16_t code, const char *data, char *reply,
                                                          uint8_t *status) {
      const int result = request(code, data, reply, status);
      transportFailed_ = result != 0;
      if (result == 0) {
        std::array<uint8_t, 6> bytes{};
        std::memcpy(bytes.data(), status, bytes.size());
        usbStatus_ = bytes;
      }
      return result;
    };
  } else {
    // A named COM port is that port even while a USB device is plugged in.
    routed_.testConnection = [] { return 0; };
    routed_.serialCommand = [this, command = backends_.serialCommand](uint16_t code, std::string_view data) {
      SerialCommandResult result = command(code, data);
      transportFailed_ = result.code != 0;
      return result;
    };
    if (SerialConnect(port, kBaudRate, kDataBits, kNoParity, kOneStopBit) != 0) {
      openProblem_ = PortOpenProblem(port);
      return false;
    }
  }
  std::string reply;
  // A device that answers, even with its error flag, is there.
  if (Send(*this, cmd::kReadDateTime, {}, reply) == 0 || reply != msg::kConnectionError) return true;
  if (Send(*this, cmd::kImsi, {}, reply) == 0) return true;
  Close();
  return false;
}

void CliLink::Close() {
  SerialDisconnect();
  usb_ = false;
  lastStatus_.clear();
  usbStatus_.reset();
}

int CliLink::SendCommand(std::string &reply, std::string &data, uint16_t code) {
  // A command that fails before its reply leaves no status: the previous one's is no answer to it.
  lastStatus_.clear();
  if (!usb_ && !serialOpen_) {
    reply = msg::kConnectionError;
    failure_ = Failure::Lost;
    return 1;
  }
  usbStatus_.reset();
  transportFailed_ = false;
  const int result = tillwright::SendCommand(routed_, reply, data, code, lastStatus_);
  failure_ = result == 0 ? Failure::None : transportFailed_ ? Failure::Lost : Failure::Refused;
  if (usb_) {
    lastStatus_.clear();
    if (usbStatus_) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      for (const uint8_t b : *usbStatus_) {
        lastStatus_ += kHex[(b & 0x7F) >> 4];
        lastStatus_ += kHex[b & 0x0F];
      }
    }
  }
  return result;
}

int CliLink::SerialConnect(const std::string &port, uint32_t baudRate, uint16_t dataBits, uint16_t parity,
                           uint16_t stopBits) {
  SerialDisconnect();
  const int result = seriallink::Connect(port, baudRate, dataBits, parity, stopBits);
  // The engine keeps a port that failed to open as its connection until told otherwise.
  if (result != 0) seriallink::Disconnect();
  serialOpen_ = result == 0;
  return result;
}

void CliLink::SerialDisconnect() {
  if (serialOpen_) seriallink::Disconnect();
  serialOpen_ = false;
}

std::optional<std::array<uint8_t, 6>> CliLink::LastStatusBytes() const {
  if (usb_) return usbStatus_;
  if (lastStatus_.size() != 12) return std::nullopt;
  std::array<uint8_t, 6> bytes{};
  for (size_t i = 0; i < bytes.size(); ++i) {
    const int high = HexDigit(lastStatus_[2 * i]);
    const int low = HexDigit(lastStatus_[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return bytes;
}

bool ReadIdentity(ILink &link, Identity &identity) {
  std::string reply;
  if (Send(link, cmd::kDeviceInfo, cmd::kDeviceInfoRequest, reply) != 0) return false;
  const DeviceIdentity info = ReadDeviceInfo(reply);
  identity = {info.Model(), info.firmware, info.firmwareDate, info.serialNumber, info.fiscalMemoryNumber};
  return true;
}

bool ReadGroup(ILink &link, Group group, Backup &backup, std::string *unreadable) {
  std::string reply;
  switch (group) {
    case Group::Header: {
      std::array<std::string, kTextLines> lines;
      for (size_t line = 0; line < kTextLines; ++line) {
        if (Send(link, cmd::kTextLine, TextLineReadData(line), lines[line]) != 0) return false;
        // A cleared line goes out as one blank (TextLineWriteData), and comes back as one.
        if (lines[line] == " ") lines[line].clear();
      }
      backup.header = lines;
      return true;
    }
    case Group::Vat:
    {
      if (Send(link, cmd::kTaxRates, {}, reply) != 0) return false;
      std::string bad;
      const auto vat = VatFromReply(reply, &bad);
      if (!vat) {
        if (unreadable != nullptr) *unreadable = "\"" + bad + "\" is no rate of 0 to 99.99";
        return false;
      }
      backup.vat = *vat;
      return true;
    }
    case Group::DateTime:
      if (Send(link, cmd::kReadDateTime, {}, reply) != 0) return false;
      backup.dateTime = reply;
      return true;
    case Group::TcpIp:
      if (Send(link, cmd::kTcpIp, cmd::kRead, reply) != 0) return false;
      backup.tcpIp = ReadTcpIp(reply);
      return true;
    case Group::Gprs: {
      if (Send(link, cmd::kGprs, cmd::kRead, reply) != 0) return false;
      std::string apn, user, password;
      ReadGprs(reply, apn, user, password);
      backup.gprs = GprsSettings{apn, user};
      return true;
    }
  }
  return false;
}

Written WriteHeaderLines(ILink &link, ui::IPrompter &prompter, const std::array<std::string, kTextLines> &header,
                         const std::vector<size_t> &lines, std::vector<size_t> *written) {
  bool advertisement = false;
  for (const size_t line : lines) advertisement = advertisement || line >= kHeaderTextLines;
  if (advertisement && !ReportPreCheck(link, prompter)) return Written::Declined;
  size_t done = 0;
  for (const size_t line : lines) {
    std::string reply;
    if (Send(link, cmd::kTextLine, TextLineWriteData(line, header[line]), reply) != 0)
      return done == 0 ? Written::None : Written::Part;
    ++done;
    if (written != nullptr) written->push_back(line);
  }
  return Written::All;
}

Written WriteVat(ILink &link, ui::IPrompter &prompter, const VatRates &vat) {
  if (!ReportPreCheck(link, prompter)) return Written::Declined;
  std::string reply;
  return Send(link, cmd::kSetTaxRates, VatWriteData(vat), reply) == 0 ? Written::All : Written::None;
}

Written WriteTcpIp(ILink &link, const TcpIpSettings &settings) {
  std::string reply;
  return Send(link, cmd::kTcpIp, TcpIpWriteData(settings), reply) == 0 ? Written::All : Written::None;
}

Written WriteGprs(ILink &link, const GprsSettings &settings, const std::optional<std::string> &password) {
  std::string reply;
  std::string apn, user, current;
  if (!password) {
    if (Send(link, cmd::kGprs, cmd::kRead, reply) != 0) return Written::None;
    ReadGprs(reply, apn, user, current);
  }
  return Send(link, cmd::kGprs, GprsWriteData(settings.apn, settings.user, password.value_or(current)), reply) == 0
             ? Written::All
             : Written::None;
}

}  // namespace tillwright::cli
