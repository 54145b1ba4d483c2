// Dotted IPv4 addresses as people type and paste them, for the hosts' address controls.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tillwright::ui {

// "192.168.1.10" (blanks around it allowed): four decimal numbers of one to three digits, each at
// most 255. Nothing for any other text.
std::optional<uint32_t> ParseAddress(std::string_view text);

std::string FormatAddress(uint32_t address);

}  // namespace tillwright::ui
