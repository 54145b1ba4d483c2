#include "qt/demo.h"

#include <QAbstractButton>
#include <QDialog>
#include <QEventLoop>
#include <QPixmap>
#include <QTimer>
#include <functional>
#include <cstdio>
#include <filesystem>

#include "core/messages.h"
#include "core/tillwright_dlg.h"
#include "programming/dev_code_tbl.h"
#include "programming/klen_print_dlg.h"
#include "programming/load_logo.h"
#include "programming/set_header_footer.h"
#include "programming/set_tax_rates.h"
#include "qt/dialog_host.h"
#include "qt/qt_prompter.h"

namespace tillwright::qt {

namespace {

void Pause(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

void Click(DialogHost &host, ui::ControlId id) {
  if (auto *button = qobject_cast<QAbstractButton *>(host.Control(id))) button->click();
}

}  // namespace

namespace {

bool SavePicture(ui::Dialog &dialog, QtPrompter &prompter, QWidget &parent, const std::string &folder,
                 const std::function<void()> &before = {}) {
  DialogHost host(dialog, prompter, &parent);
  host.Open();
  if (before) before();
  Pause(400);
  const std::string path = folder + "/" + dialog.TemplateName() + ".png";
  const bool saved = host.Window().grab().save(QString::fromStdString(path), "PNG");
  host.Close();
  std::printf(saved ? "tillwright: %s saved\n" : "tillwright: cannot save %s\n", path.c_str());
  return saved;
}

}  // namespace

bool SaveDialogPictures(CTillwrightApp &app, ILink &link, QtPrompter &prompter, QWidget &parent,
                        const std::string &folder) {
  bool saved = true;
  CSetTaxRates taxRates(link);
  saved = SavePicture(taxRates, prompter, parent, folder) && saved;
  KlenPrintDlg journal(link);
  saved = SavePicture(journal, prompter, parent, folder) && saved;
  CDevCodeTbl codeTable(link);
  saved = SavePicture(codeTable, prompter, parent, folder) && saved;
  CLoadLogo logo(link, app.State().logoLimits);
  const std::string picture = folder + "/logo.bmp";
  saved = SavePicture(logo, prompter, parent, folder, [&] {
            if (std::filesystem::exists(picture)) logo.ChooseFile(picture);
          }) && saved;
  return saved;
}

int RunDemo(CTillwrightApp &app, ILink &link, QtPrompter &prompter, const std::string &path,
            const std::string &dialogsFolder) {
  AppState &state = app.State();
  CTillwrightDlg dialog(state, link);
  DialogHost host(dialog, prompter);
  host.Open();
  Pause(300);
  Click(host, CTillwrightDlg::kConnectButton);
  std::printf("tillwright: Connect: %s\n", state.resultText.c_str());
  {
    // The header dialog's opening reads the lines; it is never shown.
    CSetheaderFooter header(link);
    DialogHost headerHost(header, prompter, &host.Window());
    headerHost.Open(false);
    for (size_t line = 0; line < CSetheaderFooter::kLines; ++line) {
      const std::string text = headerHost.Text(CSetheaderFooter::SlotField(CSetheaderFooter::kSlotOfLine[line]));
      std::printf("tillwright: line %zu: %s\n", line, text.c_str());
    }
  }
  // Let the monitor's label reach the screen before the picture is taken.
  Pause(1500);
  bool saved = host.Window().grab().save(QString::fromStdString(path), "PNG");
  if (!dialogsFolder.empty()) saved = SaveDialogPictures(app, link, prompter, host.Window(), dialogsFolder) && saved;
  const bool connected = state.resultText == msg::kDone;
  Click(host, CTillwrightDlg::kQuitButton);
  host.Close();
  if (!saved) {
    std::fprintf(stderr, "tillwright: cannot save %s\n", path.c_str());
    return 1;
  }
  std::printf("tillwright: screenshot saved to %s\n", path.c_str());
  return connected ? 0 : 1;
}

}  // namespace tillwright::qt
