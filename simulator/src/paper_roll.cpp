#include "fiscalsim/paper_roll.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "amounts.h"
#include "fiscalsim/logo_image.h"
#include "text_fields.h"

namespace fiscalsim {
namespace layout {

std::vector<std::string> Wrap(std::string_view text) {
  std::vector<std::string> lines;
  for (const std::string_view paragraph : SplitFields(text, '\n')) {
    std::string_view rest = paragraph;
    do {
      size_t take = rest.size();
      if (take > kPaperWidth) {
        const size_t blank = rest.substr(0, kPaperWidth + 1).rfind(' ');
        take = blank != std::string_view::npos && blank > 0 ? blank : kPaperWidth;
      }
      lines.emplace_back(rest.substr(0, take));
      rest.remove_prefix(take);
      if (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    } while (!rest.empty());
  }
  return lines;
}

std::vector<std::string> Center(std::string_view text) {
  std::vector<std::string> lines = Wrap(text);
  for (std::string &line : lines) line.insert(0, (kPaperWidth - line.size()) / 2, ' ');
  return lines;
}

std::vector<std::string> Columns(std::string_view left, std::string_view right) {
  if (left.size() + 1 + right.size() <= kPaperWidth) {
    return {std::string(left) + std::string(kPaperWidth - left.size() - right.size(), ' ') + std::string(right)};
  }
  std::vector<std::string> lines = Wrap(left);
  for (const std::string &line : Wrap(right)) lines.push_back(std::string(kPaperWidth - line.size(), ' ') + line);
  return lines;
}

std::string Rule() { return std::string(kPaperWidth, '-'); }

}  // namespace layout

namespace {

using layout::Center;
using layout::Columns;
using layout::Rule;
using layout::Wrap;

using Lines = std::vector<std::string>;

void Add(Lines &to, const Lines &lines) { to.insert(to.end(), lines.begin(), lines.end()); }

// Code page 1251 from 0x80, as Unicode code points; 0x98 has no character and prints blank.
constexpr char16_t kUpperHalf[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0020, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x0020, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x002D, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};

void AppendUtf8(std::string &out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string Money(int64_t cents) { return FormatCents(cents); }

std::string FourDigits(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "%04u", value);
  return text;
}

std::string Percent(int hundredths) { return FormatHundredths(hundredths) + "%"; }

std::string Clock(const DeviceModel &model) {
  using namespace std::chrono;
  const sys_seconds time = model.DeviceTime();
  const sys_days day = floor<days>(time);
  const year_month_day date(day);
  const hh_mm_ss clock(time - day);
  char text[64];
  std::snprintf(text, sizeof text, "%02u-%02u-%04d %02u:%02u:%02u", static_cast<unsigned>(date.day()),
                static_cast<unsigned>(date.month()), static_cast<int>(date.year()),
                static_cast<unsigned>(clock.hours().count()), static_cast<unsigned>(clock.minutes().count()),
                static_cast<unsigned>(clock.seconds().count()));
  return text;
}

// The field `index` of comma-separated text, empty when it has fewer.
std::string_view Field(std::string_view text, size_t index) {
  const auto fields = SplitFields(text, ',');
  return index < fields.size() ? fields[index] : std::string_view();
}

std::string Currency(const DeviceState &s) { return std::string(Field(s.decimalsAndCurrency, 2)); }

// The header lines come first, the last two are the advertisement printed at the bottom.
constexpr size_t kAdvertisementLines = 2;

// The top of every document: the shop's header lines and its tax number.
Lines Heading(const DeviceState &s) {
  Lines lines;
  for (size_t i = 0; i < kHeaderLines - kAdvertisementLines; ++i) {
    if (!s.headerLines[i].empty()) Add(lines, Center(s.headerLines[i]));
  }
  Add(lines, Center("TAX NO. " + s.taxNumber));
  return lines;
}

// The bottom of every document: the advertisement lines, when, on which device and in which day
// (the number of the Z report that closes it).
Lines Footing(const DeviceModel &model, unsigned day, const std::string &numbers, const std::string &closing) {
  const DeviceState &s = model.State();
  Lines lines{Rule()};
  for (size_t i = kHeaderLines - kAdvertisementLines; i < kHeaderLines; ++i) {
    if (!s.headerLines[i].empty()) Add(lines, Center(s.headerLines[i]));
  }
  if (!numbers.empty()) Add(lines, Wrap(numbers));
  Add(lines, Columns(Clock(model), "SN " + s.serialNumber));
  Add(lines, Columns("FM " + s.fiscalMemoryNumber, "Z " + FourDigits(day)));
  Add(lines, Center(closing));
  return lines;
}

std::string Logo(const DeviceState &s) {
  if (!s.logo || s.logoRows.empty()) return {};
  return LogoPng(RenderLogo(s));
}

// "  2.000 x 1.20  -10.00%" and "2.40 B": how an item's amount came about, and the amount.
Lines Item(std::string_view name, double quantity, int64_t priceCents, double percent, int64_t cents, char group) {
  char how[96];
  std::snprintf(how, sizeof how, "  %.3f x %s", quantity, Money(priceCents).c_str());
  std::string left = how;
  if (percent != 0) {
    char change[32];
    std::snprintf(change, sizeof change, "  %+.2f%%", percent);
    left += change;
  }
  Lines lines = Wrap(name.empty() ? std::string_view("ITEM") : name);
  Add(lines, Columns(left, Money(cents) + ' ' + group));
  return lines;
}

// The device prints the group of the service tool's test sale as its local letter 0xC0.. for A..
constexpr unsigned char kFirstLocalGroup = 0xC0;

// The sale's item lines; `cents` is what the device booked.
Lines Sale(const DeviceState &s, uint8_t cmd, std::string_view data, int64_t cents) {
  if (cmd == command::kSale || cmd == command::kSaleAndDisplay) {
    const size_t tab = data.find('\t');
    const std::string_view name = data.substr(0, tab);
    const std::string_view rest = tab == std::string_view::npos ? std::string_view() : data.substr(tab + 1);
    if (rest.empty()) return Wrap(name);
    const auto first = static_cast<unsigned char>(rest[0]);
    if (first >= kFirstLocalGroup) {
      return Item(name, 1, ParseCents(rest.substr(1)).value_or(cents), 0, cents,
                  static_cast<char>('A' + (first - kFirstLocalGroup)));
    }
    const size_t star = rest.find('*');
    const size_t comma = rest.find(',');
    const auto price = ParseCents(rest.substr(1, star - 1)).value_or(cents);
    const auto quantity = ParseNumber(rest.substr(star + 1, comma - star - 1), 3).value_or(1);
    const auto percent = ParseNumber(rest.substr(comma + 1), 2).value_or(0);
    return Item(name, quantity, price, percent, cents, rest[0]);
  }
  // The device took the sale, so its data reads.
  const ItemSale sale = ParseItemSale(data).value_or(ItemSale{});
  std::string name;
  char group = 'A';
  int64_t price = sale.priceCents.value_or(0);
  if (cmd == command::kSaleArticle) {
    const auto it = s.articles.find(static_cast<uint32_t>(sale.number));
    name = it != s.articles.end() ? it->second.name : "ARTICLE " + std::to_string(sale.number);
    if (it != s.articles.end()) {
      group = it->second.group;
      if (!sale.priceCents) price = it->second.priceCents;
    }
  } else {
    const auto it = s.departments.find(static_cast<unsigned>(sale.number));
    name = it != s.departments.end() ? it->second.name : "DEPARTMENT " + std::to_string(sale.number);
    if (it != s.departments.end()) {
      group = it->second.group;
      if (!sale.priceCents) price = ParseCents(it->second.price).value_or(0);
    }
  }
  return Item(name, sale.quantity, price, sale.percent, cents, group);
}

std::string PaymentName(char payment) {
  if (payment == 'P') return "CASH";
  return std::string("PAYMENT ") + payment;
}

// The sums of a day by tax group: each defined group, and any other letter sold on.
Lines GroupTotals(const DeviceState &s, const std::map<char, int64_t> &byGroup) {
  Lines lines;
  std::map<char, int64_t> groups = byGroup;
  for (size_t i = 0; i < kTaxGroups; ++i) {
    if (s.taxRates[i]) groups.try_emplace(static_cast<char>('A' + i), 0);
  }
  for (const auto &[group, cents] : groups) {
    const size_t index = static_cast<size_t>(group - 'A');
    const int rate = index < kTaxGroups && s.taxRates[index] ? *s.taxRates[index] : -1;
    const std::string rateText = rate >= 0 ? Percent(rate) : "NO RATE";
    Add(lines,
        Columns(std::string("GROUP ") + group + std::string(9 - std::min<size_t>(rateText.size(), 7), ' ') + rateText,
                Money(cents)));
    if (rate >= 0) {
      // The tax the amount holds: prices are gross.
      const auto tax = static_cast<int64_t>(std::llround(static_cast<double>(cents) * rate / (10000.0 + rate)));
      Add(lines, Columns("  TAX", Money(tax)));
    }
  }
  return lines;
}

}  // namespace

std::string DeviceTextToUtf8(std::string_view text, const std::array<uint8_t, 128> &codeTable) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    auto byte = static_cast<uint8_t>(c);
    if (byte >= 0x80) byte = codeTable[byte - 0x80];
    if (byte < 0x20 || byte == 0x7F)
      out.push_back(' ');
    else if (byte < 0x80)
      out.push_back(static_cast<char>(byte));
    else if (byte >= 0xC0)
      AppendUtf8(out, 0x0410 + (byte - 0xC0));
    else
      AppendUtf8(out, kUpperHalf[byte - 0x80]);
  }
  return out;
}

