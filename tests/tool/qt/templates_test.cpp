// The five dialogs' templates against their logic: every control the logic reaches is there with
// an accessible name, captions and hidden controls are as the program has always shown them, and
// the main dialog runs on the real host.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <thread>

#include "app/diagnosis_dlg.h"
#include "app/dialog_catalogue.h"
#include "app/tillwright_dlg.h"
#include "core/app_state.h"
#include "host_test_support.h"
#include "logic_test_support.h"
#include "programming/dev_code_tbl.h"
#include "programming/klen_print_dlg.h"
#include "programming/load_logo.h"
#include "programming/set_clerk.h"
#include "programming/set_conn_par.h"
#include "programming/set_counter.h"
#include "programming/set_header_footer.h"
#include "programming/set_sn.h"
#include "programming/set_tax_rates.h"
#include "programming/tcp_ip_config.h"
#include "qt/dialog_host.h"
#include "qt/qt_prompter.h"
#include "registration/business_data.h"
#include "registration/date_period.h"
#include "registration/fiscal_check.h"
#include "registration/fiscalization.h"
#include "registration/reg_data.h"
#include "wait_for.h"

namespace {

using namespace tillwright;
using qt::DialogHost;
using tooltest::RecordingLink;

class Templates : public ::testing::Test {
 protected:
  void SetUp() override { hosttest::EnsureApplication(); }

  // Every control the logic declares exists; every control of the template has an accessible name.
  void ExpectTemplateFits(ui::Dialog &dialog, const char *caption) {
    SCOPED_TRACE(dialog.TemplateName());
    DialogHost host(dialog, prompter, prompter.Windows());
    EXPECT_EQ(host.Caption(), caption);
    for (ui::ControlId id : dialog.Controls()) EXPECT_NE(host.Control(id), nullptr) << "no control " << id;
    for (QWidget *w : host.Window().findChildren<QWidget *>()) {
      static const QRegularExpression kNamed(QStringLiteral("^[a-z]+[0-9]*[A-Z]?[A-Za-z]*$"));
      if (!kNamed.match(w->objectName()).hasMatch()) continue;  // Qt's own inner widgets
      EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
    }
  }

