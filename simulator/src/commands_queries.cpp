// Queries of the device's state and the customer display.
#include <cstdio>

#include "amounts.h"
#include "fiscalsim/device_model.h"
#include "text_fields.h"

namespace fiscalsim {
namespace {

constexpr size_t kDisplayWidth = 20;

Answer DisplayLine(std::string &line, std::string_view text) {
  if (text.size() > kDisplayWidth) return Answer::SyntaxError();
  line = std::string(text);
  return Answer::Ok();
}

std::string Hex2(uint8_t byte) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", byte);
  return text;
}

void RegisterDisplay(DeviceModel &model) {
  model.Register(command::kDisplayClear, [](DeviceModel &m, std::string_view) {
    m.State().displayUpper.clear();
    m.State().displayLower.clear();
    return Answer::Ok();
  });
  model.Register(command::kDisplayLower, [](DeviceModel &m, std::string_view data) { return DisplayLine(m.State().displayLower, data); });
  model.Register(command::kDisplayUpper, [](DeviceModel &m, std::string_view data) { return DisplayLine(m.State().displayUpper, data); });
  // "<line>,<text>": line 1 is the upper one, 2 the lower one.
  model.Register(command::kDisplayLine, [](DeviceModel &m, std::string_view data) {
    const size_t comma = data.find(',');
    const auto line = ParseDecimal(data.substr(0, comma), 2);
    if (comma == std::string_view::npos || !line || *line == 0) return Answer::SyntaxError();
    return DisplayLine(*line == 1 ? m.State().displayUpper : m.State().displayLower, data.substr(comma + 1));
  });
  // Free data goes to the display as it is, over both lines.
  model.Register(command::kDisplayFree, [](DeviceModel &m, std::string_view data) {
    if (data.size() > 2 * kDisplayWidth) return Answer::SyntaxError();
    m.State().displayUpper = std::string(data.substr(0, kDisplayWidth));
    m.State().displayLower = data.size() > kDisplayWidth ? std::string(data.substr(kDisplayWidth)) : std::string();
    return Answer::Ok();
  });
  model.Register(command::kDisplayDateTime, [](DeviceModel &m, std::string_view data) {
    if (!data.empty()) return Answer::SyntaxError();
    m.State().displayUpper = "DATE/TIME";
    return Answer::Ok();
  });
}

std::string TaxRatesText(const DeviceState &s) {
  std::string text;
  for (const auto &rate : s.taxRates) {
    if (!text.empty()) text += ',';
    text += rate ? FormatHundredths(*rate) : "-";
  }
  return text;
}

// Hundredths per tax group A.. as "%.2f" values separated by commas.
std::string GroupSums(const std::map<char, int64_t> &sums) {
  std::string text;
  for (size_t i = 0; i < kTaxGroups; ++i) {
    if (i != 0) text += ',';
    const auto it = sums.find(static_cast<char>('A' + i));
    text += FormatCents(it == sums.end() ? 0 : it->second);
  }
  return text;
}

void RegisterStateQueries(DeviceModel &model) {
  // Closures still free in the fiscal memory, and closures made.
  model.Register(command::kFreeClosures, [](DeviceModel &m, std::string_view) {
    const DeviceState &s = m.State();
    const unsigned used = s.zReports < kFiscalMemoryClosures ? s.zReports : kFiscalMemoryClosures;
    return Answer::Ok(std::to_string(kFiscalMemoryClosures - used) + ',' + std::to_string(used));
  });

  // "<DDMMYY>,<DDMMYY>": the rates in force over that period, which here never changed.
  model.Register(command::kTaxRatesOfPeriod, [](DeviceModel &m, std::string_view data) {
    const auto f = SplitFields(data, ',');
    if (f.size() != 2 || f[0].size() != 6 || f[1].size() != 6 || !ParseDecimal(f[0], 311299) ||
        !ParseDecimal(f[1], 311299)) {
      return Answer::SyntaxError();
    }
    return Answer::Ok(TaxRatesText(m.State()));
  });

  // W waits for the printer to finish first; both answer the six status bytes in hex.
  model.Register(command::kPrinterStatus, [](DeviceModel &m, std::string_view data) {
    if (data != "W" && data != "X") return Answer::SyntaxError();
    std::string text;
    for (uint8_t byte : m.State().standingStatus) text += Hex2(byte | status::kAlwaysSet);
    return Answer::Ok(text);
  });

  // "<closures made>,<receipts today>"; T adds the day's total.
  model.Register(command::kClosureStatus, [](DeviceModel &m, std::string_view data) {
    if (!data.empty() && data != "T") return Answer::SyntaxError();
    const DeviceState &s = m.State();
    std::string text = std::to_string(s.zReports) + ',' + std::to_string(s.fiscalReceipts);
    if (data == "T") text += ',' + FormatCents(s.dayTotalCents);
    return Answer::Ok(text);
  });

  model.Register(command::kDaySumsByGroup, [](DeviceModel &m, std::string_view) { return Answer::Ok(GroupSums(m.State().dayByGroup)); });
  model.Register(command::kDaySums, [](DeviceModel &m, std::string_view) {
    const DeviceState &s = m.State();
    return Answer::Ok(FormatCents(s.dayTotalCents) + ',' + FormatCents(s.cashInCents) + ',' +
                      FormatCents(s.cashOutCents));
  });
  model.Register(command::kLastClosure, [](DeviceModel &m, std::string_view) {
    char text[16];
    std::snprintf(text, sizeof text, "%04u", m.State().zReports);
    return Answer::Ok(text);
  });
  model.Register(command::kTaxNumber, [](DeviceModel &m, std::string_view) { return Answer::Ok(m.State().taxNumber); });

  // "<open>,<items>,<total>" of the receipt being printed.
  model.Register(command::kReceiptInfo, [](DeviceModel &m, std::string_view) {
    const Receipt &r = m.State().receipt;
    return Answer::Ok(std::string(r.kind == Receipt::Kind::Fiscal ? "1" : "0") + ',' + std::to_string(r.items) + ',' +
                      FormatCents(r.totalCents));
  });

  // "<receipts>,<fiscal receipts>,<day total>"
  model.Register(command::kDayInfo, [](DeviceModel &m, std::string_view) {
    const DeviceState &s = m.State();
    return Answer::Ok(std::to_string(s.receipts) + ',' + std::to_string(s.fiscalReceipts) + ',' +
                      FormatCents(s.dayTotalCents));
  });

  // "<clerk>" answers "<clerk>,<name>".
  model.Register(command::kClerkInfo, [](DeviceModel &m, std::string_view data) {
    const auto clerk = ParseDecimal(data, kClerks);
    if (!clerk || *clerk == 0) return Answer::SyntaxError();
    return Answer::Ok(std::string(data) + ',' + m.State().clerkNames[*clerk - 1]);
  });

  model.Register(command::kLastDocument, [](DeviceModel &m, std::string_view) { return Answer::Ok(std::to_string(m.State().receipts)); });

  // "<first>,<kind>[,<second>]": one fiscal memory record (kinds 0..3) or a range (4 and up).
  model.Register(command::kFiscalMemoryRecord, [](DeviceModel &m, std::string_view data) {
    const auto f = SplitFields(data, ',');
    if (f.size() < 2 || f.size() > 3) return Answer::SyntaxError();
    const auto first = ParseDecimal(f[0], 65535);
    const auto kind = ParseDecimal(f[1], 9);
    if (!first || !kind || (*kind >= 4) != (f.size() == 3) || (f.size() == 3 && !ParseDecimal(f[2], 65535))) {
      return Answer::SyntaxError();
    }
    if (*first > m.State().zReports) return Answer::Ok("F");
    return Answer::Ok(std::string(data) + ",0.00");
  });

  // The largest logo first (width in dots, rows), as the service tool reads it; the rest for
  // point-of-sale programs, which take the text whole.
  model.Register(command::kConstants, [](DeviceModel &m, std::string_view) {
    return Answer::Ok(std::to_string(m.State().logoWidthDots) + ',' + std::to_string(m.State().logoMaxRows) + ",P," + std::to_string(kFiscalMemoryClosures) + ',' + std::to_string(kClerks) + ",99," +
                      std::to_string(kHeaderLineMax) + ',' + m.State().firmware);
  });
}

}  // namespace

void RegisterQueryCommands(DeviceModel &model) {
  RegisterDisplay(model);
  RegisterStateQueries(model);
}

}  // namespace fiscalsim
