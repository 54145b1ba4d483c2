// The device's settings as requests and replies, one copy for the dialogs and tillwright-cli:
// the data each command takes and how each reply is read. No toolkit and no link here; callers
// send the data through their ILink.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace tillwright {

// Header and advertisement lines (command 43): lines 0..7 are the header, 8 and 9 the
// advertisement lines, which need the report pre-check before they change.
inline constexpr size_t kTextLines = 10;
inline constexpr size_t kHeaderTextLines = 8;
inline constexpr size_t kTextLineMax = 48;  // the device's line buffer, in bytes
std::string TextLineReadData(size_t line);
// A cleared line goes out as one blank, never as the number alone.
std::string TextLineWriteData(size_t line, const std::string &text);

// Tax rates (commands 97 and 96): groups A, B, C, D and PnP.
inline constexpr size_t kTaxGroups = 5;
inline constexpr double kTaxRateMax = 99.99;
// The reply of command 97 into the five groups. A piece that begins with '-' marks an undefined
// group; an empty piece is one too, in its own place, so that the groups after it keep theirs.
// Groups the reply does not name keep their values.
void ReadTaxRates(std::string_view reply, std::array<double, kTaxGroups> &rates,
                  std::array<bool, kTaxGroups> &undefined);
// The write data: "%2.2f" of each of the five rates, -1.00 for an undefined group, comma
// separated; always with a point, whatever the locale.
std::string TaxRatesData(const std::array<double, kTaxGroups> &rates, const std::array<bool, kTaxGroups> &undefined);

// TCP/IP (command 37): address, mask, gateway, DNS1, DNS2; a mask of 0.0.0.0 means DHCP.
struct TcpIpSettings {
  static constexpr size_t kMask = 1;
  std::array<uint32_t, 5> addresses{};
  bool dhcp = false;
};
// Pieces keep their places (an empty one reads 0), and numbers the reply lacks are 0. A number
// above 255 is added into its address as it stands, so it carries into the octet before it; the
// sum wraps at 32 bits.
TcpIpSettings ReadTcpIp(std::string_view reply);
std::string TcpIpWriteData(const TcpIpSettings &settings);
std::string DottedAddress(uint32_t address);

// GPRS (command 176): access point, user, password, each between commas.
inline constexpr size_t kGprsTextMax = 64;
// Each piece in its place: an empty user must not hand the password to the user field. A piece
// the reply lacks leaves its value as it was.
void ReadGprs(std::string_view reply, std::string &apn, std::string &user, std::string &password);
std::string GprsWriteData(const std::string &apn, const std::string &user, const std::string &password);

// Operators (commands 102 and 101): written only, the device gives neither back.
inline constexpr size_t kOperatorIdNumberMax = 11;
// At least two digits, with its sign.
std::string OperatorNumber(int32_t number);
std::string OperatorNameData(int32_t number, const std::string &password, const std::string &name,
                             const std::string &idNumber);
std::string OperatorPasswordData(int32_t number, const std::string &oldPassword, const std::string &newPassword);

// Code tables (command 164): written only. The four blocks for a code page, in the order they
// are sent: "80,", "A0,", "C0,", "E0," each followed by the font positions of its 32 codes in
// hexadecimal.
inline constexpr int kCodePageWin1251 = 0;
inline constexpr int kCodePageDos = 1;
std::array<std::string, 4> CodeTableBlocks(int codePage);

// Date and time (commands 62 and 61): "%d-%m-%y %H:%M:%S"; the device takes a two-digit year.
std::string DeviceDateTimeText(const std::tm &local);

// A logo row (command 115): "<row>,<hex>".
std::string LogoRowData(size_t row, const std::vector<uint8_t> &bytes);

// Device information (command 90 with "0"), split at commas with empty fields skipped:
// firmware text (its first word names the model), firmware date, checksum, switches, serial
// number, fiscal memory number, IMSI. A field the reply lacks is empty.
struct DeviceIdentity {
  std::string firmware;
  std::string firmwareDate;
  std::string serialNumber;
  std::string fiscalMemoryNumber;
  std::string Model() const;
};
DeviceIdentity ReadDeviceInfo(std::string_view reply);

}  // namespace tillwright
