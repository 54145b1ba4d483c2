// Reply parsing and request formatting shared by the dialogs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tillwright {

// Splits at `separator`, skipping empty pieces: a run of separators counts as one, and leading
// or trailing ones give nothing.
std::vector<std::string> SplitFields(std::string_view text, char separator = ',');

// Splits at every comma, each piece in its place: "A,,C" gives "A", "", "C" and ",B" gives "",
// "B". A piece that is one blank is empty too (devices send it for an empty field).
std::vector<std::string> SplitFieldsInPlace(std::string_view text);
// Splits at `separator`, every piece in its place: "a,,c" gives "a", "" and "c". An empty text
// gives no piece at all.
std::vector<std::string> SplitPieces(std::string_view text, char separator = ',');

// The integer a text begins with, as C's atoi reads it (blanks skipped, a sign, the digits up to
// the first other character), without its undefined overflow: 0 when there is none, and a value
// beyond 64 bits stops growing at the 18th digit.
int64_t LeadingInteger(std::string_view text);

// The decimal number a text begins with, as C's atof reads it in the "C" locale (blanks
// skipped, a sign, digits with one point, an exponent), whatever locale the program runs in;
// 0 when there is none.
double LeadingNumber(std::string_view text);

// "%02X" of every byte.
std::string HexBytes(const std::vector<uint8_t> &bytes);

}  // namespace tillwright