  AppState state;
  LogoLimits limits;
  RecordingLink link;
  qt::QtPrompter prompter;
};

TEST_F(Templates, EachDialogsControlsAreInItsTemplate) {
  CTillwrightDlg main(state, link);
  ExpectTemplateFits(main, "EFD QUORVANE");
  CFiscalCheck check(link);
  ExpectTemplateFits(check, "Selvora");
  CFiscalization fiscalization(state, link);
  ExpectTemplateFits(fiscalization, "Set in operation ");
  CSetheaderFooter header(link);
  ExpectTemplateFits(header, "Selvora");
  CSetSN serial;
  ExpectTemplateFits(serial, "Selvora");
  CSetTaxRates taxRates(link);
  ExpectTemplateFits(taxRates, "Set new VAT rates");
  KlenPrintDlg journal(link);
  ExpectTemplateFits(journal, "EJ ");
  CDevCodeTbl codeTable(link);
  ExpectTemplateFits(codeTable, "Code Pages");
  CLoadLogo logo(link, limits);
  ExpectTemplateFits(logo, "Selvora");
  CBusinessData premises(link);
  ExpectTemplateFits(premises, "Podaci o poslovnom prostoru");
  CDatePeriod period;
  ExpectTemplateFits(period, "Selvora");
  CRegData registration(link);
  ExpectTemplateFits(registration, "");  // its one-blank title is set when it opens
  CDiagnosisDlg diagnosis({});
  ExpectTemplateFits(diagnosis, "Diagnose connection");
}

// Every template the program carries is reachable: the main dialog's, or one of the catalogue's,
// whose pictures scripts/demo takes.
TEST_F(Templates, TheCatalogueHoldsEveryDialogTemplate) {
  std::set<std::string> templates;
  const QStringList uiFiles = QDir(QStringLiteral(TILLWRIGHT_RESOURCES_DIR)).entryList({QStringLiteral("*.ui")});
  for (const QString &file : uiFiles) {
    templates.insert(file.chopped(3).toStdString());  // without ".ui"
  }
  std::set<std::string> reachable = {"tillwright_dlg"};
  for (const DialogEntry &entry : DialogCatalogue(state, link)) {
    EXPECT_EQ(entry.make()->TemplateName(), entry.templateName);
    reachable.insert(entry.templateName);
  }
  EXPECT_EQ(reachable, templates);
}

// The date pickers take the logic's dates and give back what the person picked, in the years the
// device can take.
TEST_F(Templates, TheDatePeriodsPickersCarryTheDates) {
  CDatePeriod period;
  period.begin = {2014, 3, 1};
  period.end = {2014, 3, 31};
  DialogHost host(period, prompter, prompter.Windows());
  host.Open(false);
  EXPECT_EQ(host.Text(CDatePeriod::kBeginDate), "2014-03-01");
  EXPECT_EQ(host.Text(CDatePeriod::kEndDate), "2014-03-31");
  host.SetText(CDatePeriod::kEndDate, "2015-01-02");
  EXPECT_TRUE(period.UpdateData(true));
  EXPECT_EQ(period.end, (CalendarDate{2015, 1, 2}));
  host.SetText(CDatePeriod::kBeginDate, "1990-01-01");  // below the picker's range
  EXPECT_EQ(host.Text(CDatePeriod::kBeginDate), "2000-01-01");
  host.Close();
}

// Passwords echo as passwords wherever they are typed.
TEST_F(Templates, OperatorDialogs) {
  CSetClerkName name(link);
  ExpectTemplateFits(name, "Selvora");
  CSetClerkPass pass(link);
  ExpectTemplateFits(pass, "Selvora");
  DialogHost nameHost(name, prompter, prompter.Windows());
  DialogHost passHost(pass, prompter, prompter.Windows());
  const auto echo = [](DialogHost &host, int id) { return qobject_cast<QLineEdit *>(host.Control(id))->echoMode(); };
  EXPECT_EQ(echo(nameHost, 1034), QLineEdit::Password);
  EXPECT_EQ(echo(nameHost, 1035), QLineEdit::Normal);
  EXPECT_EQ(echo(passHost, 1034), QLineEdit::Password);
  EXPECT_EQ(echo(passHost, 1035), QLineEdit::Password);
  EXPECT_EQ(nameHost.Text(1194), "Single receipt mode");
}

TEST_F(Templates, GprsDialogsShownHiddenAndDisabledControls) {
  CSetConnPar gprs(link);
  ExpectTemplateFits(gprs, "GPRS connectivity parameters");
  DialogHost host(gprs, prompter, prompter.Windows());
  for (int id : {1087, 1088, 1089, 1195, 1196, 1197, 1198, 1200, 1184, 1199}) {
    EXPECT_TRUE(host.Visible(id)) << id;
    EXPECT_TRUE(host.Enabled(id)) << id;
  }
  for (int id : {1090, 1091, 1092, 1093, 1094, 1095, 1096, 1098}) {
    EXPECT_TRUE(host.Visible(id)) << id;
    EXPECT_FALSE(host.Enabled(id)) << id;
  }
  for (int id : {1099, 1097, 1086}) EXPECT_FALSE(host.Visible(id)) << id;
  EXPECT_TRUE(host.ReadOnly(1200));
  for (int id : {1089, 1096})
    EXPECT_EQ(qobject_cast<QLineEdit *>(host.Control(id))->echoMode(), QLineEdit::Password) << id;
  EXPECT_EQ(host.Text(1184), "Test");
  EXPECT_EQ(host.Text(1199), "Unlock");
}

TEST_F(Templates, HiddenButtonsInputDialogs) {
  CSetCounter counter;
  ExpectTemplateFits(counter, "Selvora");
  CenterPrice price;
  ExpectTemplateFits(price, "Selvora");
}

TEST_F(Templates, TcpIpAddressesAreAddressControls) {
  tcpIpConfig tcpIp(link);
  ExpectTemplateFits(tcpIp, "TCP/IP Config");
  DialogHost host(tcpIp, prompter, prompter.Windows());
  for (int id : tcpIpConfig::kAddressFields) {
    EXPECT_EQ(host.Control(id)->objectName(), QStringLiteral("address%1").arg(id));
    ASSERT_NE(qobject_cast<QLineEdit *>(host.Control(id))->validator(), nullptr) << id;
  }
  EXPECT_EQ(host.Text(1043), "Auto configuration /DHCP/");
}

TEST_F(Templates, MainDialogsVisibleAndHiddenControls) {
  CTillwrightDlg main(state, link);
  DialogHost host(main, prompter, prompter.Windows());
  host.Window().show();
  for (int id : {1084, 1097, 1033, 1005, 1016, 1078, 1008, 1085, 1159, 1015, 1013, 1020, 1021, 1018, 1010, 1158,
                 1183, 3})
    EXPECT_TRUE(host.Control(id)->isVisible()) << id;
  for (int id : {1007, 1009, 1024, 1025, 1086, 1169, 2024, 1039, 1014, 1012, 1011, 1017, 1023, 1019, 1022, 1028,
                 1026, 1031, 1029, 1034, 1076, 1068, 1065, 1066, 1073, 1064})
    EXPECT_FALSE(host.Control(id)->isVisible()) << id;
  EXPECT_FALSE(host.Enabled(1039));
  EXPECT_EQ(host.Items(1039), (std::vector<std::string>{"Selvora EFD", "Other"}));
  EXPECT_TRUE(host.ReadOnly(1033));
  EXPECT_EQ(host.Control(1033)->accessibleName(), "Result");
  EXPECT_EQ(host.Text(1084), "Connect");
  EXPECT_EQ(host.Text(1016), "Header lines programing");
  EXPECT_EQ(host.Text(1097), "Disconnected");
  EXPECT_EQ(host.Text(3), "Quit");
}

TEST_F(Templates, DialogsHiddenControls) {
  CFiscalCheck check(link);
  DialogHost checkHost(check, prompter, prompter.Windows());
  for (int id = 1067; id <= 1070; ++id) EXPECT_FALSE(checkHost.Visible(id)) << id;
  for (int id = 1033; id <= 1040; ++id) EXPECT_TRUE(checkHost.ReadOnly(id)) << id;
  EXPECT_TRUE(checkHost.ReadOnly(1083));
  CSetheaderFooter header(link);
  DialogHost headerHost(header, prompter, prompter.Windows());
  EXPECT_FALSE(headerHost.Visible(CSetheaderFooter::kUnfixedOnlyBox));
  EXPECT_TRUE(headerHost.Visible(CSetheaderFooter::kAdvertisementOnlyBox));
  CSetSN serial;
  DialogHost serialHost(serial, prompter, prompter.Windows());
  EXPECT_FALSE(serialHost.Visible(1034));
  CSetTaxRates taxRates(link);
  DialogHost taxHost(taxRates, prompter, prompter.Windows());
  for (size_t slot = 0; slot < CSetTaxRates::kSlots; ++slot) {
    const bool shown = slot < CSetTaxRates::kDeviceSlots;
    EXPECT_EQ(taxHost.Visible(CSetTaxRates::RateField(slot)), shown) << slot;
    EXPECT_EQ(taxHost.Visible(CSetTaxRates::UndefinedBox(slot)), shown) << slot;
    EXPECT_EQ(taxHost.Text(CSetTaxRates::UndefinedBox(slot)), "undefined");
  }
}

// The main dialog on the real host and prompter: the scan under the progress window, the
// monitor's label, the result in the read-only field.
TEST_F(Templates, ConnectOnTheQtHost) {
  link.connectResults["COM3"] = 0;
  std::atomic<bool> held{false};
  link.device = [this, &held](uint16_t, const std::string &) {
    // Until the person pressed Stop, nothing answers.
    held = true;
    fiscal_test::WaitFor([this] { return prompter.Stopped(); });
    return RecordingLink::Answer{1, "Connection Error"};
  };
  CTillwrightDlg main(state, link);
  main.UseSerialRoots(platform::SerialRoots::None());  // no machine's ports, no sysfs
  DialogHost host(main, prompter, prompter.Windows());
  host.Open();
  EXPECT_TRUE(hosttest::WaitFor([&] { return host.Text(1097) == "Disconnected" && link.tests > 0; }));

  QWidget *seen = nullptr;
  QString shown;
  // Stop is pressed once the scan waits on COM3, however long a slow build takes to get there.
  std::function<void()> pressStop = [&] {
    if (!held) return hosttest::Later(pressStop, 20);
    seen = prompter.Progress();
    ASSERT_NE(seen, nullptr);
    EXPECT_TRUE(seen->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), seen) << "the main dialog takes no input meanwhile";
    seen->findChild<QPushButton *>("stop")->click();
  };
  hosttest::Later(pressStop, 20);
  qobject_cast<QAbstractButton *>(host.Control(CTillwrightDlg::kConnectButton))->click();
  EXPECT_NE(seen, nullptr);
  EXPECT_EQ(link.connects, (std::vector<std::string>{"COM1", "COM2", "COM3"}));
  EXPECT_EQ(link.sent.size(), 2u);
  EXPECT_EQ(qobject_cast<QLineEdit *>(host.Control(1033))->text(), "Error");
  EXPECT_EQ(host.Control(1097)->accessibleName(), "Disconnected");
  EXPECT_EQ(prompter.Progress(), nullptr);
  host.Close();
}

