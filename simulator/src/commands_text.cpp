#include "fiscalsim/device_model.h"
#include "text_fields.h"

namespace fiscalsim {

// "I<n>" reads line n; "<n><text>" writes it. There is no separator: "5123 MAIN ST" is line 5
// with the text "123 MAIN ST".
void RegisterTextCommands(DeviceModel &model) {
  model.Register(command::kHeaderLine, [](DeviceModel &m, std::string_view data) {
    auto &lines = m.State().headerLines;
    if (data.size() == 2 && data[0] == 'I') {
      const auto line = ParseDecimal(data.substr(1), kHeaderLines - 1);
      if (!line) return Answer::SyntaxError();
      return Answer::Ok(lines[*line]);
    }
    if (data.empty()) return Answer::SyntaxError();
    // The same code carries the print options: P and four digits, C and L with 0 or 1 for the
    // cutter and the logo.
    if (data[0] == 'P' || data[0] == 'C' || data[0] == 'L') {
      const std::string_view digits = data.substr(1);
      if (digits.size() != (data[0] == 'P' ? 4u : 1u) || digits.find_first_not_of("01") != std::string_view::npos) {
        return Answer::SyntaxError();
      }
      DeviceState &s = m.State();
      if (data[0] == 'P') s.printOptions = std::string(digits);
      if (data[0] == 'C') s.autoCutter = digits == "1";
      if (data[0] == 'L') s.logo = digits == "1";
      return Answer::Ok();
    }
    const auto line = ParseDecimal(data.substr(0, 1), kHeaderLines - 1);
    if (!line || data.size() - 1 > kHeaderLineMax) return Answer::SyntaxError();
    lines[*line] = std::string(data.substr(1));
    return Answer::Ok();
  });
}

}  // namespace fiscalsim
