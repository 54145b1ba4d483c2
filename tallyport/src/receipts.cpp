// Receipts, sales, payment and paper.
#include <cmath>
#include <cstdio>
#include <string>

#include "command.h"
#include "tallyport.h"

using namespace tallyport;

namespace {

// The optional quantity, percent and price of an article or department sale; each is left
// out when exactly 0.
std::string SaleOptions(double quantity, double percent, double price) {
  std::string data;
  if (quantity != 0) data += Format("*%.3lf", quantity);
  if (percent != 0) data += Format(",%05.2lf", percent);
  if (price != 0) data += Format("@%.2lf", price);
  return data;
}

int32_t FreeSale(const char *name, uint16_t code, const char *item, const char *taxGroup, double price,
                 double quantity, double percent) {
  return Guarded(name, {item, taxGroup, price, quantity, percent}, [&] {
    const bool argumentsOk = !Empty(taxGroup) && Printable({Amount(price), Quantity(quantity), Percent(percent)});
    return Command(code, argumentsOk, [&] {
      return Format("%s\t%c%.2lf*%.3lf,%.2lf", Text(item), First(taxGroup), price, quantity, percent);
    });
  });
}

}  // namespace

extern "C" {

TALLYPORT_API int32_t BeginFiscalBon(uint32_t clerk, const char *password, uint32_t till, char option,
                                     int16_t *first, int16_t *second) {
  return Guarded("BeginFiscalBon", {clerk, Secret(password), till, option, Out(first), Out(second)}, [&] {
    std::string reply;
    const int32_t result = Command(
        0x30, !Empty(password) && till != 0,
        [&] {
          std::string data = Format("%02lu,%s,%02lu", Lu(clerk), Text(password), Lu(till));
          if (option != 0) data += Format(",%c", option);
          return data;
        },
        &reply);
    if (result == kSuccess) TwoNumbers(reply, first, second);
    return result;
  });
}

TALLYPORT_API int32_t Sale(const char *item, const char *taxGroup, double price, double quantity, double percent) {
  return FreeSale("Sale", 0x31, item, taxGroup, price, quantity, percent);
}

TALLYPORT_API int32_t SaleAndDisplay(const char *item, const char *taxGroup, double price, double quantity,
                                     double percent) {
  return FreeSale("SaleAndDisplay", 0x34, item, taxGroup, price, quantity, percent);
}

TALLYPORT_API int32_t SalePlu(int32_t plu, double quantity, double percent, double price) {
  return Guarded("SalePlu", {plu, quantity, percent, price}, [&] {
    return Command(0x3A, Printable({Quantity(quantity), Percent(percent), Amount(price)}),
                   [&] { return Format("%ld", Ld(plu)) + SaleOptions(quantity, percent, price); });
  });
}

TALLYPORT_API int32_t SaleDept(int16_t department, double quantity, double percent, double price) {
  return Guarded("SaleDept", {department, quantity, percent, price}, [&] {
    return Command(0x8A, Printable({Quantity(quantity), Percent(percent), Amount(price)}),
                   [&] { return Format("%d", department) + SaleOptions(quantity, percent, price); });
  });
}

TALLYPORT_API int32_t SubTotal(int16_t print, int16_t display, double percent, char *out) {
  return Guarded("SubTotal", {print, display, percent, Out(out)}, [&] {
    std::string reply;
    const int32_t result =
        Command(0x33, Printable({Percent(percent)}), [&] { return Format("%d%d,%05.2lf", print, display, percent); },
                &reply);
    if (result == kSuccess && !reply.empty()) CopyOut(out, reply);
    return result;
  });
}

TALLYPORT_API int32_t Total(const char *line, const char *paymentType, double amount, int16_t *paymentCode,
                            double *amountOut) {
  return Guarded("Total", {line, paymentType, amount, Out(paymentCode), Out(amountOut)}, [&] {
    std::string reply;
    const int32_t result = Command(
        0x35, Printable({Amount(amount)}),
        [&] {
          std::string data = Format("%s\t", Text(line));
          if (!Empty(paymentType) || amount != 0) {
            const char payment = Empty(paymentType) ? 'P' : First(paymentType);
            // The amount's range keeps the count of cents within 32 bits.
            const auto whole = static_cast<int32_t>(std::trunc(amount * 100));
            data += whole % 100 != 0 ? Format("%c%05.2lf", payment, amount) : Format("%c%d", payment, whole / 100);
          }
          return data;
        },
        &reply);
    if (result != kSuccess) return result;
    char code = 0;
    double value = 0;
    if (std::sscanf(reply.c_str(), "%c%lf", &code, &value) == 2) {
      if (paymentCode) *paymentCode = static_cast<int16_t>(static_cast<unsigned char>(code));
      if (amountOut) *amountOut = value;
    }
    return result;
  });
}

TALLYPORT_API int32_t PrintFiscalText(const char *text) {
  return Guarded("PrintFiscalText", {text},
                 [&] { return Command(0x36, !Empty(text), [&] { return std::string(Text(text)); }); });
}

TALLYPORT_API int32_t PrintClientInfo(const char *text1, const char *text2, const char *text3, const char *text4,
                                      const char *text5, const char *text6) {
  return Guarded("PrintClientInfo", {text1, text2, text3, text4, text5, text6}, [&] {
    return Command(0x39, true, [&] {
      return Format("%s\t%s\t%s\t%s\t%s\t%s", Text(text1), Text(text2), Text(text3), Text(text4), Text(text5),
                    Text(text6));
    });
  });
}

TALLYPORT_API int32_t EndFiscalBon(int16_t *first, int16_t *second) {
  return Guarded("EndFiscalBon", {Out(first), Out(second)}, [&] {
    std::string reply;
    const int32_t result = Command(0x38, true, NoData, &reply);
    if (result == kSuccess) TwoNumbers(reply, first, second);
    return result;
  });
}

TALLYPORT_API int32_t VoidAll(void) {
  return Guarded("VoidAll", {}, [] { return Command(0x82, true, NoData); });
}

TALLYPORT_API int32_t BeginNonFiscalBon(int16_t *first, int16_t *second) {
  return Guarded("BeginNonFiscalBon", {Out(first), Out(second)}, [&] {
    std::string reply;
    const int32_t result = Command(0x26, true, NoData, &reply);
    if (result != kSuccess) return result;
    int a = 0;
    int b = 0;
    if (std::sscanf(reply.c_str(), "%d,%d", &a, &b) >= 1) {
      if (first) *first = static_cast<int16_t>(a);
      if (second) *second = static_cast<int16_t>(b);
    }
    return result;
  });
}

TALLYPORT_API int32_t PrintNonFiscalText(const char *text) {
  return Guarded("PrintNonFiscalText", {text},
                 [&] { return Command(0x2A, true, [&] { return std::string(Text(text)); }); });
}

TALLYPORT_API int32_t EndNonFiscalBon(int16_t *number) {
  return Guarded("EndNonFiscalBon", {Out(number)}, [&] {
    std::string reply;
    const int32_t result = Command(0x27, true, NoData, &reply);
    int n = 0;
    if (result == kSuccess && std::sscanf(reply.c_str(), "%d", &n) == 1 && number) *number = static_cast<int16_t>(n);
    return result;
  });
}

TALLYPORT_API int32_t PrintCopyBon(int16_t count) {
  return Guarded("PrintCopyBon", {count}, [&] { return Command(0x6D, true, [&] { return Format("%d", count); }); });
}

TALLYPORT_API int32_t OpenDrawer(int16_t pulse) {
  return Guarded("OpenDrawer", {pulse}, [&] {
    return Command(0x6A, true, [&] { return pulse != 0 ? Format("%d", pulse) : std::string(); });
  });
}

TALLYPORT_API int32_t AdvancePaper(uint16_t lines, int32_t unused) {
  return Guarded("AdvancePaper", {lines, unused},
                 [&] { return Command(0x2C, lines < 100, [&] { return Format("%d", lines); }); });
}

TALLYPORT_API int32_t CutPaper(int16_t *answer) {
  return Guarded("CutPaper", {Out(answer)}, [&] {
    std::string reply;
    const int32_t result = Command(0x2D, true, NoData, &reply);
    if (result == kSuccess && !reply.empty() && answer) {
      *answer = static_cast<int16_t>(static_cast<unsigned char>(reply[0]));
    }
    return result;
  });
}

}  // extern "C"
