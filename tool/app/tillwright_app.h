// The application: its arguments, and the main dialog's run through whichever front end hosts it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/app_state.h"
#include "core/link.h"
#include "dialogs/prompter.h"

namespace tillwright {

struct Options {
  int codePage = 1251;
  // Unattended run for demonstrations (app/demo_scenario.h): press Connect, read the header lines
  // and save a picture of the main dialog here, then end.
  std::string demoScreenshot;
  // Unattended run: press Connect, then open each dialog in turn and save a picture of it into
  // this folder as <template>.png, then end.
  std::string dialogScreenshots;
  // --help or --version: the program says so and ends; the arguments after it are not read.
  bool help = false;
  bool version = false;
};

// Nothing when the arguments are wrong, with the reason in *error.
std::optional<Options> ParseOptions(const std::vector<std::string> &args, std::string *error);

class CTillwrightApp {
 public:
  explicit CTillwrightApp(ILink &link) : link_(link) {}

  // Runs the main dialog modally through `prompter` (the front end) and returns its result. A
  // run that ends otherwise than through Quit (Escape, closing the window) lets go of the serial
  // link as Quit does.
  int RunMainDialog(ui::IPrompter &prompter);

  AppState &State() { return state_; }

 private:
  ILink &link_;
  AppState state_;
};

}  // namespace tillwright
