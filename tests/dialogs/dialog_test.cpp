// The dialog model itself: the handler table, OK and Cancel, and the data exchange with its
// validations, against a fake view.
#include <gtest/gtest.h>

#include <thread>

#include "dialogs/address.h"
#include "dialogs/data_exchange.h"
#include "dialogs/dialog.h"
#include "fake_view.h"

namespace tillwright::ui {
namespace {

using testing::FakeView;
using testing::ScriptedPrompter;

class Sample : public Dialog {
 public:
  Sample() : Dialog("sample") {
    On(1040, Event::Clicked, [this] { ++clicks; });
    On(1041, Event::Changed, [this] { changed = View().Text(1041); });
  }
  void DoDataExchange(DataExchange &dx) override {
    dx.Text(1033, name, 8);
    dx.Integer(1034, operatorNumber, 1, 30);
    dx.Number(1035, price, 2);
    dx.Check(1036, fixed);
    dx.Radio(1037, 1039, mode);
  }

  std::string name = "Ivan";
  int32_t operatorNumber = 3;
  double price = 1.5;
  bool fixed = true;
  int mode = 1;
  int clicks = 0;
  std::string changed;
};

struct Bench {
  Bench() { dialog.Attach(view, prompter); }
  FakeView view;
  ScriptedPrompter prompter;
  Sample dialog;
};

TEST(DialogModel, InitLoadsTheControlsAndOkTakesThemBackAndEnds) {
  Bench b;
  b.dialog.OnInitDialog();
  EXPECT_EQ(b.view.Text(1033), "Ivan");
  EXPECT_EQ(b.view.Text(1034), "3");
  EXPECT_EQ(b.view.Text(1035), "1.50");
  EXPECT_TRUE(b.view.Checked(1036));
  EXPECT_FALSE(b.view.Checked(1037));
  EXPECT_TRUE(b.view.Checked(1038));

  b.view.SetText(1033, "Мария");  // eight bytes or more, five characters
  b.view.SetText(1034, " 30 ");
  b.view.SetText(1035, "+2.25");
  b.view.SetChecked(1036, false);
  b.view.SetChecked(1038, false);
  b.view.SetChecked(1039, true);
  b.view.Click(b.dialog, kIdOk);
  EXPECT_EQ(b.view.Result(), kResultOk);
  EXPECT_EQ(b.dialog.name, "Мария");
  EXPECT_EQ(b.dialog.operatorNumber, 30);
  EXPECT_DOUBLE_EQ(b.dialog.price, 2.25);
  EXPECT_FALSE(b.dialog.fixed);
  EXPECT_EQ(b.dialog.mode, 2);
  EXPECT_TRUE(b.prompter.messages.empty());
}

TEST(DialogModel, ARefusedFieldStopsTheExchangeWithItsMessageAndTheFocusOnIt) {
  struct Case {
    ControlId id;
    std::string text;
    std::string message;
  };
  for (const Case &c : std::vector<Case>{{1033, "too long!", "Please enter no more than 8 characters."},
                                         {1034, "31", "Please enter an integer between 1 and 30."},
                                         {1034, "0", "Please enter an integer between 1 and 30."},
                                         {1034, "2x", "Please enter an integer between 1 and 30."},
                                         {1034, "", "Please enter an integer between 1 and 30."},
                                         {1035, "1,5", "Please enter a number."},
                                         {1035, "nan", "Please enter a number."},
                                         {1035, "", "Please enter a number."}}) {
    Bench b;
    b.dialog.OnInitDialog();
    b.view.SetText(c.id, c.text);
    b.view.SetText(1036, "ignored");
    b.view.Click(b.dialog, kIdOk);
    EXPECT_FALSE(b.view.Result().has_value()) << c.text;
    ASSERT_EQ(b.prompter.messages.size(), 1u) << c.text;
    EXPECT_EQ(b.prompter.messages[0], c.message);
    EXPECT_EQ(b.view.Focus(), c.id) << c.text;
    // Fields before the refused one were taken, the refused one and those after it not.
    EXPECT_EQ(b.dialog.price, 1.5) << c.text;
    EXPECT_TRUE(b.dialog.fixed);
  }
}

TEST(DialogModel, TheTableRoutesEventsAndCancelEnds) {
  Bench b;
  b.view.Click(b.dialog, 1040);
  b.view.Click(b.dialog, 1040);
  EXPECT_EQ(b.dialog.clicks, 2);
  b.view.Type(b.dialog, 1041, "abc");
  EXPECT_EQ(b.dialog.changed, "abc");
  EXPECT_FALSE(b.dialog.Dispatch(1040, Event::Changed));  // no entry for that event
  EXPECT_FALSE(b.dialog.Dispatch(9999, Event::Clicked));
  EXPECT_FALSE(b.view.Result().has_value());
  b.view.Click(b.dialog, kIdCancel);
  EXPECT_EQ(b.view.Result(), kResultCancel);
}

TEST(DialogModel, ControlsAreTheTablesAndTheDeclaredOnes) {
  class Declaring : public Sample {
   public:
    Declaring() { Uses({1033, 1034, 1040, 7}); }
  };
  Declaring dialog;
  EXPECT_EQ(dialog.Controls(), (std::vector<ControlId>{7, 1033, 1034, 1040, 1041}));
}

// A menu action is chosen like a button is clicked, but no template holds it; an id a system menu
// could not carry is refused where it is declared, not found missing on Windows only.
TEST(DialogModel, MenuActionsDispatchAsClicksAndAreNoControls) {
  class WithMenu : public Sample {
   public:
    WithMenu() {
      Menu({0x1F10, "Diagnose connection...", "Ctrl+Shift+D"}, [this] { ++chosen; });
    }
    void Declare(ControlId id) {
      Menu({id, "Bad", ""}, [] {});
    }
    int chosen = 0;
  };
  WithMenu dialog;
  FakeView view;
  ScriptedPrompter prompter;
  dialog.Attach(view, prompter);
  ASSERT_EQ(dialog.MenuActions().size(), 1u);
  EXPECT_EQ(dialog.MenuActions()[0].text, "Diagnose connection...");
  EXPECT_TRUE(dialog.Dispatch(0x1F10, Event::Clicked));
  EXPECT_EQ(dialog.chosen, 1);
  EXPECT_EQ(dialog.Controls(), (std::vector<ControlId>{1040, 1041}));
  for (ControlId bad : {0, 0x1F11, 0xF000, -16}) EXPECT_THROW(dialog.Declare(bad), std::logic_error) << bad;
  EXPECT_EQ(dialog.MenuActions().size(), 1u);
}

// What the scan and the monitor rely on: posts from other threads wait for the loop, in order,
// and are dropped once the dialog is gone.
TEST(FakeView, PostsFromWorkersRunInOrderUntilTheViewCloses) {
  FakeView view;
  std::vector<int> ran;
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i) view.Post([&ran, i] { ran.push_back(i); });
  });
  EXPECT_TRUE(view.RunPostedUntil([&] { return ran.size() == 3; }));
  worker.join();
  EXPECT_EQ(ran, (std::vector<int>{0, 1, 2}));
  EXPECT_FALSE(view.RunPostedUntil([] { return false; }, std::chrono::milliseconds(20)));
  view.Post([&ran] { ran.push_back(9); });
  view.Close();
  view.Post([&ran] { ran.push_back(10); });
  EXPECT_EQ(view.RunPosted(), 0u);
  EXPECT_EQ(ran.size(), 3u);
}

