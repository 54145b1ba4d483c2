// The Qt host proven generically: a small dialog over a test template, every control kind both
// ways, the person's actions reaching the handler table, validation, ending, posting and
// progress.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <atomic>
#include <thread>

#include "dialogs/data_exchange.h"
#include "dialogs/dialog.h"
#include "host_test_support.h"
#include "qt/dialog_host.h"
#include "qt/qt_prompter.h"
#include "wait_for.h"

namespace {

using namespace tillwright;
using qt::DialogHost;
using qt::QtPrompter;
using ui::ControlId;
using ui::Event;

// Every handler records what reached it; the fields bind each kind of control.
class Sample : public ui::Dialog {
 public:
  Sample() : Dialog("host_test") {
    for (ControlId id : {1001, 1002, 1004, 1005, 1006, 1007, 1008, 1009, 1010, 1011, 1014})
      for (Event event : {Event::Clicked, Event::Changed, Event::SelectionChanged})
        On(id, event, [this, id, event] { events.push_back({id, event}); });
    Uses({1003, 1012, 1013, ui::kIdOk, ui::kIdCancel});
  }
  void OnInitDialog() override {
    ++inits;
    if (endAtInit) EndDialog(7);
    Dialog::OnInitDialog();
  }
  void OnCancel() override {
    ++cancels;
    if (mayCancel) Dialog::OnCancel();
  }
  void OnDestroy() override { ++destroys; }
  void DoDataExchange(ui::DataExchange &dx) override {
    dx.Text(1001, name, 8);
    dx.Integer(1002, operatorNumber, 1, 30);
    dx.Check(1005, fixed);
    dx.Radio(1006, 1008, mode);
    dx.Selection(1009, kind);
  }