// "Diagnose connection..." is no control of the main dialog: its context menu holds it, read out by
// that name, with its keys; choosing it from either runs the checks.
TEST_F(Templates, TheMainDialogsMenuOffersDiagnoseConnection) {
  CTillwrightDlg main(state, link);
  std::atomic<int> runs{0};
  main.UseDiagnosis([&](const diagnosis::Progress &) {
    ++runs;
    return diagnosis::Report{};
  });
  DialogHost host(main, prompter, prompter.Windows());
  const auto controls = host.ControlIds();
  host.Open();
  QAction *action = host.MenuAction(CTillwrightDlg::kDiagnoseAction);
  ASSERT_NE(action, nullptr);
  EXPECT_EQ(host.Window().contextMenuPolicy(), Qt::ActionsContextMenu);
  EXPECT_TRUE(host.Window().actions().contains(action));
  EXPECT_EQ(action->text(), "Diagnose connection...");
  EXPECT_EQ(action->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D));
  EXPECT_EQ(host.ControlIds(), controls) << "the action adds no control";

  // The menu as the dialog's context menu shows it, and what a screen reader hears of its entry.
  QMenu menu;
  menu.addActions(host.Window().actions());
  menu.show();
  QAccessibleInterface *shown = QAccessible::queryAccessibleInterface(&menu);
  ASSERT_NE(shown, nullptr);
  ASSERT_EQ(shown->childCount(), 1);
  EXPECT_EQ(shown->child(0)->text(QAccessible::Name), "Diagnose connection...");
  menu.hide();

  // Chosen, the checks run and their report opens; Close ends it. The look waits in turns of the
  // event loop, never inside it, so that the progress window's own loop can end meanwhile.
  bool closed = false;
  std::function<void()> closeReport = [&] {
    auto *top = qobject_cast<QDialog *>(QApplication::activeModalWidget());
    if (top == nullptr || top->windowTitle() != "Diagnose connection") return hosttest::Later(closeReport, 20);
    auto *report = top->findChild<QPlainTextEdit *>("edit1310");
    ASSERT_NE(report, nullptr);
    EXPECT_TRUE(report->isReadOnly());
    EXPECT_EQ(report->accessibleName(), "Diagnose connection");
    // It looks read-only: the window's colour behind the text, not an editable field's.
    EXPECT_EQ(report->palette().color(QPalette::Active, QPalette::Base),
              top->palette().color(QPalette::Active, QPalette::Window));
    top->findChild<QPushButton *>("button2")->click();
    closed = true;
  };
  hosttest::Later(closeReport, 20);
  action->trigger();
  EXPECT_TRUE(closed);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(prompter.Progress(), nullptr);
  EXPECT_FALSE(host.Ended());
  host.Close();
}

