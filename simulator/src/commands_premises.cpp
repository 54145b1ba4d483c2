#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "fiscalsim/device_model.h"
#include "text_fields.h"

namespace fiscalsim {
namespace {

std::string Join(const std::vector<std::string> &pieces) {
  std::string text;
  for (size_t i = 0; i < pieces.size(); ++i) text += (i == 0 ? "" : ",") + pieces[i];
  return text;
}

// The parameter number after a letter, with the comma that follows it for writes.
std::optional<unsigned> ParameterNumber(std::string_view digits) {
  if (digits.empty() || digits.size() > 2 || digits.find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  const unsigned n = static_cast<unsigned>(std::stoul(std::string(digits)));
  return n < 24 ? std::optional<unsigned>(n) : std::nullopt;
}

bool IsText(unsigned n) { return n <= 15 || n == 19 || n == 20; }

// The registration's forms of command 198; nothing when the data is none of them (the premises').
std::optional<Answer> Registration(DeviceState &s, std::string_view data) {
  const char letter = data.empty() ? '\0' : data[0];
  const size_t comma = data.find(',');
  if (data == "Q0") {
    return Answer::Ok("BG" + s.fiscalMemoryNumber + "," + s.registrationState + ",0,0," + s.imsi);
  }
  if (data == "Z0") return Answer::Ok(s.serialNumber + ",0,0,0,0");
  if (data == "X0") return Answer::Ok(s.serialNumber + ",0,0,0,0");
  if ((letter == 'R' || letter == 'G' || letter == 'V') && comma == std::string_view::npos) {
    const auto n = ParameterNumber(data.substr(1));
    // R reads the texts 0..15, G the rest but the date, V only the date.
    if (!n || (letter == 'R') != (*n <= 15) || (letter == 'V') != (*n == 23)) return std::nullopt;
    return Answer::Ok(std::to_string(*n) + "," + s.registration[*n]);
  }
  if ((letter == 'P' || letter == 'S' || letter == 'A') && comma != std::string_view::npos) {
    const auto n = ParameterNumber(data.substr(1, comma - 1));
    if (!n || (letter == 'P') != (*n <= 15) || (letter == 'A') != (*n == 23)) return std::nullopt;
    const std::string_view value = data.substr(comma + 1);
    // A premises write has seven fields (six commas); a parameter's text takes the rest of the
    // data, commas and all. (A text with five commas of its own reads as premises here.)
    if (letter == 'P' && std::count(data.begin(), data.end(), ',') == 6) return std::nullopt;
    if (!IsText(*n) && *n != 23) {
      if (value.empty() || value.find_first_not_of("-0123456789") != std::string_view::npos) return Answer::SyntaxError();
    }
    s.registration[*n] = std::string(value);
    return Answer::Ok();
  }
  return std::nullopt;
}

// "<flag>,<error number>,<text>": registration (1) and the check for an existing one (5) succeed
// once the identification number (parameter 5) is set; the GPRS test (4) as the link is.
Answer Procedure(DeviceState &s, int action) {
  s.procedures.push_back(std::to_string(action));
  if (action == 4) return Answer::Ok(s.gprsUp ? "1" : "0");
  if (action == 0) return Answer::Ok("0,1,No action chosen");
  if (s.registration[5].empty() || s.registration[5] == " ") return Answer::Ok("0,17,Missing identification number");
  if (action == 1) s.registrationState = "1";
  if (action == 3) s.registrationState = "0";
  return Answer::Ok("1,0,");
}

}  // namespace

// The business premises data. Reads give every field in its place, empty ones as nothing between
// two commas; the conclusion accepts the data once it has a designation and a settlement.
void RegisterPremisesCommands(DeviceModel &model) {
  model.Register(command::kPremisesAddress, [](DeviceModel &m, std::string_view data) {
    DeviceState &s = m.State();
    if (data == "R") return Answer::Ok(Join({s.premises.begin(), s.premises.end()}));
    if (auto answer = Registration(s, data)) return *answer;
    if (data.empty() || data[0] != 'P') return Answer::SyntaxError();
    const auto pieces = SplitFields(data.substr(1), ',');
    if (pieces.size() != s.premises.size()) return Answer::SyntaxError();
    std::copy(pieces.begin(), pieces.end(), s.premises.begin());
    return Answer::Ok();
  });
  model.Register(command::kPremisesHours, [](DeviceModel &m, std::string_view data) {
    DeviceState &s = m.State();
    if (data == "R") {
      return Answer::Ok(std::string(s.premisesClosing ? "1" : "0") + "," + s.workingHours + "," + s.specificPurpose);
    }
    if (data.size() == 1 && data[0] >= '0' && data[0] <= '5') return Procedure(s, data[0] - '0');
    // "P", the flag as one digit, the hours (no comma of their own), a comma, the purpose.
    if (data.size() < 3 || data[0] != 'P' || (data[1] != '0' && data[1] != '1')) return Answer::SyntaxError();
    const auto pieces = SplitFields(data.substr(2), ',');
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