TEST(Address, DottedAddressesAsTypedOrPasted) {
  EXPECT_EQ(ParseAddress("192.168.1.10"), 0xC0A8010Au);
  EXPECT_EQ(ParseAddress(" 0.0.0.0\n"), 0u);
  EXPECT_EQ(ParseAddress("255.255.255.255"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseAddress("010.001.000.009"), 0x0A010009u);
  for (const char *bad : {"", "256.0.0.1", "1.2.3", "1.2.3.4.5", "1..3.4", "1.2.3.4.", "0001.2.3.4", "1.2.3.x",
                          "-1.2.3.4", "1.2.3.4 5", "+1.2.3.4"})
    EXPECT_FALSE(ParseAddress(bad).has_value()) << bad;
  EXPECT_EQ(FormatAddress(0xC0A8010Au), "192.168.1.10");
  EXPECT_EQ(FormatAddress(0), "0.0.0.0");
}

// An address control with some octets left blank is refused; one left wholly blank is 0.0.0.0.
TEST(DialogModel, AddressesAndPlainIntegers) {
  class Addresses : public Dialog {
   public:
    Addresses() : Dialog("addresses") {}
    void DoDataExchange(DataExchange &dx) override {
      dx.Address(1182, address);
      dx.Integer(1033, number);
    }
    uint32_t address = 0x0A000001;
    int32_t number = -7;
  };
  Addresses dialog;
  FakeView view;
  ScriptedPrompter prompter;
  dialog.Attach(view, prompter);
  dialog.OnInitDialog();
  EXPECT_EQ(view.Address(1182), 0x0A000001u);
  EXPECT_EQ(view.Text(1033), "-7");

  view.TypeAddress(1182, "");
  view.SetText(1033, "2147483647");
  EXPECT_TRUE(dialog.UpdateData(true));
  EXPECT_EQ(dialog.address, 0u);
  EXPECT_EQ(dialog.number, 2147483647);

  view.TypeAddress(1182, "10.0..1");
  EXPECT_FALSE(dialog.UpdateData(true));
  EXPECT_EQ(prompter.messages.back(), DataExchange::kNotAnAddress);
  EXPECT_EQ(view.Focus(), 1182);

  view.TypeAddress(1182, "10.0.0.2");
  for (const char *bad : {"2147483648", "1.5", "", "x"}) {
    view.SetText(1033, bad);
    EXPECT_FALSE(dialog.UpdateData(true)) << bad;
    // A number too large for the field names the limits; anything else is no integer.
    EXPECT_EQ(prompter.messages.back(), bad == std::string("2147483648")
                                            ? "Please enter an integer between -2147483648 and 2147483647."
                                            : "Please enter an integer.");
    EXPECT_EQ(view.Focus(), 1033);
  }
  EXPECT_EQ(dialog.number, 2147483647);
  dialog.Detach();
}

TEST(DialogModel, ADialogWithoutAViewSaysSo) {
  Sample lone;
  EXPECT_THROW(lone.UpdateData(true), std::logic_error);
}

}  // namespace
}  // namespace tillwright::ui
