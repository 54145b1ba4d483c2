// The unattended run of scripts/demo: press Connect, read the header lines, save a picture of
// the main dialog.
#pragma once

#include <string>

#include "core/tillwright_app.h"

class QWidget;

namespace tillwright::qt {

class QtPrompter;

// The exit code: 0 when the device was found and the picture saved.
// With `dialogsFolder`, also a picture of each programming dialog (SaveDialogPictures).
int RunDemo(CTillwrightApp &app, ILink &link, QtPrompter &prompter, const std::string &path,
            const std::string &dialogsFolder = {});

// Opens each programming dialog over the main dialog and saves a picture of it in `folder`
// (<template name>.png); false when one could not be saved.
bool SaveDialogPictures(CTillwrightApp &app, ILink &link, QtPrompter &prompter, QWidget &parent,
                        const std::string &folder);

}  // namespace tillwright::qt
