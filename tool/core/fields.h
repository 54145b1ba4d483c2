// Reply parsing shared by the dialogs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tillwright {

// Splits at `separator`, skipping empty pieces: a run of separators counts as one, and leading
// or trailing ones give nothing.
std::vector<std::string> SplitFields(std::string_view text, char separator = ',');

}  // namespace tillwright
