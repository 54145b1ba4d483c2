// The page a person opens in a browser to see what the hub is doing: the devices, their queues
// and the newest documents with their outcome. Plain HTML with a little script that reads the
// hub's own JSON; nothing is fetched from elsewhere.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace hub {

const std::string &StatusPageHtml();

// The names of the status bits that are set in a status text (twelve hex digits), in the
// captions the service tool uses; an array, empty when none is set or the text is not a status.
nlohmann::json StatusTexts(std::string_view status);

}  // namespace hub