PaperRoll::PaperRoll(Listener finished) : finished_(std::move(finished)) {}

void PaperRoll::BeforeCommand(const DeviceModel &model, uint8_t, std::string_view) {
  const DeviceState &s = model.State();
  before_.receipt = s.receipt;
  before_.dayByGroup = s.dayByGroup;
  before_.dayTotalCents = s.dayTotalCents;
  before_.cashInCents = s.cashInCents;
  before_.cashOutCents = s.cashOutCents;
  before_.fiscalReceipts = s.fiscalReceipts;
  before_.zReports = s.zReports;
}

void PaperRoll::AfterCommand(const DeviceModel &model, uint8_t cmd, std::string_view data, const Answer &answer) {
  if (answer.silent || (answer.status[0] & status::kError) != 0) return;
  Print(model, cmd, data, answer);
}

void PaperRoll::Finish(const DeviceModel &model, std::string logoPng, const Lines &lines, bool cut) {
  PrintedDocument document;
  document.logoPng = std::move(logoPng);
  for (const std::string &line : lines) document.lines.push_back(DeviceTextToUtf8(line, model.State().codeTable));
  document.cut = cut;
  documents_.push_back(std::move(document));
  if (finished_) finished_(documents_);
}

PaperRoll::Open &PaperRoll::Receipt(const DeviceModel &model, bool fiscal) {
  if (open_ && open_->fiscal != fiscal) {
    // The device left that receipt without the roll seeing how: what it printed stays.
    Finish(model, std::move(open_->logoPng), open_->lines, false);
    open_.reset();
  }
  // A receipt the roll did not see open (its opening was before the roll began) prints from here.
  if (!open_) open_ = Open{fiscal, {}, {}, false};
  return *open_;
}