  std::vector<std::pair<ControlId, Event>> events;
  std::string name = "Ivan";
  int32_t operatorNumber = 3;
  bool fixed = true;
  int mode = 1;
  int kind = 1;
  bool mayCancel = true;
  bool endAtInit = false;
  int inits = 0;
  int cancels = 0;
  int destroys = 0;
};

class QtHost : public ::testing::Test {
 protected:
  void SetUp() override { hosttest::EnsureApplication(); }
  template <typename W>
  W *Get(DialogHost &host, ControlId id) {
    auto *w = qobject_cast<W *>(host.Control(id));
    EXPECT_NE(w, nullptr) << id;
    return w;
  }
  QtPrompter prompter;
  Sample dialog;
};

TEST_F(QtHost, TheTemplatesControlsAreFoundByTheirIds) {
  DialogHost host(dialog, prompter, prompter.Windows());
  EXPECT_EQ(host.ControlIds(), (std::vector<ControlId>{1, 2, 1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009,
                                                       1010, 1011, 1012, 1013, 1014, 1015}));
  EXPECT_EQ(host.Caption(), "Host test");
  for (ControlId id : dialog.Controls()) EXPECT_NE(host.Control(id), nullptr) << id;
}

TEST_F(QtHost, EveryControlKindBothWaysWithoutRaisingEvents) {
  DialogHost host(dialog, prompter, prompter.Windows());
  host.Open();
  // Loaded from the fields.
  EXPECT_EQ(Get<QLineEdit>(host, 1001)->text(), "Ivan");
  EXPECT_EQ(Get<QLineEdit>(host, 1002)->text(), "3");
  EXPECT_TRUE(Get<QCheckBox>(host, 1005)->isChecked());
  EXPECT_TRUE(Get<QRadioButton>(host, 1007)->isChecked());
  EXPECT_EQ(Get<QComboBox>(host, 1009)->currentIndex(), 1);

  host.SetText(1001, "Мария");
  EXPECT_EQ(Get<QLineEdit>(host, 1001)->text(), QString::fromUtf8("Мария"));
  EXPECT_EQ(host.Text(1001), "Мария");
  // A label whose accessible name is its caption keeps the two alike.
  host.SetText(1003, "Connected");
  EXPECT_EQ(Get<QLabel>(host, 1003)->text(), "Connected");
  EXPECT_EQ(Get<QLabel>(host, 1003)->accessibleName(), "Connected");
  EXPECT_EQ(host.Text(1003), "Connected");
  host.SetText(1004, "Pressed");
  EXPECT_EQ(host.Text(1004), "Pressed");
  host.SetText(1011, "two\nlines");
  EXPECT_EQ(Get<QPlainTextEdit>(host, 1011)->toPlainText(), "two\nlines");
  EXPECT_EQ(host.Text(1011), "two\nlines");
  host.SetText(1012, "Titled");
  EXPECT_EQ(host.Text(1012), "Titled");
  // An edit field's accessible name describes it and stays.
  EXPECT_EQ(Get<QLineEdit>(host, 1001)->accessibleName(), "Name");

  host.SetChecked(1005, false);
  EXPECT_FALSE(host.Checked(1005));
  host.SetChecked(1008, true);
  EXPECT_TRUE(host.Checked(1008));
  EXPECT_FALSE(host.Checked(1007)) << "radio buttons of a group exclude each other";
  // None of the group checked, as the logic may want.
  host.SetChecked(1008, false);
  EXPECT_FALSE(host.Checked(1006) || host.Checked(1007) || host.Checked(1008));

  EXPECT_EQ(host.Items(1009), (std::vector<std::string>{"Alpha", "Beta"}));
  host.SetItems(1009, {"Один", "Два", "Три"});
  EXPECT_EQ(host.Items(1009), (std::vector<std::string>{"Один", "Два", "Три"}));
  EXPECT_EQ(host.Selection(1009), -1) << "new items come with none chosen";
  host.SetSelection(1009, 2);
  EXPECT_EQ(host.Selection(1009), 2);
  EXPECT_EQ(host.Text(1009), "Три");
  host.SetSelection(1009, 9);
  EXPECT_EQ(host.Selection(1009), -1);
  host.SetItems(1010, {"a", "b"});
  EXPECT_EQ(host.Selection(1010), -1);
  host.SetSelection(1010, 1);
  EXPECT_EQ(Get<QListWidget>(host, 1010)->currentRow(), 1);
  EXPECT_EQ(host.Text(1010), "b");
  host.SetText(1014, "typed");
  EXPECT_EQ(host.Text(1014), "typed");

  host.SetEnabled(1004, false);
  EXPECT_FALSE(host.Enabled(1004));
  EXPECT_FALSE(Get<QPushButton>(host, 1004)->isEnabled());
  host.SetReadOnly(1001, true);
  EXPECT_TRUE(host.ReadOnly(1001));
  EXPECT_TRUE(Get<QLineEdit>(host, 1001)->isReadOnly());
  host.SetReadOnly(1011, true);
  EXPECT_TRUE(host.ReadOnly(1011));
  EXPECT_FALSE(host.Visible(1013)) << "hidden in the template";
  host.SetVisible(1013, true);
  EXPECT_TRUE(Get<QLineEdit>(host, 1013)->isVisible());
  host.SetVisible(1004, false);
  EXPECT_FALSE(host.Visible(1004));
  host.SetFocus(1002);
  EXPECT_EQ(host.Focus(), 1002);
  host.SetCaption("Другой");
  EXPECT_EQ(host.Window().windowTitle(), QString::fromUtf8("Другой"));
  EXPECT_EQ(host.Caption(), "Другой");

  EXPECT_TRUE(dialog.events.empty()) << "the view's own changes are not the person's";
  EXPECT_TRUE(host.Missing().empty());
  // A control the template lacks is noted, not fatal.
  EXPECT_EQ(host.Text(4242), "");
  EXPECT_EQ(host.Missing().count(4242), 1u);
}

// An address control takes only what can grow into a dotted address; a pasted one loses its
// blanks, and one with octets missing reads as nothing.
TEST_F(QtHost, AddressControlsTakeDottedAddresses) {
  DialogHost host(dialog, prompter, prompter.Windows());
  host.Open();
  auto *edit = Get<QLineEdit>(host, 1015);
  EXPECT_EQ(host.Address(1015), 0u) << "blank";
  host.SetAddress(1015, 0xC0A8010A);
  EXPECT_EQ(edit->text(), "192.168.1.10");
  EXPECT_EQ(host.Address(1015), 0xC0A8010Au);

  edit->selectAll();
  edit->insert(QStringLiteral(" 10.20.30.40 "));  // as a paste arrives
  EXPECT_EQ(edit->text(), "10.20.30.40");
  EXPECT_EQ(host.Address(1015), 0x0A141E28u);

  edit->clear();
  QTest::keyClicks(edit, "10.0.300");
  EXPECT_EQ(edit->text(), "10.0.30") << "a group above 255 is not taken";
  EXPECT_FALSE(host.Address(1015).has_value());
  QTest::keyClicks(edit, ".1.");
  EXPECT_EQ(edit->text(), "10.0.30.1") << "no fifth group";
  EXPECT_EQ(host.Address(1015), 0x0A001E01u);
  EXPECT_TRUE(dialog.events.empty());
}

TEST_F(QtHost, ThePersonsActionsReachTheirHandlers) {
  DialogHost host(dialog, prompter, prompter.Windows());
  host.Open();
  QTest::keyClicks(Get<QLineEdit>(host, 1001), "x");
  Get<QPushButton>(host, 1004)->click();
  Get<QCheckBox>(host, 1005)->click();
  Get<QRadioButton>(host, 1006)->click();
  Get<QComboBox>(host, 1009)->setCurrentIndex(0);  // as the person's choice in the list would
  host.SetItems(1010, {"a", "b"});
  Get<QListWidget>(host, 1010)->setCurrentRow(1);
  QTest::keyClicks(Get<QPlainTextEdit>(host, 1011), "n");
  QTest::keyClicks(Get<QComboBox>(host, 1014), "t");
  using E = std::pair<ControlId, Event>;
  EXPECT_EQ(dialog.events, (std::vector<E>{{1001, Event::Changed},
                                           {1004, Event::Clicked},
                                           {1005, Event::Clicked},
                                           {1006, Event::Clicked},
                                           {1009, Event::SelectionChanged},
                                           {1010, Event::SelectionChanged},
                                           {1011, Event::Changed},
                                           {1014, Event::Changed}}));
  EXPECT_FALSE(Get<QCheckBox>(host, 1005)->isChecked()) << "the click toggled it before the handler ran";
  EXPECT_EQ(host.Text(1001), "Ivanx");
}

TEST_F(QtHost, ARefusedFieldKeepsTheFocusWithItsMessage) {
  hosttest::BoxAnswerer person;
  DialogHost host(dialog, prompter, prompter.Windows());
  host.Open();
  QApplication::setActiveWindow(&host.Window());
  Get<QLineEdit>(host, 1002)->setText("31");
  Get<QPushButton>(host, ui::kIdOk)->click();
  EXPECT_EQ(person.texts, (std::vector<std::string>{"Please enter an integer between 1 and 30."}));
  EXPECT_EQ(person.captions, (std::vector<std::string>{"tillwright"}));
  EXPECT_EQ(person.icons, (std::vector<QMessageBox::Icon>{QMessageBox::Warning}));
  EXPECT_FALSE(host.Ended());
  EXPECT_TRUE(host.Window().isVisible());
  EXPECT_EQ(host.Focus(), 1002);
  EXPECT_EQ(dialog.operatorNumber, 3);

  Get<QLineEdit>(host, 1002)->setText("30");
  Get<QPushButton>(host, ui::kIdOk)->click();
  EXPECT_TRUE(host.Ended());
  EXPECT_EQ(host.Result(), ui::kResultOk);
  EXPECT_EQ(dialog.operatorNumber, 30);
}

TEST_F(QtHost, AModalRunEndsWithTheResultTheLogicGives) {
  hosttest::Later([&] {
    auto *window = qobject_cast<QDialog *>(QApplication::activeModalWidget());
    ASSERT_NE(window, nullptr);
    window->findChild<QLineEdit *>("edit1001")->setText("Petar");
    window->findChild<QPushButton *>("button1")->click();
  });
  EXPECT_EQ(prompter.Run(dialog), ui::kResultOk);
  EXPECT_EQ(dialog.name, "Petar");
  EXPECT_EQ(dialog.inits, 1);
  EXPECT_EQ(dialog.destroys, 1);
  EXPECT_FALSE(dialog.Attached());
}

TEST_F(QtHost, EscapeAndClosingTheWindowAskTheLogic) {
  // The logic refuses: Escape and the close button leave the dialog open.
  dialog.mayCancel = false;
  {
    DialogHost host(dialog, prompter, prompter.Windows());
    host.Open();
    QTest::keyClick(&host.Window(), Qt::Key_Escape);
    host.Window().close();
    EXPECT_EQ(dialog.cancels, 2);
    EXPECT_FALSE(host.Ended());
    EXPECT_TRUE(host.Window().isVisible());
  }
  // The default Cancel ends the modal run with its result.
  dialog.mayCancel = true;
  hosttest::Later([] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Escape); });
  EXPECT_EQ(prompter.Run(dialog), ui::kResultCancel);
  hosttest::Later([] { QApplication::activeModalWidget()->close(); });
  EXPECT_EQ(prompter.Run(dialog), ui::kResultCancel);
  EXPECT_EQ(dialog.cancels, 4);
}

