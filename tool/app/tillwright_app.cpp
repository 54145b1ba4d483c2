#include "app/tillwright_app.h"

#include "app/tillwright_dlg.h"

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
    if (a == "--help" || a == "-h") {
      options.help = true;
      return options;
    }
    if (a == "--version") {
      options.version = true;
      return options;
    }
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
    } else if (a == "--dialog-screenshots") {
      auto v = value("--dialog-screenshots");
      if (!v) return std::nullopt;
      options.dialogScreenshots = *v;
    } else {
      *error = "unknown argument " + a;
      return std::nullopt;
    }
  }
  return options;
}

int CTillwrightApp::RunMainDialog(ui::IPrompter &prompter) {
  state_.serialConnected = 0;
  int result = 0;
  {
    CTillwrightDlg dialog(state_, link_);
    result = prompter.Run(dialog);
  }
  if (result != ui::kResultOk) {
    link_.SerialDisconnect();
    state_.serialConnected = 0;
  }
  return result;
}

}  // namespace tillwright
