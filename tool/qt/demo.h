// The unattended runs of scripts/demo: the demo scenario (app/demo_scenario.h) over the main
// dialog; or a picture of every dialog.
#pragma once

#include <string>

#include "app/tillwright_app.h"

namespace tillwright::qt {

class QtPrompter;

// The scenario's exit code.
int RunDemo(CTillwrightApp &app, ILink &link, QtPrompter &prompter, const std::string &path);

// Presses Connect, then opens each dialog of the catalogue over the main dialog as its button
// would (it reads the device) and saves its picture as <dir>/<template>.png. Message boxes that
// open meanwhile are answered with their Escape button, so nothing is written to the device.
// The exit code: 0 when every picture was saved.
int RunDialogScreenshots(CTillwrightApp &app, ILink &link, QtPrompter &prompter, const std::string &dir);

}  // namespace tillwright::qt
