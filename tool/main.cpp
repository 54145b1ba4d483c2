// tillwright on Linux: the main dialog's logic hosted by Qt Widgets.
#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <string>
#include <vector>

#include "core/code_page.h"
#include "core/messages.h"
#include "core/send_command.h"
#include "core/tillwright_app.h"
#include "qt/demo.h"
#include "qt/dialog_host.h"
#include "qt/qt_prompter.h"

int main(int argc, char **argv) {
  using namespace tillwright;
  QApplication application(argc, argv);
  QApplication::setOrganizationName(QString::fromUtf8(msg::kOrganisation.data(), msg::kOrganisation.size()));
  QApplication::setApplicationName(QStringLiteral("tillwright"));
  qt::InitResources();
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/tillwright.png")));

  // Qt has taken its own arguments out of argv by now.
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string error;
  const auto options = ParseOptions(args, &error);
  if (!options) {
    std::fprintf(stderr, "tillwright: %s\nusage: tillwright [--codepage 1250|1251] [--demo-screenshot FILE] [--dialog-screenshots DIR]\n", error.c_str());
    return 2;
  }
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
