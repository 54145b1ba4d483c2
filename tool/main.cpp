// tillwright on Linux: the main dialog's logic hosted by Qt Widgets.
#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <string>
#include <vector>

#include "app/tillwright_app.h"
#include "core/code_page.h"
#include "core/messages.h"
#include "core/send_command.h"
#include "fiscal_version.h"
#include "qt/demo.h"
#include "qt/dialog_host.h"
#include "qt/qt_prompter.h"

namespace {

// The same options as the OPTIONS of tillwright(1).
constexpr char kUsage[] =
    "usage: tillwright [--codepage 1250|1251] [--demo-screenshot FILE] [--dialog-screenshots DIR]\n"
    "The service tool for electronic fiscal devices: finds the device on USB or a serial port,\n"
    "reads and programmes it.\n"
    "  --codepage 1250|1251      code page of the device's texts: 1251 Cyrillic (the default),\n"
    "                            1250 Central European\n"
    "  --demo-screenshot FILE    unattended: press Connect, read the header lines, save a\n"
    "                            picture of the main dialog as FILE (PNG) and press Quit\n"
    "  --dialog-screenshots DIR  unattended: press Connect, open every dialog in turn and save a\n"
    "                            picture of each into DIR; nothing is written to the device\n"
    "  --help                    show this text and end\n"
    "  --version                 show the version and end\n"
    "Qt's own options (-platform NAME, -display DISPLAY, ...) are taken as well.\n";

int Inform(const tillwright::Options &options) {
  if (options.version) {
    std::printf("tillwright %s\n", FISCAL_SUITE_VERSION);
  } else {
    std::fputs(kUsage, stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  using namespace tillwright;
  // --help and --version need no display: answered before Qt starts. Should Qt's own options
  // come first, the parse below (after Qt has taken them) answers instead.
  {
    std::string ignored;
    const auto early = ParseOptions(std::vector<std::string>(argv + 1, argv + argc), &ignored);
    if (early && (early->help || early->version)) return Inform(*early);
  }

  QApplication application(argc, argv);
  QApplication::setOrganizationName(QString::fromUtf8(msg::kOrganisation.data(), msg::kOrganisation.size()));
  QApplication::setApplicationName(QStringLiteral("tillwright"));
  QApplication::setApplicationVersion(QStringLiteral(FISCAL_SUITE_VERSION));
  qt::InitResources();
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/tillwright.png")));

  // Qt has taken its own arguments out of argv by now.
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  const auto options = ParseOptions(args, &error);
  if (!options) {
    std::fprintf(stderr, "tillwright: %s\n%s", error.c_str(), kUsage);
    return 2;
  }
  if (options->help || options->version) return Inform(*options);
  SetWidgetCodePage(options->codePage);

  RealLink link;
  CTillwrightApp app(link);
  qt::QtPrompter prompter;
  if (!options->demoScreenshot.empty()) return qt::RunDemo(app, link, prompter, options->demoScreenshot);
  if (!options->dialogScreenshots.empty())
    return qt::RunDialogScreenshots(app, link, prompter, options->dialogScreenshots);
  app.RunMainDialog(prompter);
  return 0;
}