void PaperRoll::FinishReceipt(const DeviceModel &model, const Lines &footer) {
  Open open = std::move(*open_);
  open_.reset();
  Lines lines = std::move(open.lines);
  Add(lines, footer);
  lastReceipt_.assign(lines.begin(), lines.end() - 1);
  Finish(model, std::move(open.logoPng), lines, model.State().autoCutter);
}

void PaperRoll::PrintReceiptCommand(const DeviceModel &model, uint8_t cmd, std::string_view data,
                                    const Answer &answer) {
  const DeviceState &s = model.State();
  switch (cmd) {
    case command::kOpenReceipt:
    case command::kOpenNonFiscal: {
      const bool fiscal = cmd == command::kOpenReceipt;
      open_ = Open{fiscal, Logo(s), Heading(s), false};
      Lines &lines = open_->lines;
      if (fiscal) {
        const auto f = SplitFields(data, ',');
        const unsigned clerk = ParseDecimal(f[0], kClerks).value_or(1);
        const std::string &name = s.clerkNames[clerk - 1];
        Add(lines, Columns("CLERK " + std::to_string(clerk) + (name.empty() ? "" : " " + name),
                           "TILL " + std::string(f.size() > 2 ? f[2] : "")));
      } else {
        Add(lines, Center("NON-FISCAL RECEIPT"));
      }
      lines.push_back(Rule());
      return;
    }
    case command::kSale:
    case command::kSaleAndDisplay:
    case command::kSaleArticle:
    case command::kSaleDepartment:
      Add(Receipt(model, true).lines, Sale(s, cmd, data, s.receipt.totalCents - before_.receipt.totalCents));
      return;
    case command::kSubtotal:
      if (!data.empty() && data[0] == '1') {
        Lines &lines = Receipt(model, true).lines;
        lines.push_back(Rule());
        Add(lines, Columns("SUBTOTAL", answer.data));
      }
      return;
    case command::kTotal: {
      Open &open = Receipt(model, true);
      const size_t tab = data.find('\t');
      const std::string_view text = data.substr(0, tab);
      const std::string_view payment = data.substr(tab + 1);
      if (!open.totalPrinted) {
        open.lines.push_back(Rule());
        Add(open.lines, Columns("TOTAL " + Currency(s), Money(s.receipt.totalCents)));
        open.totalPrinted = true;
      }
      if (!text.empty()) Add(open.lines, Wrap(text));
      Add(open.lines, Columns(PaymentName(payment.empty() ? 'P' : payment[0]),
                              Money(s.receipt.paidCents - before_.receipt.paidCents)));
      if (!answer.data.empty() && answer.data[0] == 'D' && answer.data != "D0.00") {
        Add(open.lines, Columns("CHANGE", answer.data.substr(1)));
      } else if (!answer.data.empty() && answer.data[0] == 'R') {
        Add(open.lines, Columns("STILL DUE", answer.data.substr(1)));
      }
      return;
    }
    case command::kFiscalText:
      Add(Receipt(model, true).lines, Wrap(data));
      return;
    case command::kNonFiscalText:
      Add(Receipt(model, false).lines, Wrap(data));
      return;
    case command::kClientInfo: {
      Lines &lines = Receipt(model, true).lines;
      lines.push_back("CLIENT");
      for (const std::string_view field : SplitFields(data, '\t')) {
        if (!field.empty()) Add(lines, Wrap(field));
      }
      return;
    }
    case command::kCloseReceipt:
      Receipt(model, true);
      FinishReceipt(model, Footing(model, before_.zReports + 1,
                                   "RECEIPT " + std::string(Field(answer.data, 0)) + "   FISCAL RECEIPT " +
                                       std::string(Field(answer.data, 1)),
                                   "*** FISCAL RECEIPT - SIMULATED ***"));
      return;
    case command::kCloseNonFiscal:
      Receipt(model, false);
      FinishReceipt(model,
                    Footing(model, before_.zReports + 1, "RECEIPT " + answer.data, "*** NOT A FISCAL RECEIPT ***"));
      return;
    case command::kVoidReceipt: {
      Open &open = Receipt(model, true);
      open.lines.push_back(Rule());
      Add(open.lines, Columns("RECEIPT VOID", Money(before_.receipt.totalCents)));
      FinishReceipt(model, Footing(model, before_.zReports + 1, "RECEIPT " + std::to_string(s.receipts),
                                   "*** VOID: NOTHING BOOKED ***"));
      return;
    }
    default:
      return;
  }
}

