// Reports and the electronic journal.
#include <cstdio>
#include <optional>
#include <string>

#include "command.h"
#include "ole_date.h"
#include "tallyport.h"

using namespace tallyport;

namespace {

// A valid status word alone does not make a date: a value outside the calendar is refused
// too, instead of sending whatever such a value would print as.
std::optional<CalendarTime> ValidDate(const TpDateTime &value) {
  if (value.status != TALLYPORT_DT_VALID) return std::nullopt;
  return FromDateValue(value.value);
}

int32_t DayReportOf(const char *name, uint16_t code, int16_t mode, int16_t flag, char *out) {
  return Guarded(name, {mode, flag, Out(out)}, [&] {
    std::string reply;
    const int32_t result = Command(
        code, true,
        [&] {
          if (mode < 0) return std::string();
          return Format("%d", mode) + (flag != 0 ? "N" : "");
        },
        &reply);
    if (result == kSuccess) CopyOut(out, reply);
    return result;
  });
}

int32_t ByDate(const char *name, uint16_t code, const TpDateTime &from, const TpDateTime &to) {
  return Guarded(name, {from, to}, [&] {
    const auto first = ValidDate(from);
    const auto last = ValidDate(to);
    return Command(code, first && last,
                   [&] { return Format("%s,%s", DayMonthYear(*first).c_str(), DayMonthYear(*last).c_str()); });
  });
}

int32_t ByNumber(const char *name, uint16_t code, int16_t from, int16_t to) {
  return Guarded(name, {from, to}, [&] {
    return Command(code, from >= 0 && to >= 0, [&] { return Format("%04d,%04d", from, to); });
  });
}

}  // namespace

extern "C" {

TALLYPORT_API int32_t DayReport(int16_t mode, int16_t flag, char *out) {
  return DayReportOf("DayReport", 0x45, mode, flag, out);
}

TALLYPORT_API int32_t DayPluReport(int16_t mode, int16_t flag, char *out) {
  return DayReportOf("DayPluReport", 0x6C, mode, flag, out);
}

TALLYPORT_API int32_t PerReport(uint16_t kind) {
  return Guarded("PerReport", {kind}, [&] { return Command(0x45, kind <= 1, [&] { return Format("%d", 9 - kind); }); });
}

TALLYPORT_API int32_t PrintEKL(int16_t *number) {
  return Guarded("PrintEKL", {Out(number)}, [&] {
    std::string reply;
    const int32_t result = Command(0x45, true, [] { return Format("%d", 5); }, &reply);
    if (result == kSuccess && !reply.empty() && number) {
      int n = 0;
      *number = std::sscanf(reply.c_str(), "%d", &n) == 1 ? static_cast<int16_t>(n) : int16_t{0};
    }
    return result;
  });
}

TALLYPORT_API int32_t ClerkReport(void) {
  return Guarded("ClerkReport", {}, [] { return Command(0x69, true, NoData); });
}

TALLYPORT_API int32_t PluReport(int16_t selector, char *out) {
  return Guarded("PluReport", {selector, Out(out)}, [&] {
    std::string reply;
    const int32_t result = Command(0x6F, true, [&] { return Format("%d", selector); }, &reply);
    if (result == kSuccess) CopyOut(out, reply);
    return result;
  });
}

TALLYPORT_API int32_t PrintFiscalMemoryByDate(TpDateTime from, TpDateTime to) {
  return ByDate("PrintFiscalMemoryByDate", 0x5E, from, to);
}

TALLYPORT_API int32_t PrintFiscalMemoryByNum(int16_t from, int16_t to) {
  return ByNumber("PrintFiscalMemoryByNum", 0x49, from, to);
}

TALLYPORT_API int32_t PrintReportByDate(TpDateTime from, TpDateTime to) {
  return ByDate("PrintReportByDate", 0x4F, from, to);
}

TALLYPORT_API int32_t PrintReportByNum(int16_t from, int16_t to) {
  return ByNumber("PrintReportByNum", 0x5F, from, to);
}

TALLYPORT_API int32_t EKLStore(uint16_t value) {
  return Guarded("EKLStore", {value}, [&] { return Command(0x90, true, [&] { return Format("%d", value); }); });
}

TALLYPORT_API int32_t PrintDiagnosticInfo(void) {
  return Guarded("PrintDiagnosticInfo", {}, [] { return Command(0x47, true, NoData); });
}

}  // extern "C"
