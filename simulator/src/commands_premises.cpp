#include <algorithm>
#include <string>
#include <vector>

#include "fiscalsim/device_model.h"

namespace fiscalsim {
namespace {

// The pieces of comma-separated data, each in its place (empty ones too).
std::vector<std::string> Pieces(std::string_view data) {
  std::vector<std::string> pieces;
  size_t start = 0;
  for (;;) {
    const size_t end = std::min(data.find(',', start), data.size());
    pieces.emplace_back(data.substr(start, end - start));
    if (end == data.size()) return pieces;
    start = end + 1;
  }
}

std::string Join(const std::vector<std::string> &pieces) {
  std::string text;
  for (size_t i = 0; i < pieces.size(); ++i) text += (i == 0 ? "" : ",") + pieces[i];
  return text;
}

}  // namespace

// The business premises data. Reads give every field in its place, empty ones as nothing between
// two commas; the conclusion accepts the data once it has a designation and a settlement.
void RegisterPremisesCommands(DeviceModel &model) {
  model.Register(command::kPremisesAddress, [](DeviceModel &m, std::string_view data) {
    DeviceState &s = m.State();
    if (data == "R") return Answer::Ok(Join({s.premises.begin(), s.premises.end()}));
    if (data.empty() || data[0] != 'P') return Answer::SyntaxError();
    const auto pieces = Pieces(data.substr(1));
    if (pieces.size() != s.premises.size()) return Answer::SyntaxError();
    std::copy(pieces.begin(), pieces.end(), s.premises.begin());
    return Answer::Ok();
  });
  model.Register(command::kPremisesHours, [](DeviceModel &m, std::string_view data) {
    DeviceState &s = m.State();
    if (data == "R") {
      return Answer::Ok(std::string(s.premisesClosing ? "1" : "0") + "," + s.workingHours + "," + s.specificPurpose);
    }
    // "P", the flag as one digit, the hours (no comma of their own), a comma, the purpose.
    if (data.size() < 3 || data[0] != 'P' || (data[1] != '0' && data[1] != '1')) return Answer::SyntaxError();
    const auto pieces = Pieces(data.substr(2));
    if (pieces.size() != 2) return Answer::SyntaxError();
    s.premisesClosing = data[1] == '1';
    s.workingHours = pieces[0];
    s.specificPurpose = pieces[1];
    return Answer::Ok();
  });
  model.Register(command::kPremisesConclude, [](DeviceModel &m, std::string_view data) {
    DeviceState &s = m.State();
    if (!data.empty()) return Answer::SyntaxError();
    if (s.premises[0].empty() || s.premises[5].empty()) return Answer::Ok("ENepotpuni podaci o poslovnom prostoru");
    ++s.premisesConclusions;
    return Answer::Ok("PPodaci prihvaceni");
  });
}

}  // namespace fiscalsim