void PaperRoll::Print(const DeviceModel &model, uint8_t cmd, std::string_view data, const Answer &answer) {
  const DeviceState &s = model.State();
  const bool cut = s.autoCutter;
  // A report: the heading, its title, its body and the footing, on a document of its own.
  const auto report = [&](const std::string &title, const Lines &body, const std::string &closing) {
    Lines lines = Heading(s);
    lines.push_back(Rule());
    Add(lines, Center(title));
    lines.push_back(Rule());
    Add(lines, body);
    Add(lines, Footing(model, before_.zReports + 1, "", closing));
    Finish(model, {}, lines, cut);
  };
  const auto dayReport = [&](const std::string &title, bool closing) {
    Lines body = GroupTotals(s, before_.dayByGroup);
    body.push_back(Rule());
    Add(body, Columns("TOTAL " + Currency(s), Money(before_.dayTotalCents)));
    Add(body, Columns("CASH IN", Money(before_.cashInCents)));
    Add(body, Columns("CASH OUT", Money(before_.cashOutCents)));
    Add(body, Columns("FISCAL RECEIPTS", std::to_string(before_.fiscalReceipts)));
    report(title, body, closing ? "*** DAY CLOSED - SIMULATED ***" : "*** NOT A FISCAL DOCUMENT ***");
  };
  const auto articleList = [&] {
    Lines body;
    for (const auto &[number, article] : s.articles) {
      Add(body, Wrap(std::to_string(number) + " " + article.name));
      Add(body, Columns("", Money(article.priceCents) + ' ' + article.group));
    }
    if (body.empty()) body.push_back("NO ARTICLES");
    return body;
  };
  const auto range = [&](const char *what) {
    const auto f = SplitFields(data, ',');
    return Lines{
        Columns(std::string(what) + " FROM " + std::string(f[0]), "TO " + std::string(f.size() > 1 ? f[1] : ""))};
  };

  switch (cmd) {
    case command::kPaperFeed: {
      const Lines blank(ParseDecimal(data, 99).value_or(0), std::string());
      if (open_)
        Add(open_->lines, blank);
      else
        Finish(model, {}, blank, false);
      return;
    }
    case command::kPaperCut:
      // The printer cuts where it is: an open receipt goes on on the next strip.
      if (open_) {
        Finish(model, std::move(open_->logoPng), open_->lines, true);
        open_->logoPng.clear();
        open_->lines.clear();
      } else {
        Finish(model, {}, {}, true);
      }
      return;
    case command::kReceiptCopy: {
      const unsigned copies = ParseDecimal(data, 9).value_or(1);
      for (unsigned i = 0; i < copies; ++i) {
        Lines lines = Center("*** COPY ***");
        if (lastReceipt_.empty()) Add(lines, Center("RECEIPT " + std::to_string(s.receipts) + ": NOT ON THIS ROLL"));
        Add(lines, lastReceipt_);
        Add(lines, Center("*** COPY: NOT A FISCAL RECEIPT ***"));
        Finish(model, {}, lines, cut);
      }
      return;
    }
    case command::kReport: {
      const std::string_view mode = !data.empty() && data.back() == 'N' ? data.substr(0, data.size() - 1) : data;
      const std::string number(Field(answer.data, 0));
      if (mode == "0")
        dayReport("Z REPORT " + number, true);
      else if (mode == "2" || mode.empty())
        dayReport("X REPORT " + number, false);
      else if (mode == "5")
        report("ELECTRONIC JOURNAL", {Columns("DOCUMENTS", answer.data)}, "*** JOURNAL PRINT ***");
      else
        report("PERIODIC REPORT", GroupTotals(s, s.dayByGroup), "*** NOT A FISCAL DOCUMENT ***");
      return;
    }
    case command::kDailyReport:
      if (data == "8") return;  // only reads the number
      report((data == "1" || data == "0" || data == "0N" ? "ARTICLE Z REPORT " : "ARTICLE X REPORT ") + answer.data,
             articleList(), "*** NOT A FISCAL DOCUMENT ***");
      return;
    case command::kArticleReport:
      report("ARTICLE REPORT", articleList(), "*** NOT A FISCAL DOCUMENT ***");
      return;
    case command::kClerkReport: {
      Lines body;
      for (size_t i = 0; i < kClerks; ++i) {
        if (!s.clerkNames[i].empty()) Add(body, Wrap(std::to_string(i + 1) + " " + s.clerkNames[i]));
      }
      if (body.empty()) body.push_back("NO CLERKS NAMED");
      report("CLERK REPORT", body, "*** NOT A FISCAL DOCUMENT ***");
      return;
    }
    case command::kFiscalMemoryByDate:
    case command::kFiscalMemoryByNumber:
    case command::kReportByDate:
    case command::kReportByNumber: {
      const bool full = cmd == command::kFiscalMemoryByDate || cmd == command::kFiscalMemoryByNumber;
      const bool dates = cmd == command::kFiscalMemoryByDate || cmd == command::kReportByDate;
      Lines body = range(dates ? "DATES" : "Z REPORTS");
      Add(body, Columns("Z REPORTS MADE", std::to_string(s.zReports)));
      for (size_t i = 0; i < kTaxGroups; ++i) {
        Add(body, Columns(std::string("RATE ") + static_cast<char>('A' + i),
                          s.taxRates[i] ? Percent(*s.taxRates[i]) : "NO RATE"));
      }
      report(full ? "FISCAL MEMORY REPORT" : "SHORT FISCAL MEMORY REPORT", body, "*** FISCAL MEMORY REPORT ***");
      return;
    }
    case command::kJournalDocument: {
      const auto f = SplitFields(data, ',');
      report("JOURNAL PRINT", {Columns("Z REPORT " + std::string(f[1]), "DOCUMENT " + std::string(f[2]))},
             "*** JOURNAL PRINT ***");
      return;
    }
    case command::kImsi: {
      if (data.empty()) return;  // the IMSI is only read
      Lines body = Columns("Z REPORT", std::string(Field(data, 1)));
      Add(body, Columns("FROM " + std::string(Field(data, 2)), "TO " + std::string(Field(data, 3))));
      report("JOURNAL PRINT", body, "*** JOURNAL PRINT ***");
      return;
    }
    case command::kDiagnostics: {
      Lines body;
      for (const auto &[label, value] :
           {std::pair<const char *, std::string>{"FIRMWARE", s.firmware},
            {"FIRMWARE DATE", s.firmwareDate},
            {"CHECKSUM", s.checksum},
            {"SWITCHES", s.switches},
            {"SERIAL NUMBER", s.serialNumber},
            {"FISCAL MEMORY", s.fiscalMemoryNumber},
            {"FISCALISED", s.fiscalised ? "YES" : "NO"},
            {"CLOSURES FREE", std::to_string(kFiscalMemoryClosures - std::min(s.zReports, kFiscalMemoryClosures))},
            {"PAPER WIDTH", std::to_string(kPaperWidth)}}) {
        Add(body, Columns(label, value));
      }
      report("DIAGNOSTIC PRINT", body, "*** NOT A FISCAL DOCUMENT ***");
      return;
    }
    case command::kServiceCash: {
      if (data.empty()) return;  // only reads the sums
      const bool in = s.cashInCents != before_.cashInCents;
      Lines body = Columns(in ? "CASH IN" : "CASH OUT",
                           Money(in ? s.cashInCents - before_.cashInCents : s.cashOutCents - before_.cashOutCents));
      Add(body, Columns("CASH IN TODAY", Money(s.cashInCents)));
      Add(body, Columns("CASH OUT TODAY", Money(s.cashOutCents)));
      report("SERVICE CASH", body, "*** NOT A FISCAL DOCUMENT ***");
      return;
    }
    default:
      break;
  }
  PrintReceiptCommand(model, cmd, data, answer);
}

