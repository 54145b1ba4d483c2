#include <cstdio>

#include "fiscalsim/device_model.h"
#include "text_fields.h"

namespace fiscalsim {
namespace {

constexpr unsigned kMaxFeedLines = 99;

}  // namespace

void RegisterPrinterCommands(DeviceModel &model) {
  model.Register(command::kPaperFeed, [](DeviceModel &m, std::string_view data) {
    const auto lines = ParseDecimal(data, kMaxFeedLines);
    if (!lines || *lines == 0) return Answer::SyntaxError();
    m.State().linesFed += *lines;
    return Answer::Ok();
  });

  model.Register(command::kPaperCut, [](DeviceModel &m, std::string_view) {
    ++m.State().cuts;
    return Answer::Ok();
  });

  model.Register(command::kDiagnostics, [](DeviceModel &m, std::string_view data) {
    if (data != "1" && !data.empty()) return Answer::SyntaxError();
    ++m.State().diagnostics;
    return Answer::Ok();
  });

  // "1" closes the day and answers the new report's number; "8" answers the number of the last
  // one without closing. The report by article: "0" (closing) or "2" (not closing), either
  // with N, or no data for the latter.
  model.Register(command::kDailyReport, [](DeviceModel &m, std::string_view data) {
    if (data != "1" && data != "8" && data != "0" && data != "0N" && data != "2" && data != "2N" && !data.empty()) {
      return Answer::SyntaxError();
    }
    if (data != "8" && m.State().receipt.kind != Receipt::Kind::None) return Answer::NotAllowed();
    if (data == "1" || data == "0" || data == "0N") ++m.State().zReports;
    char number[16];
    std::snprintf(number, sizeof number, "%04u", m.State().zReports);
    return Answer::Ok(number);
  });
}

}  // namespace fiscalsim
