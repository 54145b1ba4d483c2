// Reply parsing shared by the dialogs.
#pragma once

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

// Whether a typed text can go out as one field of comma-separated data.
inline bool FitsOneField(std::string_view text) { return text.find(',') == std::string_view::npos; }

}  // namespace tillwright
