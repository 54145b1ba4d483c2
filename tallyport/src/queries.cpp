// Queries, the customer display and the generic command.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "command.h"
#include "ole_date.h"
#include "tallyport.h"

using namespace tallyport;

namespace {

int32_t Query(const char *name, uint16_t code, char *out) {
  return TextCommand(name, {Out(out)}, code, true, NoData, out);
}

// Report periods come as plain date values and are never refused: one that is no date goes
// as the caller's date type would print it.
std::string PeriodDate(double value) {
  const auto time = FromDateValue(value);
  return time ? DayMonthYear(*time) : std::string("Invalid DateTime");
}

int AsInteger(std::string_view field) { return static_cast<int>(std::strtol(std::string(field).c_str(), nullptr, 10)); }

}  // namespace

extern "C" {

TALLYPORT_API int32_t DisplayClear(void) { return Simple("DisplayClear", {}, 0x21, NoData); }

TALLYPORT_API int32_t DisplayText(uint16_t number, const char *text) {
  return Simple("DisplayText", {number, text}, 0x2E, [&] { return Format("%d,%s", number, Text(text)); });
}

TALLYPORT_API int32_t DisplayTextLL(const char *text) {
  return Simple("DisplayTextLL", {text}, 0x23, [&] { return std::string(Text(text)); });
}

TALLYPORT_API int32_t DisplayTextUL(const char *text) {
  return Simple("DisplayTextUL", {text}, 0x2F, [&] { return std::string(Text(text)); });
}

TALLYPORT_API int32_t DisplayFreeData(const char *text) {
  return Simple("DisplayFreeData", {text}, 0x64, [&] { return std::string(Text(text)); });
}

TALLYPORT_API int32_t DisplayDateTime(void) { return Simple("DisplayDateTime", {}, 0x3F, NoData); }

TALLYPORT_API int32_t GetDateTime(TpDateTime *dateTime) {
  return Guarded("GetDateTime", {Out(dateTime)}, [&] {
    std::string reply;
    const int32_t result = Command(0x3E, true, NoData, &reply);
    if (result != kSuccess) return result;
    CalendarTime t;
    if (std::sscanf(reply.c_str(), "%d-%d-%d %d:%d:%d", &t.day, &t.month, &t.year, &t.hour, &t.minute, &t.second) !=
        6) {
      return kSuccess;
    }
    if (t.year < 2000) t.year += 2000;
    const auto value = ToDateValue(t);
    if (!value) {
      if (dateTime) dateTime->status = TALLYPORT_DT_INVALID;
      return kBadAnswer;
    }
    if (dateTime) {
      dateTime->value = *value;
      dateTime->status = TALLYPORT_DT_VALID;
    }
    return kSuccess;
  });
}

TALLYPORT_API int32_t GetFreeClosures(int16_t *first, int16_t *second) {
  return Guarded("GetFreeClosures", {Out(first), Out(second)}, [&] {
    std::string reply;
    const int32_t result = Command(0x44, true, NoData, &reply);
    if (result == kSuccess) TwoNumbers(reply, first, second);
    return result;
  });
}

TALLYPORT_API int32_t GetHeader(int16_t line, char *out) {
  return TextCommand("GetHeader", {line, Out(out)}, 0x2B, true, [&] { return Format("I%d", line); }, out);
}

TALLYPORT_API int32_t GetTaxRates(double from, double to, char *out) {
  return Guarded("GetTaxRates", {from, to, Out(out)}, [&] {
    std::string reply;
    const int32_t result =
        Command(0x32, true, [&] { return Format("%s,%s", PeriodDate(from).c_str(), PeriodDate(to).c_str()); }, &reply);
    if (result == kSuccess && !reply.empty()) CopyOut(out, reply);
    return result;
  });
}

TALLYPORT_API int32_t GetPrnStatus(int16_t flag, char *out) {
  return TextCommand(
      "GetPrnStatus", {flag, Out(out)}, 0x4A, true, [&] { return std::string(flag != 0 ? "W" : "X"); }, out);
}

TALLYPORT_API int32_t GetFiscalClosureStatus(int16_t flag, char *out) {
  return TextCommand(
      "GetFiscalClosureStatus", {flag, Out(out)}, 0x4C, true, [&] { return std::string(flag != 0 ? "T" : ""); }, out);
}

TALLYPORT_API int32_t GetDiagnosticInfo(int16_t flag, char *out) {
  return TextCommand(
      "GetDiagnosticInfo", {flag, Out(out)}, 0x5A, true, [&] { return std::string(flag != 0 ? "1" : ""); }, out);
}

TALLYPORT_API int32_t GetMulDecCurRF(int16_t *first, int16_t *second, char *currency, int16_t *third) {
  return Guarded("GetMulDecCurRF", {Out(first), Out(second), Out(currency), Out(third)}, [&] {
    std::string reply;
    const int32_t result = Command(0x53, true, NoData, &reply);
    if (result != kSuccess) return result;
    std::vector<std::string_view> fields;
    std::string_view rest(reply.c_str());
    while (!rest.empty()) {
      const size_t comma = rest.find(',');
      const std::string_view field = rest.substr(0, comma);
      if (!field.empty()) fields.push_back(field);
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
    if (fields.size() > 0 && first) *first = static_cast<int16_t>(AsInteger(fields[0]));
    if (fields.size() > 1 && second) *second = static_cast<int16_t>(AsInteger(fields[1]));
    if (fields.size() > 2) CopyOut(currency, fields[2]);
    if (fields.size() > 3 && third) *third = static_cast<int16_t>(AsInteger(fields[3]));
    return result;
  });
}

TALLYPORT_API int32_t GetCurrentTaxRates(double *rate1, double *rate2, double *rate3, double *rate4) {
  return Guarded("GetCurrentTaxRates", {Out(rate1), Out(rate2), Out(rate3), Out(rate4)}, [&] {
    std::string reply;
    const int32_t result = Command(0x61, true, NoData, &reply);
    if (result != kSuccess || reply.empty()) return result;
    double v[4] = {};
    const int parsed = std::sscanf(reply.c_str(), "%lf,%lf,%lf,%lf", &v[0], &v[1], &v[2], &v[3]);
    double *outs[4] = {rate1, rate2, rate3, rate4};
    for (int i = 0; i < parsed; ++i) {
      if (outs[i]) *outs[i] = v[i];
    }
    return result;
  });
}

TALLYPORT_API int32_t GetCurrentTaxR(char *out) { return Query("GetCurrentTaxR", 0x61, out); }
TALLYPORT_API int32_t GetCurrentTaxes(char *out) { return Query("GetCurrentTaxes", 0x41, out); }
TALLYPORT_API int32_t GetCurrentSums(char *out) { return Query("GetCurrentSums", 0x43, out); }
TALLYPORT_API int32_t GetLastClosure(char *out) { return Query("GetLastClosure", 0x40, out); }
TALLYPORT_API int32_t GetTaxNumber(char *out) { return Query("GetTaxNumber", 0x63, out); }
TALLYPORT_API int32_t GetBonInfo(char *out) { return Query("GetBonInfo", 0x67, out); }
TALLYPORT_API int32_t GetDayInfo(char *out) { return Query("GetDayInfo", 0x6E, out); }
TALLYPORT_API int32_t GetDocNumber(char *out) { return Query("GetDocNumber", 0x71, out); }
TALLYPORT_API int32_t GetConstants(char *out) { return Query("GetConstants", 0x80, out); }

TALLYPORT_API int32_t GetClerkInfo(int16_t clerk, char *out) {
  return TextCommand("GetClerkInfo", {clerk, Out(out)}, 0x70, true, [&] { return Format("%02d", clerk); }, out);
}

TALLYPORT_API int32_t GetFMInfo(int16_t kind, int16_t first, int16_t second, char *out) {
  return TextCommand(
      "GetFMInfo", {kind, first, second, Out(out)}, 0x72, true,
      [&] {
        std::string data = Format("%u,%u", U(first), U(kind));
        if (kind >= 4) data += Format(",%u", U(second));
        return data;
      },
      out);
}

TALLYPORT_API int32_t GetPluInfo(int16_t type, int16_t plu, char *out) {
  return TextCommand(
      "GetPluInfo", {type, plu, Out(out)}, 0x6B, type >= 0 && type <= 3,
      [&] {
        switch (type) {
          case 0:
            return std::string("F");
          case 1:
            return std::string("N");
          case 2:
            return Format("R%lu", Lu(static_cast<int32_t>(plu)));
          default:
            return std::string("F1");
        }
      },
      out);
}

TALLYPORT_API int32_t GetVatAccount(char *out) {
  return TextCommand("GetVatAccount", {Out(out)}, 0x93, true, [] { return std::string("R"); }, out);
}

TALLYPORT_API int32_t GetDeptInfo(int16_t department, char *out) {
  return TextCommand(
      "GetDeptInfo", {department, Out(out)}, 0x83, true, [&] { return Format("R%u", U(department)); }, out);
}

TALLYPORT_API int32_t GetText(int16_t number, char *out) {
  return TextCommand("GetText", {number, Out(out)}, 0x95, true, [&] { return Format("R%d", number); }, out);
}

TALLYPORT_API int32_t ServiceInputOutput(double amount, char *out) {
  return TextCommand(
      "ServiceInputOutput", {amount, Out(out)}, 0x46, Printable({Amount(amount)}),
      [&] { return amount != 0 ? Format("%05.2lf", amount) : std::string(); }, out);
}

TALLYPORT_API int32_t TestPrinter(int32_t code, const char *data, char *out) {
  // Any command may be one whose data carries a password.
  const Arg shownData = platform::CommandCarriesSecret(static_cast<unsigned>(code)) ? Secret(data) : Arg(data);
  return TextCommand(
      "TestPrinter", {code, shownData, Out(out)}, static_cast<uint16_t>(code & 0xFF), true,
      [&] { return std::string(Text(data)); }, out);
}

}  // extern "C"