// The journal dialog's pickers speak the view's texts on the real host, and its list and labels
// follow the operation.
TEST_F(Templates, JournalDialogOnTheQtHost) {
  KlenPrintDlg journal(link, {2014, 3, 1, 8, 0, 0});
  DialogHost host(journal, prompter, prompter.Windows());
  host.Open(false);
  EXPECT_EQ(host.Items(KlenPrintDlg::kOperationCombo),
            (std::vector<std::string>{"Single document form EJ", "Documents from EJ for period"}));
  EXPECT_EQ(host.Text(KlenPrintDlg::kBeginDatePicker), "2014-03-01");
  EXPECT_EQ(host.Text(KlenPrintDlg::kBeginTimePicker), "08:00:00");
  EXPECT_FALSE(host.Enabled(KlenPrintDlg::kBeginDatePicker));
  qobject_cast<QComboBox *>(host.Control(KlenPrintDlg::kOperationCombo))->setCurrentIndex(1);
  EXPECT_TRUE(host.Enabled(KlenPrintDlg::kBeginDatePicker));
  EXPECT_FALSE(host.Enabled(KlenPrintDlg::kDocumentField));
  EXPECT_EQ(host.Text(1167), "Begin date");
  host.SetText(KlenPrintDlg::kEndDatePicker, "2014-03-31");
  host.SetText(KlenPrintDlg::kEndTimePicker, "18:30");
  host.SetText(KlenPrintDlg::kZReportField, "12");
  qobject_cast<QAbstractButton *>(host.Control(tillwright::ui::kIdOk))->click();
  EXPECT_EQ(link.DataOf(200), std::vector<std::string>{"194,12,01-03-14 08:00,31-03-14 18:30"});
  host.Close();
}