TEST_F(QtHost, ADialogEndedAtItsStartIsNeverShown) {
  dialog.endAtInit = true;
  EXPECT_EQ(prompter.Run(dialog), 7);
  EXPECT_EQ(dialog.destroys, 1);
}

TEST_F(QtHost, PostsRunOnTheUserInterfaceThreadWhileTheDialogExists) {
  DialogHost host(dialog, prompter, prompter.Windows());
  host.Open();
  std::atomic<int> ran{0};
  std::thread::id where;
  std::thread worker([&] {
    host.Post([&] {
      where = std::this_thread::get_id();
      host.SetText(1003, "from the worker");
      ++ran;
    });
  });
  worker.join();
  EXPECT_EQ(ran, 0) << "not before the loop serves it";
  EXPECT_TRUE(hosttest::WaitFor([&] { return ran == 1; }));
  EXPECT_EQ(where, std::this_thread::get_id());
  EXPECT_EQ(Get<QLabel>(host, 1003)->text(), "from the worker");

  // Queued before the end, or posted after it: dropped.
  host.Post([&] { ++ran; });
  host.Close();
  std::thread late([&] { host.Post([&] { ++ran; }); });
  late.join();
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  EXPECT_EQ(ran, 1);
}

TEST_F(QtHost, ProgressKeepsTheLoopAliveAndHearsStop) {
  DialogHost host(dialog, prompter, prompter.Windows());
  host.Open();
  prompter.BeginProgress("Trying COM1", 3, true);
  ASSERT_NE(prompter.Progress(), nullptr);
  EXPECT_TRUE(prompter.Progress()->isVisible());
  EXPECT_EQ(QApplication::activeModalWidget(), prompter.Progress());

  std::atomic<int> steps{0};
  std::thread worker([&] {
    for (int step = 0; step < 3 && !prompter.Stopped(); ++step) {
      host.Post([&, step] { prompter.SetProgress(step, "Trying COM" + std::to_string(step + 1)); });
      ++steps;
      // Hold the first step until the person pressed Stop.
      if (step == 0) fiscal_test::WaitFor([&] { return prompter.Stopped(); });
    }
    host.Post([&] { prompter.EndProgress(); });
  });
  // The person presses Stop once the first step is under way, however late a slow build starts it.
  std::function<void()> pressStop = [&] {
    if (steps == 0) return hosttest::Later(pressStop, 20);
    auto *stop = prompter.Progress()->findChild<QPushButton *>("stop");
    ASSERT_NE(stop, nullptr);
    EXPECT_EQ(stop->text(), "Stop");
    stop->click();
  };
  hosttest::Later(pressStop, 20);
  prompter.WaitProgress();
  worker.join();
  EXPECT_TRUE(prompter.Stopped());
  EXPECT_EQ(steps, 1);
  EXPECT_EQ(prompter.Progress(), nullptr);
}

