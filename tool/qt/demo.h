// The unattended run of scripts/demo: press Connect, read the header lines, save a picture of
// the main dialog, and one of each programming dialog beside it (named after its template).
#pragma once

#include <string>

#include "core/tillwright_app.h"

namespace tillwright::qt {

class QtPrompter;

// The exit code: 0 when the device was found and the picture saved.
int RunDemo(CTillwrightApp &app, ILink &link, QtPrompter &prompter, const std::string &path);

}  // namespace tillwright::qt
