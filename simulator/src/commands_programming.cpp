// Programming: articles, departments, clerks, options, currency, numbers, texts, logo rows,
// the customer display's characters, flash and fiscalisation.
#include <algorithm>
#include <cstdio>

#include "amounts.h"
#include "fiscalsim/device_model.h"
#include "text_fields.h"

namespace fiscalsim {
namespace {

// The highest numbers the device's tables take.
constexpr unsigned kMaxArticle = 999999999;
constexpr unsigned kMaxDepartment = 99;
constexpr unsigned kMaxFreeText = 99;
constexpr unsigned kMaxLogoRow = 95;

bool HexDigits(std::string_view text) {
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return text.size() % 2 == 0;
}

std::string ArticleRecord(uint32_t number, const Article &a) {
  return std::to_string(number) + ',' + a.group + ',' + FormatCents(a.priceCents) + ',' + a.name;
}

// "P<group><number>,<price>,<name>[\n<second line>[,<stock fields>]]"
Answer ProgramArticle(DeviceState &s, std::string_view data) {
  const size_t newline = data.find('\n');
  const std::string_view head = data.substr(0, newline);
  if (head.size() < 3 || head[1] < 'A' || head[1] > 'Z') return Answer::SyntaxError();
  const auto f = SplitFields(head.substr(2), ',');
  if (f.size() < 3) return Answer::SyntaxError();
  const auto number = ParseDecimal(f[0], kMaxArticle);
  const auto price = ParseCents(f[1]);
  // The name may hold commas of its own.
  const std::string_view name = head.substr(2 + f[0].size() + 1 + f[1].size() + 1);
  if (!number || *number == 0 || !price || *price < 0 || name.empty()) return Answer::SyntaxError();
  Article article;
  article.group = head[1];
  article.priceCents = *price;
  article.name = std::string(name);
  if (newline != std::string_view::npos) {
    const std::string_view second = data.substr(newline + 1);
    const size_t comma = second.find(',');
    article.secondLine = std::string(second.substr(0, comma));
    if (comma != std::string_view::npos) {
      const auto stock = SplitFields(second.substr(comma + 1), ',');
      if (stock.size() != 6 || !ParseNumber(stock[2], 3)) return Answer::SyntaxError();
      article.stock = std::string(second.substr(comma + 1));
    }
  }
  s.articles[*number] = std::move(article);
  return Answer::Ok("P");
}

// Articles: P programs, DA deletes all, D<from>[,<to>] deletes a range, R<n> reads one,
// F and F1 the first, N the one after the last read.
void RegisterArticles(DeviceModel &model) {
  model.Register(command::kArticles, [last = uint32_t{0}](DeviceModel &m, std::string_view data) mutable {
    DeviceState &s = m.State();
    if (data.empty()) return Answer::SyntaxError();
    if (data[0] == 'P') return ProgramArticle(s, data);
    if (s.receipt.kind != Receipt::Kind::None && data[0] == 'D') return Answer::NotAllowed();
    if (data == "DA") {
      s.articles.clear();
      return Answer::Ok("P");
    }
    if (data[0] == 'D') {
      const auto f = SplitFields(data.substr(1), ',');
      const auto from = ParseDecimal(f[0], kMaxArticle);
      const auto to = f.size() == 2 ? ParseDecimal(f[1], kMaxArticle) : from;
      if (f.size() > 2 || !from || !to || *to < *from) return Answer::SyntaxError();
      s.articles.erase(s.articles.lower_bound(*from), s.articles.upper_bound(*to));
      return Answer::Ok("P");
    }
    std::map<uint32_t, Article>::const_iterator it;
    if (data == "F" || data == "F1") {
      it = s.articles.begin();
    } else if (data == "N") {
      it = s.articles.upper_bound(last);
    } else if (data[0] == 'R') {
      const auto number = ParseDecimal(data.substr(1), kMaxArticle);
      if (!number) return Answer::SyntaxError();
      it = s.articles.find(*number);
    } else {
      return Answer::SyntaxError();
    }
    if (it == s.articles.end()) return Answer::Ok("F");
    last = it->first;
    return Answer::Ok(ArticleRecord(it->first, it->second));
  });
}

// Departments: "P<n>,<name>\n<group>,<price>,<a>,<b>,<c>,<d>" programs, "R<n>" reads.
void RegisterDepartments(DeviceModel &model) {
  model.Register(command::kDepartments, [](DeviceModel &m, std::string_view data) {
    DeviceState &s = m.State();
    if (data.size() > 1 && data[0] == 'R') {
      const auto number = ParseDecimal(data.substr(1), kMaxDepartment);
      if (!number) return Answer::SyntaxError();
      const auto it = s.departments.find(*number);
      if (it == s.departments.end()) return Answer::Ok("F");
      return Answer::Ok(std::to_string(*number) + ',' + it->second.name + ',' + it->second.group + ',' +
                        it->second.price);
    }
    const size_t newline = data.find('\n');
    if (data.empty() || data[0] != 'P' || newline == std::string_view::npos) return Answer::SyntaxError();
    const auto head = SplitFields(data.substr(1, newline - 1), ',');
    const auto rest = SplitFields(data.substr(newline + 1), ',');
    if (head.size() != 2 || rest.size() != 6) return Answer::SyntaxError();
    const auto number = ParseDecimal(head[0], kMaxDepartment);
    if (!number || *number == 0 || head[1].empty() || rest[0].size() != 1 || !ParseCents(rest[1])) {
      return Answer::SyntaxError();
    }
    for (size_t i = 2; i < 6; ++i) {
      if (!ParseDecimal(rest[i], 4294967295u)) return Answer::SyntaxError();
    }
    Department &d = s.departments[*number];
    d.group = rest[0][0];
    d.name = std::string(head[1]);
    d.price = std::string(rest[1]);
    d.limits = std::string(data.substr(newline + 1 + rest[0].size() + 1 + rest[1].size() + 1));
    return Answer::Ok("P");
  });
}

// "<clerk>,<text>,<text>": the password is the third field, the name the second. The service
// tool writes an operator whole: "<clerk>,<password>,<name>\n<identification number>".
void RegisterClerks(DeviceModel &model) {
  for (const uint8_t code : {command::kClerkPassword, command::kClerkName}) {
    model.Register(code, [code](DeviceModel &m, std::string_view data) {
      const size_t newline = code == command::kClerkName ? data.find('\n') : std::string_view::npos;
      const std::string_view record = data.substr(0, newline);
      const auto f = SplitFields(record, ',');
      if (f.size() != 3) return Answer::SyntaxError();
      const auto clerk = ParseDecimal(f[0], kClerks);
      if (!clerk || *clerk == 0) return Answer::SyntaxError();
      DeviceState &s = m.State();
      const size_t at = *clerk - 1;
      if (newline != std::string_view::npos) {
        const std::string_view id = data.substr(newline + 1);
        if (f[1].empty() || id.size() > 11) return Answer::SyntaxError();
        s.clerkPasswords[at] = std::string(f[1]);
        s.clerkNames[at] = std::string(f[2]);
        s.clerkIds[at] = std::string(id);
        return Answer::Ok();
      }
      auto &slot = code == command::kClerkPassword ? s.clerkPasswords : s.clerkNames;
      slot[at] = std::string(code == command::kClerkPassword ? f[2] : f[1]);
      return Answer::Ok();
    });
  }
}

void RegisterOptions(DeviceModel &model) {
  model.Register(command::kFonts, [](DeviceModel &m, std::string_view data) {
    const auto f = SplitFields(data, ',');
    if (f.size() != 2) return Answer::SyntaxError();
    const auto a = ParseDecimal(f[0], 9);
    const auto b = ParseDecimal(f[1], 9);
    if (!a || !b) return Answer::SyntaxError();
    m.State().fonts = {*a, *b};
    return Answer::Ok();
  });

  model.Register(command::kGlobalOptions, [](DeviceModel &m, std::string_view data) {
    const auto options = ParseDecimal(data, 65535);
    if (!options) return Answer::SyntaxError();
    m.State().globalOptions = *options;
    return Answer::Ok();
  });

  // "<decimals>,<a>[,<currency> ],<b>" sets; no data reads back "<decimals>,<a>,<currency>,<b>".
  model.Register(command::kDecimalsAndCurrency, [](DeviceModel &m, std::string_view data) {
    DeviceState &s = m.State();
    if (data.empty()) return Answer::Ok(s.decimalsAndCurrency);
    const auto f = SplitFields(data, ',');
    if (f.size() != 3 && f.size() != 4) return Answer::SyntaxError();
    const auto decimals = ParseDecimal(f[0], 3);
    const auto a = ParseDecimal(f[1], 9);
    const auto b = ParseDecimal(f.back(), 9);
    std::string currency = "EUR";
    if (f.size() == 4) {
      // The currency comes with a blank after it.
      if (f[2].size() < 2 || f[2].back() != ' ') return Answer::SyntaxError();
      currency = std::string(f[2].substr(0, f[2].size() - 1));
    }
    if (!decimals || !a || !b) return Answer::SyntaxError();
    if (s.receipt.kind != Receipt::Kind::None) return Answer::NotAllowed();
    s.decimalsAndCurrency = std::to_string(*decimals) + ',' + std::to_string(*a) + ',' + currency + ',' +
                            std::to_string(*b);
    return Answer::Ok("P");
  });

  // "<country>,<serial>,<fiscal memory number>": once, before fiscalisation. The service tool
  // sends "7,<serial>,,": an empty memory number leaves the one the device has.
  model.Register(command::kCountryAndSerial, [](DeviceModel &m, std::string_view data) {
    const auto f = SplitFields(data, ',');
    const bool toolForm = f.size() == 4 && f[3].empty();
    if ((f.size() != 3 && !toolForm) || !ParseDecimal(f[0], 999) || f[1].empty()) return Answer::SyntaxError();
    DeviceState &s = m.State();
    if (s.fiscalised) return Answer::Ok("F");
    s.country = *ParseDecimal(f[0], 999);
    s.serialNumber = std::string(f[1]);
    if (!f[2].empty()) s.fiscalMemoryNumber = std::string(f[2]);
    return Answer::Ok("P");
  });

  // "<tax number>,<second number>": answers P when taken, F after fiscalisation.
  model.Register(command::kSetTaxNumber, [](DeviceModel &m, std::string_view data) {
    const auto f = SplitFields(data, ',');
    if (f.size() != 2 || f[0].empty()) return Answer::SyntaxError();
    DeviceState &s = m.State();
    if (s.fiscalised) return Answer::Ok("F");
    s.taxNumber = std::string(f[0]);
    return Answer::Ok("P");
  });

  // "P<amount>[,<text>]" sets, "R" reads.
  model.Register(command::kVatAccount, [](DeviceModel &m, std::string_view data) {
    DeviceState &s = m.State();
    if (data == "R") return Answer::Ok(s.vatAccount);
    if (data.empty() || data[0] != 'P') return Answer::SyntaxError();
    const std::string_view body = data.substr(1);
    const size_t comma = body.find(',');
    const auto amount = ParseCents(body.substr(0, comma));
    if (!amount) return Answer::SyntaxError();
    s.vatAccount = std::string(body);
    return Answer::Ok();
  });

  // "P<n>,<text>" sets free text n, "R<n>" reads it.
  model.Register(command::kFreeText, [](DeviceModel &m, std::string_view data) {
    DeviceState &s = m.State();
    if (data.size() < 2 || (data[0] != 'P' && data[0] != 'R')) return Answer::SyntaxError();
    if (data[0] == 'R') {
      const auto n = ParseDecimal(data.substr(1), kMaxFreeText);
      if (!n) return Answer::SyntaxError();
      const auto it = s.texts.find(*n);
      return Answer::Ok(it == s.texts.end() ? std::string() : it->second);
    }
    const size_t comma = data.find(',');
    const auto n = ParseDecimal(data.substr(1, comma == std::string_view::npos ? 0 : comma - 1), kMaxFreeText);
    if (!n || data.size() - comma - 1 > kHeaderLineMax) return Answer::SyntaxError();
    s.texts[*n] = std::string(data.substr(comma + 1));
    return Answer::Ok();
  });

  // "<row>,<row's pixels in hex>", within the largest logo the device takes.
  model.Register(command::kLogoRow, [](DeviceModel &m, std::string_view data) {
    const size_t comma = data.find(',');
    if (comma == std::string_view::npos) return Answer::SyntaxError();
    const DeviceState &s = m.State();
    const auto row = ParseDecimal(data.substr(0, comma), std::min(kMaxLogoRow, s.logoMaxRows - 1));
    const std::string_view hex = data.substr(comma + 1);
    if (s.logoMaxRows == 0 || !row || !HexDigits(hex) || hex.size() > s.logoWidthDots / 4) return Answer::SyntaxError();
    m.State().logoRows[*row] = std::string(data.substr(comma + 1));
    return Answer::Ok();
  });
}

// The customer display's characters: a row of 32 bytes at 80, A0, C0 or E0, "<row>,<hex>"; or
// the short form "<first>,<second>[,<hex>]".
void RegisterDisplayCharacters(DeviceModel &model) {
  model.Register(command::kDisplayCharacterRow, [](DeviceModel &m, std::string_view data) {
    constexpr size_t kRowBytes = 32;
    constexpr size_t kHexAt = 3;  // after the two digits of the row and the comma
    if (data.size() != kHexAt + 2 * kRowBytes || data[kHexAt - 1] != ',' || !HexDigits(data.substr(kHexAt))) {
      return Answer::SyntaxError();
    }
    const std::string_view row = data.substr(0, 2);
    if (row != "80" && row != "A0" && row != "C0" && row != "E0") return Answer::SyntaxError();
    m.State().displayCharacters[static_cast<unsigned>(std::stoul(std::string(row), nullptr, 16))] =
        std::string(data.substr(kHexAt));
    return Answer::Ok();
  });
  model.Register(command::kDisplayCharacters, [](DeviceModel &m, std::string_view data) {
    const auto f = SplitFields(data, ',');
    if (f.size() < 2 || f.size() > 3 || !ParseDecimal(f[0], 255) || !ParseDecimal(f[1], 255) ||
        (f.size() == 3 && (f[2].empty() || !HexDigits(f[2])))) {
      return Answer::SyntaxError();
    }
    m.State().displayCharacters[0] = std::string(data);
    return Answer::Ok();
  });
}

void RegisterFiscal(DeviceModel &model) {
  model.Register(command::kWriteFlash, [](DeviceModel &m, std::string_view data) {
    if (!data.empty()) return Answer::SyntaxError();
    ++m.State().flashWrites;
    return Answer::Ok();
  });

  // "<text>": answers 0 when fiscalised now; a device fiscalised already refuses.
  model.Register(command::kFiscalise, [](DeviceModel &m, std::string_view data) {
    if (data.empty()) return Answer::SyntaxError();
    DeviceState &s = m.State();
    if (s.fiscalised || s.receipt.kind != Receipt::Kind::None) return Answer::NotAllowed();
    s.fiscalised = true;
    return Answer::Ok("0");
  });

  // "T" switches the test area on; answers "<P or F>,<records left>".
  model.Register(command::kTestArea, [](DeviceModel &m, std::string_view data) {
    if (!data.empty() && data != "T") return Answer::SyntaxError();
    DeviceState &s = m.State();
    if (data == "T") s.testArea = true;
    return Answer::Ok(std::string(s.testArea ? "P" : "F") + ",50");
  });
}

}  // namespace

void RegisterProgrammingCommands(DeviceModel &model) {
  RegisterArticles(model);
  RegisterDepartments(model);
  RegisterClerks(model);
  RegisterOptions(model);
  RegisterDisplayCharacters(model);
  RegisterFiscal(model);
}

}  // namespace fiscalsim
