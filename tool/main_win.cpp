// tillwright on Windows: the main dialog's logic hosted by the Win32 front end.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/tillwright_app.h"
#include "core/code_page.h"
#include "core/send_command.h"
#include "fiscal_version.h"
#include "resource.h"
#include "win32/demo.h"
#include "win32/text.h"
#include "win32/win32_prompter.h"

namespace {

// tillwright(1) without the dialog pictures, which only the Qt host takes.
constexpr char kUsage[] =
    "usage: tillwright [--codepage 1250|1251] [--demo-screenshot FILE]\n"
    "The service tool for electronic fiscal devices: finds the device on a COM port, reads and\n"
    "programmes it.\n"
    "  --codepage 1250|1251    code page of the device's texts: 1251 Cyrillic (the default),\n"
    "                          1250 Central European\n"
    "  --demo-screenshot FILE  unattended: press Connect, read the header lines, save a\n"
    "                          picture of the main dialog as FILE (PNG) and press Quit\n"
    "  --help                  show this text and end\n"
    "  --version               show the version and end\n";

bool Writable(DWORD which) {
  HANDLE handle = ::GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// A GUI program has no console of its own: the text goes to standard output when that leads
// somewhere (a pipe, a file), else to the console of whoever started the program, else into a box.
void Say(const std::string &text, tillwright::ui::IPrompter &prompter) {
  if (Writable(STD_OUTPUT_HANDLE)) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
    return;
  }
  if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
    if (std::FILE *console = std::fopen("CONOUT$", "w")) {
      std::fputs(text.c_str(), console);
      std::fclose(console);
      return;
    }
  }
  prompter.Inform(text, "tillwright", tillwright::ui::Icon::Information);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  using namespace tillwright;
  std::vector<std::string> args;
  for (int i = 1; i < __argc; ++i) args.push_back(win32::Narrow(__wargv[i]));

  win32::Win32Prompter prompter({instance, L"tillwright", IDI_TILLWRIGHT});
  std::string error;
  auto options = ParseOptions(args, &error);
  if (options && !options->dialogScreenshots.empty()) {
    // Taken by the Qt host only; ignoring it would open the main dialog instead of pictures.
    options.reset();
    error = "--dialog-screenshots is not available on Windows";
  }
  if (!options) {
    // The reason shows in a box, and on the standard error for whoever started it from a console.
    const std::string text = error + "\n" + kUsage;
    std::fprintf(stderr, "tillwright: %s", text.c_str());
    prompter.Inform(text, {}, ui::Icon::Error);
    return 2;
  }
  if (options->help) {
    Say(kUsage, prompter);
    return 0;
  }
  if (options->version) {
    Say(std::string("tillwright ") + FISCAL_SUITE_VERSION + "\n", prompter);
    return 0;
  }
  SetWidgetCodePage(options->codePage);

  RealLink link;
  CTillwrightApp app(link);
  if (!options->demoScreenshot.empty()) return win32::RunDemo(app, link, prompter, options->demoScreenshot);
  app.RunMainDialog(prompter);
  return 0;
}
