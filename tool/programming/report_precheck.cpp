#include "programming/report_precheck.h"

#include <iterator>
#include <string>

#include "core/command_codes.h"
#include "core/fields.h"
#include "core/messages.h"

namespace tillwright {

bool ReportPreCheck(ILink &link, ui::IPrompter &prompter) {
  std::string reply;
  std::string data;
  char flags[3] = {0, 0, 0};  // Z, clerk, PLU
  if (link.SendCommand(reply, data, cmd::kReportsNeeded) == 0) {
    const auto fields = SplitFields(reply);
    for (size_t i = 0; i < std::size(flags) && i < fields.size(); ++i) flags[i] = fields[i][0];
  }
  // The daily Z report covers the other two.
  if (flags[0] == '1') {
    if (!prompter.AskOkCancel(msg::kZReportNeeded)) return false;
    std::string closeDay(cmd::kCloseDay);
    link.SendCommand(reply, closeDay, cmd::kDailyReport);
    return true;
  }
  if (flags[1] == '1') {
    if (!prompter.AskOkCancel(msg::kClerkReportNeeded)) return false;
    data.clear();
    link.SendCommand(reply, data, cmd::kClerkReport);
  }
  // A refusal here leaves a clerk report already made as it is.
  if (flags[2] == '1') {
    if (!prompter.AskOkCancel(msg::kPluReportNeeded)) return false;
    data.clear();
    link.SendCommand(reply, data, cmd::kPluReport);
  }
  return true;
}

}  // namespace tillwright