TEST_F(QtHost, ProgressWithoutStopIgnoresEscape) {
  prompter.BeginProgress("Loading", 2, false);
  QTest::keyClick(prompter.Progress(), Qt::Key_Escape);
  prompter.Progress()->close();
  EXPECT_FALSE(prompter.Stopped());
  EXPECT_TRUE(prompter.Progress()->isVisible());
  prompter.SetProgress(1, "Row 2");
  prompter.EndProgress();
  prompter.WaitProgress();  // already ended: returns at once
  EXPECT_EQ(prompter.Progress(), nullptr);
}

TEST_F(QtHost, MessageBoxesAndQuestionsOverTheRunningDialog) {
  hosttest::BoxAnswerer person;
  person.buttons = {QMessageBox::Cancel, QMessageBox::Ok, QMessageBox::No, QMessageBox::Yes};
  DialogHost host(dialog, prompter, prompter.Windows());
  host.Open();
  EXPECT_EQ(prompter.Parent(), &host.Window());
  EXPECT_FALSE(prompter.AskOkCancel("Daily Z report is needed !!!"));
  EXPECT_TRUE(prompter.AskOkCancel("again"));
  EXPECT_FALSE(prompter.AskYesNo("More?"));
  EXPECT_TRUE(prompter.AskYesNo("More?", "Own caption"));
  prompter.Inform("Done", {}, ui::Icon::Information);
  EXPECT_EQ(person.texts, (std::vector<std::string>{"Daily Z report is needed !!!", "again", "More?", "More?", "Done"}));
  EXPECT_EQ(person.captions[3], "Own caption");
  EXPECT_EQ(person.captions[4], "tillwright");
  EXPECT_EQ(person.icons[0], QMessageBox::Question);
  EXPECT_EQ(person.icons[4], QMessageBox::Information);
  host.Close();
  EXPECT_EQ(prompter.Parent(), nullptr);
}

