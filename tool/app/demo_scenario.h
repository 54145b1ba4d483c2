// The unattended run behind --demo-screenshot, one scenario for every front end: say what the
// status label shows before anything is pressed, press Connect, read the header lines, wait for the status label to say "Connected", save a picture of the main
// dialog, press Quit; each step said on the standard output. A front end supplies only what its
// toolkit must do.
#pragma once

#include <chrono>
#include <ostream>
#include <string>

#include "core/link.h"
#include "dialogs/dialog_view.h"

namespace tillwright {

// The front end's part, over the main dialog while it shows. Called on the user-interface thread.
class IDemoHost {
 public:
  virtual ~IDemoHost() = default;
  // Serves the window's events for `time`, so that what others post lands and the window repaints.
  virtual void Pause(std::chrono::milliseconds time) = 0;
  // Presses a button of the main dialog as a person would; returns once its handler has.
  virtual void Click(ui::ControlId id) = 0;
  // A control's text as the window shows it (UTF-8).
  virtual std::string Text(ui::ControlId id) = 0;
  // A picture of the main dialog as it shows, saved as `path`; false when none was saved.
  virtual bool SavePicture(const std::string &path) = 0;
  // How many checks the main dialog's connection monitor has finished.
  virtual unsigned ConnectionChecks() = 0;
};

class CTillwrightDlg;

// The part of IDemoHost that every front end answers alike: texts through the main dialog's view
// (its host), checks from its connection monitor. A front end adds Pause, Click and SavePicture.
class MainDialogDemoHost : public IDemoHost {
 public:
  MainDialogDemoHost(const ui::IDialogView &view, const CTillwrightDlg &dialog) : view_(view), dialog_(dialog) {}
  std::string Text(ui::ControlId id) override;
  unsigned ConnectionChecks() override;

 private:
  const ui::IDialogView &view_;
  const CTillwrightDlg &dialog_;
};

// How long the label may take to say "Connected" after Connect found the device.
inline constexpr std::chrono::milliseconds kDemoLabelPatience{10000};

// Runs the scenario and returns the program's exit code: 0 when Connect found the device, every
// header line was read, the label said "Connected" and the picture was saved; otherwise 1, with
// the reason on `err`. Quit is pressed on every path. Header lines are read over `link`, their
// bytes shown through the widgets' code page.
int RunDemoScenario(IDemoHost &host, ILink &link, const std::string &picturePath, std::ostream &out,
                    std::ostream &err);

}  // namespace tillwright
