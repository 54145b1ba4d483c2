#include "settings/settings.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "core/fields.h"

namespace tillwright {
namespace {

// A rate text read as the C library's strtod would in the "C" locale: blanks first, then the
// longest number there is; no number gives 0. Not strtod itself: the toolkit may have set a
// locale whose decimal point is a comma.
double RateNumber(std::string_view text) {
  size_t at = text.find_first_not_of(" \t\n\v\f\r");
  if (at == std::string_view::npos) return 0;
  text.remove_prefix(at);
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  // from_chars takes no sign of its own here, and would read "inf" and "nan", which are no rates.
  if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.')) return 0;
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || !std::isfinite(value)) return 0;
  return negative ? -value : value;
}

// Every piece between commas, empty ones included, so that each keeps its group.
std::vector<std::string_view> RatePieces(std::string_view text) {
  std::vector<std::string_view> pieces;
  size_t start = 0;
  for (;;) {
    const size_t comma = text.find(',', start);
    pieces.push_back(text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (comma == std::string_view::npos) return pieces;
    start = comma + 1;
  }
}

std::string TwoDecimals(double value) {
  char text[400];  // the longest fixed form of a double with two decimals
  const auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 2);
  return error == std::errc() ? std::string(text, end) : std::string("0.00");
}

constexpr unsigned kBlockCodes = 32;
constexpr unsigned kBlank = 0x20;

// The font position printed for `code` (0x80..0xFF). The Cyrillic glyphs sit at 0xC0..0xFF: code
// page 1251 has its letters there already, the DOS code page has them 0x40 lower. Codes without
// a letter print as blanks.
unsigned FontPosition(int codePage, unsigned code) {
  if (codePage == kCodePageDos) return code < 0xC0 ? code + 0x40 : kBlank;
  return code >= 0xC0 ? code : kBlank;
}

}  // namespace

std::string TextLineReadData(size_t line) { return "I" + std::to_string(line); }

std::string TextLineWriteData(size_t line, const std::string &text) {
  return std::to_string(line) + (text.empty() ? std::string(" ") : text);
}

void ReadTaxRates(std::string_view reply, std::array<double, kTaxGroups> &rates,
                  std::array<bool, kTaxGroups> &undefined) {
  const auto pieces = RatePieces(reply);
  for (size_t slot = 0; slot < kTaxGroups && slot < pieces.size(); ++slot) {
    const std::string_view piece = pieces[slot];
    if (piece.empty()) continue;
    if (piece[0] != '-') undefined[slot] = false;
    const double value = RateNumber(piece);
    if (value >= 0) rates[slot] = value;
  }
}

std::string TaxRatesData(const std::array<double, kTaxGroups> &rates, const std::array<bool, kTaxGroups> &undefined) {
  std::string data;
  for (size_t slot = 0; slot < kTaxGroups; ++slot) {
    if (slot != 0) data += ',';
    data += TwoDecimals(undefined[slot] ? -1.0 : rates[slot]);
  }
  return data;
}

namespace {
constexpr int32_t kTcpIpDhcpMode = 22;
constexpr int32_t kTcpIpStaticMode = 518204736;
}  // namespace

TcpIpSettings ReadTcpIp(std::string_view reply) {
  TcpIpSettings settings;
  const auto pieces = SplitPieces(reply);
  for (size_t a = 0; a < settings.addresses.size(); ++a) {
    uint32_t address = 0;
    for (size_t octet = 0; octet < 4; ++octet) {
      const size_t at = a * 4 + octet;
      const auto value = static_cast<uint32_t>(at < pieces.size() ? LeadingInteger(pieces[at]) : 0);
      address += value << (8 * (3 - octet));
    }
    settings.addresses[a] = address;
  }
  settings.dhcp = settings.addresses[TcpIpSettings::kMask] == 0;
  return settings;
}

std::string TcpIpWriteData(const TcpIpSettings &settings) {
  std::string data = "P" + std::to_string(settings.dhcp ? kTcpIpDhcpMode : kTcpIpStaticMode);
  for (const uint32_t address : settings.addresses) {
    for (int shift = 24; shift >= 0; shift -= 8) data += ',' + std::to_string(address >> shift & 0xFF);
  }
  return data;
}

std::string DottedAddress(uint32_t address) {
  return std::to_string(address >> 24) + '.' + std::to_string(address >> 16 & 0xFF) + '.' +
         std::to_string(address >> 8 & 0xFF) + '.' + std::to_string(address & 0xFF);
}

void ReadGprs(std::string_view reply, std::string &apn, std::string &user, std::string &password) {
  const auto pieces = SplitPieces(reply);
  std::string *values[] = {&apn, &user, &password};
  for (size_t i = 0; i < std::size(values) && i < pieces.size(); ++i) *values[i] = pieces[i];
}

std::string GprsWriteData(const std::string &apn, const std::string &user, const std::string &password) {
  return "P" + apn + ',' + user + ',' + password;
}

std::string OperatorNumber(int32_t number) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d", static_cast<int>(number));
  return text;
}

std::string OperatorNameData(int32_t number, const std::string &password, const std::string &name,
                             const std::string &idNumber) {
  return OperatorNumber(number) + ',' + password + ',' + name + '\n' + idNumber;
}

std::string OperatorPasswordData(int32_t number, const std::string &oldPassword, const std::string &newPassword) {
  return OperatorNumber(number) + ',' + oldPassword + ',' + newPassword;
}

std::array<std::string, 4> CodeTableBlocks(int codePage) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::array<std::string, 4> blocks;
  for (unsigned block = 0; block < blocks.size(); ++block) {
    const unsigned first = 0x80 + block * kBlockCodes;
    std::string &data = blocks[block];
    data = {kHex[first >> 4], kHex[first & 0xF], ','};
    for (unsigned code = first; code < first + kBlockCodes; ++code) {
      const unsigned position = FontPosition(codePage, code);
      data += kHex[position >> 4];
      data += kHex[position & 0xF];
    }
  }
  return blocks;
}

std::string DeviceDateTimeText(const std::tm &local) {
  char text[64];
  std::snprintf(text, sizeof text, "%02d-%02d-%02d %02d:%02d:%02d", local.tm_mday, local.tm_mon + 1,
                local.tm_year % 100, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

std::string LogoRowData(size_t row, const std::vector<uint8_t> &bytes) {
  return std::to_string(row) + "," + HexBytes(bytes);
}

std::string DeviceIdentity::Model() const { return firmware.substr(0, firmware.find(' ')); }

DeviceIdentity ReadDeviceInfo(std::string_view reply) {
  const auto fields = SplitFields(reply);
  const auto field = [&fields](size_t n) { return n < fields.size() ? fields[n] : std::string(); };
  return {field(0), field(1), field(4), field(5)};
}

}  // namespace tillwright