class Thrower : public ui::Dialog {
 public:
  Thrower() : Dialog("host_test") { On(1004, Event::Clicked, [] { throw std::runtime_error("handler failed"); }); }
};

TEST_F(QtHost, AHandlersExceptionIsReportedAndTheDialogLives) {
  hosttest::BoxAnswerer person;
  Thrower thrower;
  DialogHost host(thrower, prompter, prompter.Windows());
  host.Open();
  Get<QPushButton>(host, 1004)->click();
  EXPECT_EQ(person.texts, (std::vector<std::string>{"handler failed"}));
  EXPECT_EQ(person.icons, (std::vector<QMessageBox::Icon>{QMessageBox::Critical}));
  EXPECT_TRUE(host.Window().isVisible());
}

TEST_F(QtHost, BadTemplatesAreRefused) {
  class Named : public ui::Dialog {
   public:
    explicit Named(const char *name) : Dialog(name) {}
  };
  Named missing("no_such_template");
  EXPECT_THROW(DialogHost(missing, prompter, prompter.Windows()), std::runtime_error);
  Named twice("twice");
  EXPECT_THROW(DialogHost(twice, prompter, prompter.Windows()), std::runtime_error);
}

// A label is read out as what it shows, whatever the template named it and when it is emptied,
// unless it captions a field; a read-only field is drawn on the window's colour, not the edit's.
TEST_F(QtHost, LabelsAreReadAsShownAndReadOnlyFieldsLookIt) {
  class Look : public ui::Dialog {
   public:
    Look() : Dialog("host_look") { Uses({2001, 2002, 2003, 2004, 2005}); }
  } look;
  DialogHost host(look, prompter, prompter.Windows());
  host.Open();
  struct Case {
    ControlId label;
    const char *text;
    const char *name;
  };
  for (const Case &c : {Case{2001, "Begin date", "Begin date"}, Case{2002, "", ""}, Case{2001, "", ""},
                        Case{2003, "A (locked)", "Rate A"}}) {
    host.SetText(c.label, c.text);
    EXPECT_EQ(Get<QLabel>(host, c.label)->accessibleName().toStdString(), c.name) << c.label << " \"" << c.text << "\"";
  }
  const auto background = [&host](ControlId id) {
    const QImage image = host.Control(id)->grab().toImage();
    return image.pixelColor(image.width() / 2, image.height() / 2);
  };
  EXPECT_NE(background(2004), background(2005)) << "read-only in the template";
  host.SetReadOnly(2005, true);
  EXPECT_EQ(background(2005), background(2004));
  host.SetReadOnly(2004, false);
  EXPECT_NE(background(2004), background(2005)) << "editable again";
}

TEST(QtFileFilter, PairsBecomeQtsFilter) {
  EXPECT_EQ(qt::QtFileFilter("Bitmap files (*.bmp)|*.bmp|All files (*.*)|*.*"), "Bitmap files (*.bmp);;All files (*.*)");
  EXPECT_EQ(qt::QtFileFilter("Pictures|*.bmp;*.png"), "Pictures (*.bmp *.png)");
  EXPECT_EQ(qt::QtFileFilter(""), "");
}

}  // namespace