namespace {

std::string Escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    uint32_t group = 0;
    for (size_t k = 0; k < 3; ++k) group = (group << 8) | (k < n ? static_cast<uint8_t>(bytes[i + k]) : 0u);
    for (size_t k = 0; k < 4; ++k) out.push_back(k <= n ? kDigits[(group >> (18 - 6 * k)) & 0x3F] : '=');
  }
  return out;
}

}  // namespace

std::string DocumentText(const PrintedDocument &document) {
  std::string text;
  if (!document.logoPng.empty()) text += layout::Center("[logo]")[0] + '\n';
  for (const std::string &line : document.lines) text += line + '\n';
  if (document.cut) text += "8<" + std::string(kPaperWidth - 2, '-') + '\n';
  return text;
}

std::string RollText(const std::vector<PrintedDocument> &documents) {
  std::string text = std::string(kRollNotice) + '\n';
  for (const PrintedDocument &document : documents) text += DocumentText(document);
  return text;
}

std::string RollHtml(const std::vector<PrintedDocument> &documents) {
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<title>fiscal-sim paper roll</title>\n<style>\n"
      "body{background:#7d7d7d;margin:0;padding:24px;font-family:sans-serif}\n"
      ".notice{color:#fff;text-align:center;margin:0 0 24px}\n"
      ".strip{background:#fffef8;width:" +
      std::to_string(kPaperWidth) +
      "ch;margin:0 auto 28px;padding:18px 14px;box-shadow:0 3px 8px rgba(0,0,0,.45);"
      "font:14px/1.3 'DejaVu Sans Mono','Liberation Mono',monospace;color:#222}\n"
      ".strip pre{margin:0;font:inherit;white-space:pre}\n"
      ".strip img{display:block;margin:0 auto 8px;max-width:100%;image-rendering:pixelated}\n"
      "</style>\n</head>\n<body>\n<p class=\"notice\">" +
      Escaped(kRollNotice) + "</p>\n";
  const size_t skipped = documents.size() > kPageDocuments ? documents.size() - kPageDocuments : 0;
  if (skipped > 0) {
    html += "<p class=\"notice\">" + std::to_string(skipped) +
            (skipped == 1 ? " earlier document is" : " earlier documents are") +
            " not shown; a text roll (--paper FILE) keeps every one.</p>\n";
  }
  bool inStrip = false;
  for (auto it = documents.begin() + static_cast<ptrdiff_t>(skipped); it != documents.end(); ++it) {
    const PrintedDocument &document = *it;
    const bool blank = document.lines.empty() && document.logoPng.empty();
    if (!inStrip && !blank) {
      html += "<div class=\"strip\">\n";
      inStrip = true;
    }
    if (!document.logoPng.empty()) {
      html += "<img alt=\"logo\" src=\"data:image/png;base64," + Base64(document.logoPng) + "\">\n";
    }
    if (!document.lines.empty()) {
      html += "<pre>";
      for (const std::string &line : document.lines) html += Escaped(line) + '\n';
      html += "</pre>\n";
    }
    if (document.cut && inStrip) {
      html += "</div>\n";
      inStrip = false;
    }
  }
  if (inStrip) html += "</div>\n";
  html += "</body>\n</html>\n";
  return html;
}

}  // namespace fiscalsim