// The logo dialog's preview on the real host: the picture control takes the image, the hidden
// box stays hidden, the radio buttons are a group.
TEST_F(Templates, LogoPreviewOnTheQtHost) {
  CLoadLogo logo(link, limits);
  DialogHost host(logo, prompter, prompter.Windows());
  host.Open(false);
  EXPECT_FALSE(host.Visible(CLoadLogo::kDisableBox));
  host.SetImage(CLoadLogo::kPreview, 16, 2, {0xFF, 0x00, 0x0F, 0xF0});
  const auto *picture = qobject_cast<QLabel *>(host.Control(CLoadLogo::kPreview));
  ASSERT_NE(picture, nullptr);
  EXPECT_FALSE(picture->pixmap().isNull());
  host.SetImage(CLoadLogo::kPreview, 0, 0, {});
  EXPECT_TRUE(picture->pixmap().isNull());
  qobject_cast<QAbstractButton *>(host.Control(CLoadLogo::kPrintDisable))->click();
  qobject_cast<QAbstractButton *>(host.Control(CLoadLogo::kPrintEnable))->click();
  EXPECT_FALSE(host.Checked(CLoadLogo::kPrintDisable));
  EXPECT_EQ(link.DataOf(43), (std::vector<std::string>{"L0", "L1"}));
  host.Close();
}

}  // namespace
