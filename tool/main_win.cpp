// tillwright on Windows: the main dialog's logic hosted by the Win32 front end.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/code_page.h"
#include "core/send_command.h"
#include "core/tillwright_app.h"
#include "resource.h"
#include "win32/demo.h"
#include "win32/prompter.h"
#include "win32/text.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  using namespace tillwright;
  std::vector<std::string> args;
  for (int i = 1; i < __argc; ++i) args.push_back(win32::Narrow(__wargv[i]));

  win32::Win32Prompter prompter({instance, L"tillwright", IDI_TILLWRIGHT});
  std::string error;
  const auto options = ParseOptions(args, &error);
  if (!options) {
    // A GUI program has no console of its own to write to: the reason shows in a box, and on the
    // standard error for whoever started it from one.
    const std::string text = error + "\nusage: tillwright [--codepage 1250|1251]";
    std::fprintf(stderr, "tillwright: %s\n", text.c_str());
    prompter.Inform(text, {}, ui::Icon::Error);
    return 2;
  }
  SetWidgetCodePage(options->codePage);

  RealLink link;
  CTillwrightApp app(link);
  if (!options->demoScreenshot.empty()) return win32::RunDemo(app, link, prompter, options->demoScreenshot);
  app.RunMainDialog(prompter);
  return 0;
}
