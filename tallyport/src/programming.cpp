// Programming the device: rates, texts, articles, departments, clerks, clock, options, logo,
// customer display characters and fiscalisation.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "command.h"
#include "ole_date.h"
#include "tallyport.h"

using namespace tallyport;

namespace {

template <typename MakeData>
int32_t AnswerCommand(const char *name, Args args, uint16_t code, bool argumentsOk, MakeData &&makeData,
                      int16_t *answer) {
  return Guarded(name, args, [&] {
    std::string reply;
    const int32_t result = Command(code, argumentsOk, makeData, &reply);
    if (result == kSuccess) AnswerCharacter(reply, answer);
    return result;
  });
}

std::string PluHead(int32_t plu, const char *taxGroup, double price, const char *name) {
  return Format("P%c%lu,%05.2lf,%s", First(taxGroup), Lu(plu), price, Text(name));
}

// The customer display's character set: at most 128 bytes from the start of the file.
struct CharacterSet {
  unsigned char bytes[128] = {};
  size_t size = 0;
};

bool ReadCharacterSet(const char *fileName, CharacterSet &set) {
  if (Empty(fileName)) return false;
  std::ifstream file(fileName, std::ios::binary);
  if (!file) return false;
  file.read(reinterpret_cast<char *>(set.bytes), sizeof set.bytes);
  set.size = static_cast<size_t>(file.gcount());
  return true;
}

std::string Hex(const unsigned char *bytes, size_t n) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < n; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

}  // namespace

