// The unattended run of the Windows program (--demo-screenshot): press Connect, run a command
// button, read the header lines, save a picture of the main dialog, and say each step on the
// standard output.
#pragma once

#include <string>

#include "core/link.h"
#include "core/tillwright_app.h"
#include "win32/prompter.h"

namespace tillwright::win32 {

// The exit code: 0 when the device was found, the command succeeded and the picture was saved.
int RunDemo(CTillwrightApp &app, ILink &link, Win32Prompter &prompter, const std::string &path);

}  // namespace tillwright::win32
