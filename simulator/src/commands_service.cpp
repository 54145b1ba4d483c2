// What the service tool alone sends: the electronic journal's prints and SD card, the IMSI, and
// the print table of the upper codes.
#include <cstdio>

#include "fiscalsim/device_model.h"
#include "text_fields.h"

namespace fiscalsim {
namespace {

constexpr unsigned kMaxJournalNumber = 5000;

// "DD-MM-YY HH:MM", every field two digits.
bool JournalTime(std::string_view text) {
  if (text.size() != 14 || text[2] != '-' || text[5] != '-' || text[8] != ' ' || text[11] != ':') return false;
  const auto day = ParseDecimal(text.substr(0, 2), 31);
  const auto month = ParseDecimal(text.substr(3, 2), 12);
  const auto year = ParseDecimal(text.substr(6, 2), 99);
  const auto hour = ParseDecimal(text.substr(9, 2), 23);
  const auto minute = ParseDecimal(text.substr(12, 2), 59);
  return day && *day > 0 && month && *month > 0 && year && hour && minute;
}

std::optional<uint8_t> HexByte(std::string_view two) {
  unsigned value = 0;
  for (const char c : two) {
    value <<= 4;
    if (c >= '0' && c <= '9') value |= static_cast<unsigned>(c - '0');
    else if (c >= 'A' && c <= 'F') value |= static_cast<unsigned>(c - 'A' + 10);
    else return std::nullopt;
  }
  return static_cast<uint8_t>(value);
}

}  // namespace

void RegisterServiceCommands(DeviceModel &model) {
  model.Register(command::kActivateJournalCard, [](DeviceModel &m, std::string_view data) {
    if (!data.empty()) return Answer::SyntaxError();
    ++m.State().journalCardActivations;
    return Answer::Ok();
  });

  // "2,<Z report>,<document>": one document. Z report 0 is the day still open; a report not yet
  // made is not in the journal.
  model.Register(command::kJournalDocument, [](DeviceModel &m, std::string_view data) {
    const auto f = SplitFields(data, ',');
    if (f.size() != 3 || f[0] != "2") return Answer::SyntaxError();
    const auto z = ParseDecimal(f[1], kMaxJournalNumber);
    const auto document = ParseDecimal(f[2], kMaxJournalNumber);
    if (!z || !document) return Answer::SyntaxError();
    if (*z > m.State().zReports) return Answer::NotAllowed();
    m.State().journalPrints.emplace_back(data);
    return Answer::Ok();
  });

  // Empty: the IMSI. "194,<Z report>,<DD-MM-YY HH:MM>,<DD-MM-YY HH:MM>": the documents of a
  // period. The device takes the period as given, even one that ends before it begins.
  model.Register(command::kImsi, [](DeviceModel &m, std::string_view data) {
    if (data.empty()) return Answer::Ok(m.State().imsi);
    const auto f = SplitFields(data, ',');
    if (f.size() != 4 || f[0] != "194") return Answer::SyntaxError();
    const auto z = ParseDecimal(f[1], kMaxJournalNumber);
    if (!z || !JournalTime(f[2]) || !JournalTime(f[3])) return Answer::SyntaxError();
    if (*z > m.State().zReports) return Answer::NotAllowed();
    m.State().journalPrints.emplace_back(data);
    return Answer::Ok();
  });

  // One block of 32 codes: its first code, then the font position of each.
  model.Register(command::kCodeTable, [](DeviceModel &m, std::string_view data) {
    constexpr size_t kBlock = 32;
    if (data.size() != 3 + 2 * kBlock || data[2] != ',') return Answer::SyntaxError();
    const auto first = HexByte(data.substr(0, 2));
    if (!first || *first < 0x80 || *first % kBlock != 0) return Answer::SyntaxError();
    std::array<uint8_t, kBlock> block{};
    for (size_t i = 0; i < kBlock; ++i) {
      const auto position = HexByte(data.substr(3 + 2 * i, 2));
      if (!position) return Answer::SyntaxError();
      block[i] = *position;
    }
    for (size_t i = 0; i < kBlock; ++i) m.State().codeTable[*first - 0x80 + i] = block[i];
    return Answer::Ok();
  });
}

}  // namespace fiscalsim
