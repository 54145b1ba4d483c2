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
    const auto line = ParseDecimal(data.substr(0, 1), kHeaderLines - 1);
    if (!line || data.size() - 1 > kHeaderLineMax) return Answer::SyntaxError();
    lines[*line] = std::string(data.substr(1));
    return Answer::Ok();
  });
}

}  // namespace fiscalsim