extern "C" {

TALLYPORT_API int32_t SetTaxRates(double rate1, double rate2, double rate3, double rate4, int16_t *answer) {
  return AnswerCommand(
      "SetTaxRates", {rate1, rate2, rate3, rate4, Out(answer)}, 0x60,
      Printable({Percent(rate1), Percent(rate2), Percent(rate3), Percent(rate4)}),
      [&] { return Format("%05.2lf,%05.2lf,%05.2lf,%05.2lf", rate1, rate2, rate3, rate4); }, answer);
}

TALLYPORT_API int32_t SetTaxR(const char *rates, int16_t *answer) {
  return AnswerCommand("SetTaxR", {rates, Out(answer)}, 0x60, true, [&] { return std::string(Text(rates)); }, answer);
}

TALLYPORT_API int32_t SetHeaderFooter(uint16_t line, const char *text) {
  return Simple("SetHeaderFooter", {line, text}, 0x2B, [&] { return Format("%d%s", line, Text(text)); });
}

TALLYPORT_API int32_t SetPrintOptions(int16_t option1, int16_t option2, int16_t option3, int16_t option4) {
  return Simple("SetPrintOptions", {option1, option2, option3, option4}, 0x2B,
                [&] { return Format("P%d%d%d%d", option1, option2, option3, option4); });
}

TALLYPORT_API int32_t EnableAutoCutter(int16_t enable) {
  return Simple("EnableAutoCutter", {enable}, 0x2B, [&] { return Format("C%d", enable); });
}

TALLYPORT_API int32_t EnableLogo(int16_t enable) {
  return Simple("EnableLogo", {enable}, 0x2B, [&] { return Format("L%d", enable); });
}

TALLYPORT_API int32_t SetPluData(int32_t plu, const char *taxGroup, double price, const char *name,
                                 const char *secondLine, char *out) {
  return TextCommand(
      "SetPluData", {plu, taxGroup, price, name, secondLine, Out(out)}, 0x6B,
      !Empty(name) && Printable({Amount(price)}),
      [&] {
        std::string data = PluHead(plu, taxGroup, price, name);
        if (!Empty(secondLine)) data += Format("\n%s", secondLine);
        return data;
      },
      out);
}

TALLYPORT_API int32_t SetPluDataEx(int32_t plu, const char *taxGroup, double price, const char *name,
                                   const char *secondLine, int16_t a, double quantity, int16_t b, int16_t c,
                                   int16_t fractional, int16_t d, char *out) {
  return TextCommand(
      "SetPluDataEx", {plu, taxGroup, price, name, secondLine, a, quantity, b, c, fractional, d, Out(out)}, 0x6B,
      !Empty(name) && Printable({Amount(price), Quantity(quantity)}),
      [&] {
        std::string data = PluHead(plu, taxGroup, price, name);
        if (fractional != 0) {
          data += Format("\n%s,%d,%d,%.3lf,%d,%d,%d", Text(secondLine), a, fractional, quantity, b, c, d);
        } else {
          data += Format("\n%s,%d,%d,%.0lf,%d,%d,%d", Text(secondLine), a, 0, std::floor(quantity), b, c, d);
        }
        return data;
      },
      out);
}

TALLYPORT_API int32_t DeletePlu(int16_t mode, int32_t from, int32_t to, char *out) {
  return TextCommand(
      "DeletePlu", {mode, from, to, Out(out)}, 0x6B, true,
      [&] {
        if (mode == 1) return std::string("DA");
        return to < from ? Format("D%lu", Lu(from)) : Format("D%lu,%lu", Lu(from), Lu(to));
      },
      out);
}

TALLYPORT_API int32_t SetDeptData(int16_t department, const char *taxGroup, const char *name, double price,
                                  int16_t a, int16_t b, int16_t c, int16_t d, char *out) {
  return TextCommand(
      "SetDeptData", {department, taxGroup, name, price, a, b, c, d, Out(out)}, 0x83,
      !Empty(name) && Printable({Amount(price)}),
      [&] {
        // A whole price goes without decimals, as a 32-bit number (which the amount's range
        // leaves room for).
        if (std::floor(price) == price) {
          const auto whole = static_cast<uint32_t>(static_cast<int64_t>(price));
          return Format("P%u,%s\n%c,%lu,%u,%u,%u,%u", U(department), Text(name), First(taxGroup), Lu(whole), U(a),
                        U(b), U(c), U(d));
        }
        return Format("P%u,%s\n%c,%05.2lf,%u,%u,%u,%u", U(department), Text(name), First(taxGroup), price, U(a), U(b),
                      U(c), U(d));
      },
      out);
}

TALLYPORT_API int32_t SetClerkName(int16_t clerk, const char *password, const char *name) {
  return Simple("SetClerkName", {clerk, Secret(password), name}, 0x66,
                [&] { return Format("%02d,%s,%s", clerk, Text(password), Text(name)); });
}

TALLYPORT_API int32_t SetClerkPassword(int16_t clerk, const char *oldPassword, const char *newPassword) {
  return Simple("SetClerkPassword", {clerk, Secret(oldPassword), Secret(newPassword)}, 0x65,
                [&] { return Format("%02d,%s,%s", clerk, Text(oldPassword), Text(newPassword)); });
}

TALLYPORT_API int32_t SetDateTime(TpDateTime dateTime) {
  return Guarded("SetDateTime", {dateTime}, [&] {
    // A valid status word with a value outside the calendar is refused as well.
    const auto time = dateTime.status == TALLYPORT_DT_VALID ? FromDateValue(dateTime.value) : std::nullopt;
    return Command(0x3D, time.has_value(), [&] { return ClockText(*time); });
  });
}

TALLYPORT_API int32_t SetFonts(uint16_t font1, uint16_t font2) {
  return Simple("SetFonts", {font1, font2}, 0x91, [&] { return Format("%d,%d", font1, font2); });
}

TALLYPORT_API int32_t SetGlobalOptions(uint16_t options) {
  return Simple("SetGlobalOptions", {options}, 0x92, [&] { return Format("%d", options); });
}

TALLYPORT_API int32_t SetMulDecCurRF(int16_t first, int16_t second, const char *currency, int16_t third, char *out) {
  return TextCommand(
      "SetMulDecCurRF", {first, second, currency, third, Out(out)}, 0x53, true,
      [&] {
        std::string data = Format("%d,%d", first, second);
        data += Empty(currency) ? Format(",%d", third) : Format(",%s ,%d", currency, third);
        return data;
      },
      out);
}

TALLYPORT_API int32_t SetCountrySerial(int16_t country, const char *text1, const char *text2, char *out) {
  return TextCommand(
      "SetCountrySerial", {country, text1, text2, Out(out)}, 0x5B, true,
      [&] { return Format("%d,%s,%s", country, Text(text1), Text(text2)); }, out);
}

TALLYPORT_API int32_t SetTaxNumber(const char *text1, const char *text2, int16_t *answer) {
  return AnswerCommand(
      "SetTaxNumber", {text1, text2, Out(answer)}, 0x62, true,
      [&] { return Format("%s,%s", Text(text1), Text(text2)); }, answer);
}

TALLYPORT_API int32_t SetVatAccount(double amount, const char *text) {
  return Guarded("SetVatAccount", {amount, text}, [&] {
    return Command(0x93, Printable({Amount(amount)}), [&] {
      std::string data = Format("P%.2lf", amount);
      if (!Empty(text)) data += Format(",%s", text);
      return data;
    });
  });
}

TALLYPORT_API int32_t SetText(int16_t number, const char *text) {
  return Simple("SetText", {number, text}, 0x95, [&] { return Format("P%d,%s", number, Text(text)); });
}

TALLYPORT_API int32_t LoadLogo(int16_t number, const char *text) {
  return Simple("LoadLogo", {number, text}, 0x73, [&] { return Format("%u,%s", U(number), Text(text)); });
}

TALLYPORT_API int32_t LCDInit(uint16_t mode, const char *fileName) {
  return Guarded("LCDInit", {mode, fileName}, [&]() -> int32_t {
    if (!Connected()) return kNotConnected;
    CharacterSet set;
    if (!ReadCharacterSet(fileName, set) || mode > 1) return kBadParameter;
    if (mode == 1) {
      // Four rows of 32 bytes, addressed 0x80, 0xA0, 0xC0 and 0xE0. A row that fails ends the
      // load: the rows after it would be taken for a whole set.
      for (unsigned k = 0; k < 4; ++k) {
        const std::string data = Format("%02X,", (k + 4) * 32) + Hex(set.bytes + static_cast<size_t>(k) * 32, 32);
        if (const int32_t result = Exchange(0x84, data, nullptr); result != kSuccess) return result;
      }
      return kSuccess;
    }
    if (set.size < 2) return kBadParameter;
    std::string data = Format("%d,%d", set.bytes[0], set.bytes[1]);
    if (set.size > 2) data += "," + Hex(set.bytes + 2, set.size - 2);
    return Exchange(0x85, data, nullptr);
  });
}

TALLYPORT_API int32_t WriteToFlash(void) {
  return Simple("WriteToFlash", {}, 0x86, NoData);
}

TALLYPORT_API int32_t Fiscalise(const char *text, int16_t *answer) {
  return Guarded("Fiscalise", {text, Out(answer)}, [&] {
    std::string reply;
    const int32_t result = Command(0x48, !Empty(text), [&] { return std::string(text); }, &reply);
    if (result == kSuccess && answer) *answer = static_cast<int16_t>(std::strtol(reply.c_str(), nullptr, 10));
    return result;
  });
}

TALLYPORT_API int32_t ProgramTestArea(int16_t flag, int16_t *character, int16_t *number) {
  return Guarded("ProgramTestArea", {flag, Out(character), Out(number)}, [&] {
    std::string reply;
    const int32_t result = Command(0x59, true, [&] { return std::string(flag != 0 ? "T" : ""); }, &reply);
    char c = 0;
    int n = 0;
    if (result == kSuccess && std::sscanf(reply.c_str(), "%c,%d", &c, &n) == 2) {
      if (character) *character = static_cast<int16_t>(static_cast<unsigned char>(c));
      if (number) *number = static_cast<int16_t>(n);
    }
    return result;
  });
}

}  // extern "C"
