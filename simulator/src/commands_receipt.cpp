// Receipts, sales, payment, reports and service cash. The receipt is a small state machine:
// no receipt → fiscal (selling → paying) or non-fiscal → no receipt; a command out of its
// order is refused as not allowed and changes nothing.
#include <cmath>
#include <cstdio>
#include <optional>

#include "amounts.h"
#include "fiscalsim/device_model.h"
#include "text_fields.h"

namespace fiscalsim {
namespace {

using Kind = Receipt::Kind;

std::string Numbers(uint32_t a, uint32_t b) {
  char text[32];
  std::snprintf(text, sizeof text, "%u,%u", a, b);
  return text;
}

bool Selling(const DeviceState &s) { return s.receipt.kind == Kind::Fiscal && !s.receipt.paying; }

// What an amount field of the device holds: twelve whole digits and two decimals, either way.
constexpr int64_t kMaxCents = 99'999'999'999'999;

bool InRange(int64_t cents) { return cents >= -kMaxCents && cents <= kMaxCents; }

// Quantity times price, then the percentage (negative for a discount), in hundredths; nothing
// when that is more than an amount field holds.
std::optional<int64_t> LineAmount(int64_t priceCents, double quantity, double percent) {
  const double gross = std::round(static_cast<double>(priceCents) * quantity);
  const double cents = std::round(gross + gross * percent / 100.0);
  if (!(std::fabs(cents) <= static_cast<double>(kMaxCents))) return std::nullopt;
  return static_cast<int64_t>(cents);
}

// False, booking nothing, for a line whose amount, or the receipt's total or its group's sum
// with it, an amount field cannot hold.
bool Book(DeviceState &s, char group, std::optional<int64_t> cents) {
  if (!cents) return false;
  int64_t &groupCents = s.receipt.byGroup[group];
  if (!InRange(s.receipt.totalCents + *cents) || !InRange(groupCents + *cents)) return false;
  s.receipt.totalCents += *cents;
  groupCents += *cents;
  ++s.receipt.items;
  return true;
}

// The tax groups as the device prints them in its own code page: 0xC0, 0xC1, ... for A, B, ...
constexpr unsigned char kFirstLocalGroup = 0xC0;
constexpr unsigned char kLastLocalGroup = 0xDF;

// "<text>\t<group><price>*<quantity>,<percent>"; the service tool's test sale gives the group
// by its local letter and the price alone: one piece at that price.
Answer FreeSale(DeviceModel &m, std::string_view data, bool display) {
  DeviceState &s = m.State();
  const size_t tab = data.find('\t');
  if (tab == std::string_view::npos || tab + 1 >= data.size()) return Answer::SyntaxError();
  const std::string_view item = data.substr(0, tab);
  const auto local = static_cast<unsigned char>(data[tab + 1]);
  if (local >= kFirstLocalGroup && local <= kLastLocalGroup) {
    const auto price = ParseCents(data.substr(tab + 2));
    if (!price) return Answer::SyntaxError();
    if (!Selling(s)) return Answer::NotAllowed();
    if (!Book(s, static_cast<char>('A' + (local - kFirstLocalGroup)), LineAmount(*price, 1, 0))) {
      return Answer::SyntaxError();
    }
    if (display) s.displayLower = std::string(item);
    return Answer::Ok();
  }
  const char group = data[tab + 1];
  std::string_view rest = data.substr(tab + 2);
  const size_t star = rest.find('*');
  const size_t comma = rest.find(',');
  if (star == std::string_view::npos || comma == std::string_view::npos || comma < star) return Answer::SyntaxError();
  const auto price = ParseCents(rest.substr(0, star));
  const auto quantity = ParseNumber(rest.substr(star + 1, comma - star - 1), 3);
  const auto percent = ParseNumber(rest.substr(comma + 1), 2);
  if (!price || !quantity || !percent || *quantity <= 0 || group < 'A' || group > 'Z') return Answer::SyntaxError();
  if (!Selling(s)) return Answer::NotAllowed();
  if (!Book(s, group, LineAmount(*price, *quantity, *percent))) return Answer::SyntaxError();
  if (display) s.displayLower = std::string(item);
  return Answer::Ok();
}

void CloseReceipt(DeviceState &s) {
  if (s.receipt.kind == Kind::Fiscal) {
    ++s.fiscalReceipts;
    s.dayTotalCents += s.receipt.totalCents;
    for (const auto &[group, cents] : s.receipt.byGroup) s.dayByGroup[group] += cents;
  }
  s.receipt = Receipt{};
}

bool ReceiptOpen(const DeviceState &s) { return s.receipt.kind != Kind::None; }

void RegisterReceipts(DeviceModel &model) {
  // "<clerk>,<password>,<till>[,<option>]": the two receipt numbers come back.
  model.Register(command::kOpenReceipt, [](DeviceModel &m, std::string_view data) {
    const auto f = SplitFields(data, ',');
    if (f.size() < 3 || f.size() > 4) return Answer::SyntaxError();
    const auto clerk = ParseDecimal(f[0], kClerks);
    const auto till = ParseDecimal(f[2], 99999);
    if (!clerk || *clerk == 0 || f[1].empty() || !till || *till == 0 || (f.size() == 4 && f[3].size() != 1)) {
      return Answer::SyntaxError();
    }
    DeviceState &s = m.State();
    const std::string &password = s.clerkPasswords[*clerk - 1];
    if (ReceiptOpen(s) || (!password.empty() && password != f[1])) return Answer::NotAllowed();
    s.receipt.kind = Kind::Fiscal;
    ++s.receipts;
    return Answer::Ok(Numbers(s.receipts, s.fiscalReceipts + 1));
  });

  model.Register(command::kSale, [](DeviceModel &m, std::string_view data) { return FreeSale(m, data, false); });
  model.Register(command::kSaleAndDisplay, [](DeviceModel &m, std::string_view data) { return FreeSale(m, data, true); });

  // Article sale: a programmed article, or any number when the price is given.
  model.Register(command::kSaleArticle, [](DeviceModel &m, std::string_view data) {
    const auto sale = ParseItemSale(data);
    if (!sale) return Answer::SyntaxError();
    DeviceState &s = m.State();
    const auto it = s.articles.find(static_cast<uint32_t>(sale->number));
    if (!Selling(s) || (it == s.articles.end() && !sale->priceCents)) return Answer::NotAllowed();
    const char group = it != s.articles.end() ? it->second.group : 'A';
    const int64_t price = sale->priceCents ? *sale->priceCents : it->second.priceCents;
    if (!Book(s, group, LineAmount(price, sale->quantity, sale->percent))) return Answer::SyntaxError();
    return Answer::Ok();
  });

  // Department sale: the price is always needed unless the department has a fixed one.
  model.Register(command::kSaleDepartment, [](DeviceModel &m, std::string_view data) {
    const auto sale = ParseItemSale(data);
    if (!sale) return Answer::SyntaxError();
    DeviceState &s = m.State();
    const auto it = s.departments.find(static_cast<unsigned>(sale->number));
    std::optional<int64_t> price = sale->priceCents;
    if (!price && it != s.departments.end()) price = ParseCents(it->second.price);
    if (!Selling(s) || !price) return Answer::NotAllowed();
    const char group = it != s.departments.end() ? it->second.group : 'A';
    if (!Book(s, group, LineAmount(*price, sale->quantity, sale->percent))) return Answer::SyntaxError();
    return Answer::Ok();
  });

  // "<print><display>,<percent>": the percentage is shown, not booked.
  model.Register(command::kSubtotal, [](DeviceModel &m, std::string_view data) {
    const size_t comma = data.find(',');
    if (comma != 2 || !ParseDecimal(data.substr(0, 2), 11) || !ParseNumber(data.substr(comma + 1), 2)) {
      return Answer::SyntaxError();
    }
    const DeviceState &s = m.State();
    if (s.receipt.kind != Kind::Fiscal) return Answer::NotAllowed();
    return Answer::Ok(FormatCents(s.receipt.totalCents));
  });

  // "<line>\t[<payment><amount>]": no payment part pays the rest in cash. Answers D and the
  // change when paid in full, R and what is still due otherwise.
  model.Register(command::kTotal, [](DeviceModel &m, std::string_view data) {
    const size_t tab = data.find('\t');
    if (tab == std::string_view::npos) return Answer::SyntaxError();
    const std::string_view payment = data.substr(tab + 1);
    DeviceState &s = m.State();
    int64_t amount = s.receipt.totalCents - s.receipt.paidCents;
    if (!payment.empty()) {
      const auto cents = ParseCents(payment.substr(1));
      if (payment[0] < 'A' || payment[0] > 'Z' || !cents || *cents < 0) return Answer::SyntaxError();
      amount = *cents;
    }
    if (s.receipt.kind != Kind::Fiscal || s.receipt.items == 0) return Answer::NotAllowed();
    s.receipt.paying = true;
    s.receipt.paidCents += amount;
    const int64_t due = s.receipt.totalCents - s.receipt.paidCents;
    return Answer::Ok((due > 0 ? "R" : "D") + FormatCents(due > 0 ? due : -due));
  });

  model.Register(command::kFiscalText, [](DeviceModel &m, std::string_view data) {
    if (data.empty()) return Answer::SyntaxError();
    return m.State().receipt.kind == Kind::Fiscal ? Answer::Ok() : Answer::NotAllowed();
  });

  // Six tab-separated client fields.
  model.Register(command::kClientInfo, [](DeviceModel &m, std::string_view data) {
    if (SplitFields(data, '\t').size() != 6) return Answer::SyntaxError();
    return m.State().receipt.kind == Kind::Fiscal ? Answer::Ok() : Answer::NotAllowed();
  });

  // Closes a fiscal receipt that is paid in full (an empty one closes as it is).
  model.Register(command::kCloseReceipt, [](DeviceModel &m, std::string_view data) {
    if (!data.empty()) return Answer::SyntaxError();
    DeviceState &s = m.State();
    if (s.receipt.kind != Kind::Fiscal || s.receipt.paidCents < s.receipt.totalCents) return Answer::NotAllowed();
    CloseReceipt(s);
    return Answer::Ok(Numbers(s.receipts, s.fiscalReceipts));
  });

  // Voids the whole fiscal receipt; nothing of it is booked.
  model.Register(command::kVoidReceipt, [](DeviceModel &m, std::string_view data) {
    if (!data.empty()) return Answer::SyntaxError();
    DeviceState &s = m.State();
    if (s.receipt.kind != Kind::Fiscal) return Answer::NotAllowed();
    s.receipt = Receipt{};
    return Answer::Ok();
  });

  model.Register(command::kOpenNonFiscal, [](DeviceModel &m, std::string_view data) {
    if (!data.empty()) return Answer::SyntaxError();
    DeviceState &s = m.State();
    if (ReceiptOpen(s)) return Answer::NotAllowed();
    s.receipt.kind = Kind::NonFiscal;
    ++s.receipts;
    return Answer::Ok(Numbers(s.receipts, s.fiscalReceipts));
  });

  model.Register(command::kNonFiscalText, [](DeviceModel &m, std::string_view) {
    return m.State().receipt.kind == Kind::NonFiscal ? Answer::Ok() : Answer::NotAllowed();
  });

  model.Register(command::kCloseNonFiscal, [](DeviceModel &m, std::string_view data) {
    if (!data.empty()) return Answer::SyntaxError();
    DeviceState &s = m.State();
    if (s.receipt.kind != Kind::NonFiscal) return Answer::NotAllowed();
    CloseReceipt(s);
    return Answer::Ok(std::to_string(s.receipts));
  });

  // A copy of the last receipt, once one was printed.
  model.Register(command::kReceiptCopy, [](DeviceModel &m, std::string_view data) {
    const auto count = ParseDecimal(data, 9);
    if (!count || *count == 0) return Answer::SyntaxError();
    const DeviceState &s = m.State();
    return ReceiptOpen(s) || s.receipts == 0 ? Answer::NotAllowed() : Answer::Ok();
  });

  // An optional pulse length in milliseconds.
  model.Register(command::kOpenDrawer, [](DeviceModel &, std::string_view data) {
    if (!data.empty() && !ParseDecimal(data, 999)) return Answer::SyntaxError();
    return Answer::Ok();
  });

  // Cash in (positive) or out (negative) outside receipts; no data reads the two sums.
  model.Register(command::kServiceCash, [](DeviceModel &m, std::string_view data) {
    DeviceState &s = m.State();
    if (!data.empty()) {
      const auto cents = ParseCents(data);
      if (!cents || *cents == 0) return Answer::SyntaxError();
      if (ReceiptOpen(s)) return Answer::NotAllowed();
      (*cents > 0 ? s.cashInCents : s.cashOutCents) += *cents > 0 ? *cents : -*cents;
    }
    return Answer::Ok(FormatCents(s.cashInCents) + ',' + FormatCents(s.cashOutCents));
  });
}

// "DDMMYY" with a real date.
bool ReportDate(std::string_view text) {
  if (text.size() != 6) return false;
  const auto day = ParseDecimal(text.substr(0, 2), 31);
  const auto month = ParseDecimal(text.substr(2, 2), 12);
  const auto year = ParseDecimal(text.substr(4, 2), 99);
  if (!day || !month || !year || *day == 0 || *month == 0) return false;
  const std::chrono::year_month_day date{std::chrono::year(2000 + static_cast<int>(*year)), std::chrono::month(*month),
                                         std::chrono::day(*day)};
  return date.ok();
}

// "<from>,<to>" of two report dates or of two four-digit numbers, from not after to.
bool ReportRange(std::string_view data, bool dates) {
  const auto f = SplitFields(data, ',');
  if (f.size() != 2) return false;
  if (dates) return ReportDate(f[0]) && ReportDate(f[1]);
  if (f[0].size() != 4 || f[1].size() != 4) return false;
  const auto from = ParseDecimal(f[0], 9999);
  const auto to = ParseDecimal(f[1], 9999);
  return from && to && *from <= *to;
}

std::string ReportNumber(uint32_t n) {
  char text[16];
  std::snprintf(text, sizeof text, "%04u", n);
  return text;
}

void RegisterReports(DeviceModel &model) {
  // 0 and 0N close the day (Z), 2 and 2N only print it (X), no data prints X as well; 5
  // prints the journal and answers its document count; 8 and 9 are the periodic reports.
  model.Register(command::kReport, [](DeviceModel &m, std::string_view data) {
    DeviceState &s = m.State();
    const bool cleared = !data.empty() && data.back() == 'N';
    const std::string_view mode = cleared ? data.substr(0, data.size() - 1) : data;
    if (!mode.empty() && mode != "0" && mode != "2" && mode != "5" && mode != "8" && mode != "9") {
      return Answer::SyntaxError();
    }
    if (cleared && mode != "0" && mode != "2") return Answer::SyntaxError();
    if (ReceiptOpen(s)) return Answer::NotAllowed();
    ++s.reportsPrinted;
    if (mode == "5") return Answer::Ok(std::to_string(s.receipts));
    if (mode == "8" || mode == "9") return Answer::Ok();
    if (mode == "0") {
      ++s.zReports;
      const std::string answer = ReportNumber(s.zReports) + ',' + FormatCents(s.dayTotalCents);
      s.dayTotalCents = 0;
      s.dayByGroup.clear();
      return Answer::Ok(answer);
    }
    return Answer::Ok(ReportNumber(s.zReports + 1) + ',' + FormatCents(s.dayTotalCents));
  });

  model.Register(command::kClerkReport, [](DeviceModel &m, std::string_view data) {
    if (!data.empty()) return Answer::SyntaxError();
    if (ReceiptOpen(m.State())) return Answer::NotAllowed();
    ++m.State().reportsPrinted;
    return Answer::Ok();
  });

  // Article report: 0 all, 1 sold only. Answers how many articles it listed.
  model.Register(command::kArticleReport, [](DeviceModel &m, std::string_view data) {
    const auto selector = ParseDecimal(data, 1);
    if (!selector) return Answer::SyntaxError();
    DeviceState &s = m.State();
    if (ReceiptOpen(s)) return Answer::NotAllowed();
    ++s.reportsPrinted;
    return Answer::Ok(std::to_string(s.articles.size()));
  });

  for (const auto &[code, dates] :
       {std::pair{command::kFiscalMemoryByDate, true}, std::pair{command::kReportByDate, true},
        std::pair{command::kFiscalMemoryByNumber, false}, std::pair{command::kReportByNumber, false}}) {
    model.Register(code, [dates = dates](DeviceModel &m, std::string_view data) {
      if (!ReportRange(data, dates)) return Answer::SyntaxError();
      if (ReceiptOpen(m.State())) return Answer::NotAllowed();
      ++m.State().reportsPrinted;
      return Answer::Ok();
    });
  }

  model.Register(command::kJournalStore, [](DeviceModel &m, std::string_view data) {
    if (!ParseDecimal(data, 65535)) return Answer::SyntaxError();
    ++m.State().journalStores;
    return Answer::Ok();
  });
}

}  // namespace

void RegisterReceiptCommands(DeviceModel &model) {
  RegisterReceipts(model);
  RegisterReports(model);
}

}  // namespace fiscalsim
