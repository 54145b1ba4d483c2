// The unattended run of the Windows program (--demo-screenshot): the demo scenario
// (app/demo_scenario.h) over the main dialog, with what only Win32 can do supplied here.
#pragma once

#include <string>

#include "app/tillwright_app.h"
#include "core/link.h"
#include "win32/win32_prompter.h"

namespace tillwright::win32 {

// The scenario's exit code; 2 when the main dialog cannot be made.
int RunDemo(CTillwrightApp &app, ILink &link, Win32Prompter &prompter, const std::string &path);

}  // namespace tillwright::win32
