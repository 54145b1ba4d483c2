// Before the device takes certain programming changes, it may want the daily Z, clerk or PLU
// report made first. Asks the device (command 196) and lets the user make them.
#pragma once

#include "core/link.h"
#include "dialogs/prompter.h"

namespace tillwright {

// True when the change may go ahead; false when the user refused a needed report.
bool ReportPreCheck(ILink &link, ui::IPrompter &prompter);

}  // namespace tillwright
