#include "core/tillwright_app.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>

#include "core/app_state.h"
#include "core/code_page.h"
#include "core/messages.h"
#include "core/prompter.h"
#include "core/send_command.h"
#include "core/tillwright_dlg.h"
#include "programming/set_header_footer.h"
#include "ui_tillwright_dlg.h"

namespace tillwright {

std::optional<Options> ParseOptions(const std::vector<std::string> &args, std::string *error) {
  Options options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    auto value = [&](const char *name) -> std::optional<std::string> {
      if (i + 1 >= args.size()) {
        *error = std::string(name) + " needs a value";
        return std::nullopt;
      }
      return args[++i];
    };
    if (a == "--codepage") {
      auto v = value("--codepage");
      if (!v) return std::nullopt;
      if (*v != "1250" && *v != "1251") {
        *error = "--codepage takes 1250 or 1251, not " + *v;
        return std::nullopt;
      }
      options.codePage = std::stoi(*v);
    } else if (a == "--demo-screenshot") {
      auto v = value("--demo-screenshot");
      if (!v) return std::nullopt;
      options.demoScreenshot = *v;
    } else {
      *error = "unknown argument " + a;
      return std::nullopt;
    }
  }
  return options;
}

namespace {

// A prompter that answers every question with OK and shows nothing, for the unattended run.
class SilentPrompter final : public IPrompter {
 public:
  bool AskOkCancel(std::string_view) override { return true; }
  void Inform(std::string_view text) override { std::printf("tillwright: %.*s\n", int(text.size()), text.data()); }
  void BeginWait() override {}
  void EndWait() override {}
  int Run(QDialog &) override { return QDialog::Rejected; }
};

void Pause(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

int RunDemo(CTillwrightDlg &dialog, AppState &state, ILink &link, const std::string &path) {
  dialog.show();
  Pause(300);
  dialog.OnConnect();
  std::printf("tillwright: Connect: %s\n", state.resultText.c_str());
  SilentPrompter silent;
  {
    CSetheaderFooter header(link, silent, &dialog);
    for (size_t line = 0; line < CSetheaderFooter::kLines; ++line) {
      const QString text = header.SlotField(CSetheaderFooter::kSlotOfLine[line])->text();
      std::printf("tillwright: line %zu: %s\n", line, text.toUtf8().constData());
    }
  }
  // Let the monitor's label reach the screen before the picture is taken.
  Pause(1500);
  const bool saved = dialog.grab().save(QString::fromStdString(path), "PNG");
  const bool connected = state.resultText == msg::kDone;
  dialog.OnQuit();
  if (!saved) {
    std::fprintf(stderr, "tillwright: cannot save %s\n", path.c_str());
    return 1;
  }
  std::printf("tillwright: screenshot saved to %s\n", path.c_str());
  return connected ? 0 : 1;
}

}  // namespace

int CTillwrightApp::Run(int argc, char **argv) {
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QString::fromUtf8(msg::kOrganisation.data()));
  QApplication::setApplicationName(QStringLiteral("tillwright"));

  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  std::string error;
  const auto options = ParseOptions(args, &error);
  if (!options) {
    std::fprintf(stderr, "tillwright: %s\nusage: tillwright [--codepage 1250|1251]\n", error.c_str());
    return 2;
  }
  SetWidgetCodePage(options->codePage);

  AppState state;
  RealLink link;
  int result = 0;
  {
    QtPrompter prompter;
    CTillwrightDlg dialog(state, link, prompter);
    prompter.SetParent(&dialog);
    if (!options->demoScreenshot.empty()) return RunDemo(dialog, state, link, options->demoScreenshot);
    result = dialog.exec();
  }
  if (result != QDialog::Accepted) {
    link.SerialDisconnect();
    state.serialConnected = 0;
  }
  return 0;
}

}  // namespace tillwright
