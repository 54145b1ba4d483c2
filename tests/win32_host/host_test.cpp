// The Win32 host over its own test template: the view both ways for every kind of control, the
// person's actions reaching the handler table, refusals, endings, posts from other threads,
// child dialogs, message boxes, progress and the wait cursor.
#include "host_support.h"

#include <commctrl.h>
#include <dlgs.h>

#include <chrono>

#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <stdexcept>
#include <thread>

#include "host_test_ids.h"
#include "win32/progress_window.h"
#include "win32/resources.h"

namespace tillwright::win32::testing {
namespace {

TEST(Win32Text, Utf8AndUtf16MeetAtTheBoundary) {
  EXPECT_EQ(Widen("Мария 1,5 €"), L"\x041C\x0430\x0440\x0438\x044F 1,5 \x20AC");
  EXPECT_EQ(Narrow(L"\x041C\x0430\x0440\x0438\x044F 1,5 \x20AC"), "Мария 1,5 €");
  EXPECT_EQ(Widen("a\xFF" "b"), L"a\xFFFD" L"b");  // a stray byte does not lose the rest
  EXPECT_EQ(Widen(""), L"");
}

// A literal's characters, the NULs inside included.
template <size_t N>
std::wstring Chars(const wchar_t (&text)[N]) {
  return std::wstring(text, N - 1);
}

TEST(Win32Text, TemplateNamesAndOpenBoxFilters) {
  EXPECT_EQ(TemplateResourceName("set_header_footer"), L"SET_HEADER_FOOTER");
  EXPECT_EQ(TemplateResourceName("tillwright_dlg2"), L"TILLWRIGHT_DLG2");
  EXPECT_EQ(OpenBoxFilter("Bitmap files (*.bmp)|*.bmp|All files|*.*"),
            Chars(L"Bitmap files (*.bmp)\0*.bmp\0All files\0*.*\0\0"));
  EXPECT_EQ(OpenBoxFilter("Bitmaps|*.bmp||"), Chars(L"Bitmaps\0*.bmp\0\0"));
}

TEST(Win32Resources, NamedResourcesAreFoundWhateverTheirSortOrder) {
  HMODULE program = ::GetModuleHandleW(nullptr);
  // Beside FISCALIZATION, which a lower-case search takes to come after it.
  EXPECT_FALSE(NamedResource(program, RT_DIALOG, L"FISCAL_CHECK").empty());
  EXPECT_FALSE(NamedResource(program, RT_DIALOG, L"fiscalization").empty());
  EXPECT_FALSE(NamedResource(program, RT_RCDATA, L"HOST_TEST_ITEMS").empty());
  EXPECT_TRUE(NamedResource(program, RT_DIALOG, L"HOST_TEST_ITEMS").empty());
  EXPECT_TRUE(NamedResource(program, RT_DIALOG, L"FISCAL").empty());
  EXPECT_TRUE(NamedResource(nullptr, RT_DIALOG, L"FISCAL_CHECK").empty());
}

TEST_F(HostTest, EveryKindOfControlBothWays) {
  Probe dialog;
  DialogHost host(dialog, prompter, prompter.Windows());
  RunWith(dialog, host, [&] {
    // Edit fields: text in and out, in UTF-8 on the logic's side.
    host.SetText(ID_NAME, "Иван Петров");
    EXPECT_EQ(WideText(Item(host, ID_NAME)), L"\x0418\x0432\x0430\x043D \x041F\x0435\x0442\x0440\x043E\x0432");
    ::SetDlgItemTextW(host.Window(), ID_NAME, L"\x0160ibenik");
    EXPECT_EQ(host.Text(ID_NAME), "Šibenik");

    // Check boxes and radio buttons.
    host.SetChecked(ID_FIXED, true);
    EXPECT_EQ(::SendMessageW(Item(host, ID_FIXED), BM_GETCHECK, 0, 0), BST_CHECKED);
    ::SendMessageW(Item(host, ID_FIXED), BM_SETCHECK, BST_UNCHECKED, 0);
    EXPECT_FALSE(host.Checked(ID_FIXED));
    host.SetChecked(ID_CARD, true);
    EXPECT_TRUE(host.Checked(ID_CARD));
    EXPECT_FALSE(host.Checked(ID_CASH));

    // A combo box's and a list's items and selection; the template's items came with it.
    EXPECT_EQ(host.Items(ID_DEVICE), (std::vector<std::string>{"Selvora EFD", "Other"}));
    EXPECT_EQ(host.Items(ID_LINES), (std::vector<std::string>{"Първа"}));
    EXPECT_EQ(host.Selection(ID_DEVICE), -1);
    host.SetItems(ID_CITY, {"Sofia", "Zagreb", "Plovdiv"});
    host.SetSelection(ID_CITY, 1);
    EXPECT_EQ(::SendMessageW(Item(host, ID_CITY), CB_GETCOUNT, 0, 0), 3);
    EXPECT_EQ(::SendMessageW(Item(host, ID_CITY), CB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(host.Text(ID_CITY), "Zagreb");
    ::SendMessageW(Item(host, ID_CITY), CB_SETCURSEL, 2, 0);
    EXPECT_EQ(host.Selection(ID_CITY), 2);
    host.SetItems(ID_LINES, {"Line 1", "Line 2"});
    host.SetSelection(ID_LINES, 1);
    EXPECT_EQ(::SendMessageW(Item(host, ID_LINES), LB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(host.Items(ID_LINES), (std::vector<std::string>{"Line 1", "Line 2"}));
    host.SetSelection(ID_LINES, -1);
    EXPECT_EQ(host.Selection(ID_LINES), -1);

    // Enabled, read-only, visible, as the template made them and as set.
    EXPECT_FALSE(host.Enabled(ID_DISABLED));
    EXPECT_TRUE(host.ReadOnly(ID_READ_ONLY));
    EXPECT_FALSE(host.ReadOnly(ID_NAME));
    EXPECT_FALSE(host.ReadOnly(ID_FIXED));
    host.SetEnabled(ID_DISABLED, true);
    EXPECT_TRUE(::IsWindowEnabled(Item(host, ID_DISABLED)));
    host.SetReadOnly(ID_NAME, true);
    EXPECT_NE(::GetWindowLongW(Item(host, ID_NAME), GWL_STYLE) & ES_READONLY, 0);
    EXPECT_TRUE(host.ReadOnly(ID_NAME));
    host.SetReadOnly(ID_READ_ONLY, false);
    EXPECT_FALSE(host.ReadOnly(ID_READ_ONLY));
    host.SetVisible(ID_COUNT, false);
    EXPECT_FALSE(::IsWindowVisible(Item(host, ID_COUNT)));
    EXPECT_FALSE(host.Visible(ID_COUNT));
    ::ShowWindow(Item(host, ID_COUNT), SW_SHOW);
    EXPECT_TRUE(host.Visible(ID_COUNT));

    // Focus, caption, and ids the template does not have.
    host.SetFocus(ID_OPERATOR);
    EXPECT_EQ(::GetFocus(), Item(host, ID_OPERATOR));
    EXPECT_EQ(host.Focus(), ID_OPERATOR);
    ::SetFocus(Item(host, ID_CITY));  // the combo box's own edit field takes it
    EXPECT_EQ(host.Focus(), ID_CITY);
    EXPECT_EQ(host.Caption(), "Host test");
    host.SetCaption("Тест");
    EXPECT_EQ(WideText(host.Window()), L"\x0422\x0435\x0441\x0442");
    EXPECT_EQ(host.Text(4242), "");
    host.SetText(4242, "nowhere");
    EXPECT_EQ(host.Selection(4242), -1);
    EXPECT_NE(host.WindowId(), 0);
  });
}

// The IP address control: the address with its first octet highest, both ways; wholly blank
// reads 0.0.0.0, some octets blank reads nothing.
TEST_F(HostTest, AddressControlsBothWays) {
  Probe dialog;
  DialogHost host(dialog, prompter, prompter.Windows());
  RunWith(dialog, host, [&] {
    HWND address = Item(host, ID_ADDRESS);
    ASSERT_NE(address, nullptr);
    EXPECT_EQ(host.Address(ID_ADDRESS), 0u);
    host.SetAddress(ID_ADDRESS, 0xC0A8010A);
    DWORD raw = 0;
    EXPECT_EQ(::SendMessageW(address, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&raw)), 4);
    EXPECT_EQ(raw, 0xC0A8010Au);
    EXPECT_EQ(host.Text(ID_ADDRESS), "192.168.1.10");
    ::SendMessageW(address, IPM_SETADDRESS, 0, MAKEIPADDRESS(10, 20, 30, 40));
    EXPECT_EQ(host.Address(ID_ADDRESS), 0x0A141E28u);
    ::SendMessageW(address, IPM_CLEARADDRESS, 0, 0);
    EXPECT_EQ(host.Address(ID_ADDRESS), 0u);
    // One octet typed, three left blank.
    ::SetWindowTextW(::GetWindow(address, GW_CHILD), L"10");
    EXPECT_FALSE(host.Address(ID_ADDRESS).has_value());
  });
}

TEST_F(HostTest, TheTemplateStatesHoldUntilTheLogicChangesThem) {
  Probe dialog;
  dialog.exchange = [](ui::DataExchange &dx) {
    std::string name = "Ivan";
    dx.Text(ID_NAME, name);
  };
  DialogHost host(dialog, prompter, prompter.Windows());
  RunWith(dialog, host, [&] {
    ASSERT_TRUE(::IsWindowVisible(host.Window()));
    EXPECT_EQ(host.Text(ID_NAME), "Ivan");
    EXPECT_FALSE(host.Visible(ID_HIDDEN));
    EXPECT_FALSE(::IsWindowVisible(Item(host, ID_HIDDEN)));
    EXPECT_TRUE(::IsWindowVisible(Item(host, ID_COUNT)));
    dialog.UpdateData(false);
    host.SetText(ID_HIDDEN, "Still hidden");
    EXPECT_FALSE(::IsWindowVisible(Item(host, ID_HIDDEN)));
    host.SetVisible(ID_HIDDEN, true);
    EXPECT_TRUE(::IsWindowVisible(Item(host, ID_HIDDEN)));
  });
}

TEST_F(HostTest, ClicksReachTheirHandlers) {
  Probe dialog;
  std::vector<std::string> seen;
  dialog.On(ID_COUNT, ui::Event::Clicked, [&] { seen.push_back("count"); });
  dialog.On(ID_FIXED, ui::Event::Clicked, [&] { seen.push_back(dialog.View().Checked(ID_FIXED) ? "fixed" : "loose"); });
  dialog.On(ID_CARD, ui::Event::Clicked, [&] { seen.push_back("card"); });
  DialogHost host(dialog, prompter, prompter.Windows());
  RunWith(dialog, host, [&] {
    Click(host, ID_COUNT);
    Click(host, ID_FIXED);
    Click(host, ID_FIXED);
    Click(host, ID_CARD);
    EXPECT_TRUE(host.Checked(ID_CARD));
    // Setting a check state is not a click.
    host.SetChecked(ID_FIXED, true);
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"count", "fixed", "loose", "card"}));
}

TEST_F(HostTest, TypingIsAChangeAndSettingTheTextIsNot) {
  Probe dialog;
  std::vector<std::string> changes;
  std::vector<std::string> selections;
  dialog.On(ID_NAME, ui::Event::Changed, [&] { changes.push_back(dialog.View().Text(ID_NAME)); });
  dialog.On(ID_CITY, ui::Event::Changed, [&] { changes.push_back("city " + dialog.View().Text(ID_CITY)); });
  dialog.On(ID_DEVICE, ui::Event::SelectionChanged,
            [&] { selections.push_back("device " + std::to_string(dialog.View().Selection(ID_DEVICE))); });
  dialog.On(ID_LINES, ui::Event::SelectionChanged,
            [&] { selections.push_back("lines " + std::to_string(dialog.View().Selection(ID_LINES))); });
  dialog.exchange = [](ui::DataExchange &dx) {
    std::string name = "Iva";
    dx.Text(ID_NAME, name);
  };
  DialogHost host(dialog, prompter, prompter.Windows());
  RunWith(dialog, host, [&] {
    EXPECT_TRUE(changes.empty());  // loading the controls changed nothing for the handlers
    host.SetFocus(ID_NAME);
    ::SendMessageW(Item(host, ID_NAME), EM_SETSEL, 3, 3);
    ::SendMessageW(Item(host, ID_NAME), WM_CHAR, L'n', 1);
    host.SetText(ID_NAME, "Petar");
    dialog.UpdateData(false);
    host.SetItems(ID_CITY, {"Sofia"});
    host.SetItems(ID_LINES, {"Line 1", "Line 2"});
    host.SetSelection(ID_CITY, 0);
    host.SetSelection(ID_DEVICE, 0);
    host.SetSelection(ID_LINES, 0);
    host.SetFocus(ID_CITY);
    ::SendMessageW(Item(host, ID_CITY), CB_SETEDITSEL, 0, MAKELPARAM(5, 5));
    ::SendMessageW(::GetFocus(), WM_CHAR, L'!', 1);
    host.SetFocus(ID_DEVICE);
    ::SendMessageW(Item(host, ID_DEVICE), WM_KEYDOWN, VK_DOWN, 0);
    host.SetFocus(ID_LINES);
    ::SendMessageW(Item(host, ID_LINES), WM_KEYDOWN, VK_DOWN, 0);
  });
  EXPECT_EQ(changes, (std::vector<std::string>{"Ivan", "city Sofia!"}));
  EXPECT_EQ(selections, (std::vector<std::string>{"device 1", "lines 1"}));
}

TEST_F(HostTest, ARefusedFieldKeepsTheFocusWithItsMessage) {
  Probe dialog;
  int32_t operatorNumber = 3;
  dialog.exchange = [&](ui::DataExchange &dx) { dx.Integer(ID_OPERATOR, operatorNumber, 1, 30); };
  DialogHost host(dialog, prompter, prompter.Windows());
  const int result = RunWith(
      dialog, host,
      [&] {
        EXPECT_EQ(host.Text(ID_OPERATOR), "3");
        host.SetFocus(ID_NAME);
        ::SetDlgItemTextW(host.Window(), ID_OPERATOR, L"99");
        Click(host, IDOK);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "Please enter an integer between 1 and 30.");
        EXPECT_EQ(boxes[0].caption, "Host test program");
        EXPECT_EQ(boxes[0].owner, host.Window());
        EXPECT_EQ(boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONWARNING));
        EXPECT_EQ(boxes[0].type & MB_TYPEMASK, static_cast<UINT>(MB_OK));
        EXPECT_EQ(host.Focus(), ID_OPERATOR);
        EXPECT_EQ(::GetFocus(), Item(host, ID_OPERATOR));
        EXPECT_EQ(operatorNumber, 3);
        EXPECT_TRUE(::IsWindowVisible(host.Window()));  // still open
        ::SetDlgItemTextW(host.Window(), ID_OPERATOR, L"12");
        Click(host, IDOK);
      },
      false);
  EXPECT_EQ(result, ui::kResultOk);
  EXPECT_EQ(operatorNumber, 12);
}

TEST_F(HostTest, ADialogEndsWithItsResult) {
  {
    Probe dialog;
    dialog.On(ID_COUNT, ui::Event::Clicked, [&] { dialog.View().End(7); });
    DialogHost host(dialog, prompter, prompter.Windows());
    EXPECT_EQ(RunWith(dialog, host, [&] { Click(host, ID_COUNT); }), 7);
  }
  {
    Probe dialog;
    DialogHost host(dialog, prompter, prompter.Windows());
    EXPECT_EQ(RunWith(dialog, host, [&] { Click(host, IDCANCEL); }), ui::kResultCancel);
  }
  {
    Probe dialog;  // closing the window is Cancel
    DialogHost host(dialog, prompter, prompter.Windows());
    EXPECT_EQ(RunWith(dialog, host, [&] { ::SendMessageW(host.Window(), WM_CLOSE, 0, 0); }), ui::kResultCancel);
  }
  {
    Probe dialog;  // Enter presses the default button
    DialogHost host(dialog, prompter, prompter.Windows());
    EXPECT_EQ(RunWith(dialog, host,
                      [&] {
                        MSG enter{Item(host, ID_NAME), WM_KEYDOWN, VK_RETURN, 0, 0, {}};
                        ::IsDialogMessageW(host.Window(), &enter);
                      }),
              ui::kResultOk);
  }
  {
    Probe dialog;  // the logic may refuse to close
    dialog.On(ui::kIdCancel, ui::Event::Clicked, [] {});
    DialogHost host(dialog, prompter, prompter.Windows());
    EXPECT_EQ(RunWith(dialog, host, [&] { ::SendMessageW(host.Window(), WM_CLOSE, 0, 0); }), kBodyDone);
  }
}

TEST_F(HostTest, OnDestroyRunsWhileTheControlsStillExist) {
  Probe dialog;
  std::string lastText;
  dialog.destroyed = [&] { lastText = dialog.View().Text(ID_STATUS); };
  DialogHost host(dialog, prompter, prompter.Windows());
  RunWith(dialog, host, [&] { host.SetText(ID_STATUS, "Closing"); });
  EXPECT_EQ(lastText, "Closing");
  EXPECT_FALSE(dialog.Attached());
  EXPECT_EQ(host.Window(), nullptr);
}

TEST_F(HostTest, AFocusChosenInInitDialogStays) {
  Probe dialog;
  DialogHost host(dialog, prompter, prompter.Windows());
  dialog.initialized = [&] {
    dialog.View().SetFocus(ID_OPERATOR);
    host.Post([&] {
      EXPECT_EQ(host.Focus(), ID_OPERATOR);
      host.End(0);
    });
  };
  EXPECT_EQ(host.Run(nullptr), 0);
}

TEST_F(HostTest, DisablingOrHidingTheFocusedControlMovesTheFocusOn) {
  Probe dialog;
  DialogHost host(dialog, prompter, prompter.Windows());
  RunWith(dialog, host, [&] {
    host.SetFocus(ID_NAME);
    host.SetEnabled(ID_NAME, false);
    EXPECT_NE(host.Focus(), ID_NAME);
    EXPECT_NE(host.Focus(), 0);
    host.SetFocus(ID_OPERATOR);
    host.SetVisible(ID_OPERATOR, false);
    EXPECT_NE(host.Focus(), ID_OPERATOR);
  });
}

TEST_F(HostTest, PostsFromAnotherThreadRunInOrderOnTheDialogsThread) {
  Probe dialog;
  DialogHost host(dialog, prompter, prompter.Windows());
  const DWORD uiThread = ::GetCurrentThreadId();
  std::vector<int> order;
  std::set<DWORD> threads;
  std::thread worker;
  const int result = RunWith(
      dialog, host,
      [&] {
        worker = std::thread([&] {
          for (int i = 0; i < 200; ++i) {
            host.Post([&, i] {
              order.push_back(i);
              threads.insert(::GetCurrentThreadId());
              host.SetText(ID_STATUS, std::to_string(i));
            });
          }
          host.Post([&] { host.End(5); });
          host.Post([&] { order.push_back(-1); });  // queued behind the end: dropped
        });
      },
      false);
  worker.join();
  EXPECT_EQ(result, 5);
  ASSERT_EQ(order.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(order[static_cast<size_t>(i)], i);
  EXPECT_EQ(threads, std::set<DWORD>{uiThread});

  // After the dialog is gone, a post is dropped, not run later by someone else's loop.
  bool ran = false;
  host.Post([&] { ran = true; });
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
  EXPECT_FALSE(ran);
}

TEST_F(HostTest, AnExceptionFromAHandlerEndsTheRunAndComesOutOfIt) {
  Probe dialog;
  bool destroyed = false;
  dialog.On(ID_COUNT, ui::Event::Clicked, [] { throw std::runtime_error("no link"); });
  dialog.destroyed = [&] { destroyed = true; };
  DialogHost host(dialog, prompter, prompter.Windows());
  try {
    RunWith(dialog, host, [&] { Click(host, ID_COUNT); });
    ADD_FAILURE() << "Run returned";
  } catch (const std::runtime_error &error) {
    EXPECT_STREQ(error.what(), "no link");
  }
  EXPECT_TRUE(destroyed);
  EXPECT_FALSE(dialog.Attached());
}

TEST_F(HostTest, ChildDialogsRunOverTheirParentAndOwnTheirBoxes) {
  Probe parent;
  Probe child("host_child");
  int childResult = 0;
  HWND childOwner = nullptr;
  child.initialized = [&] {
    child.View().Post([&] {
      HWND window = reinterpret_cast<HWND>(static_cast<intptr_t>(child.View().WindowId()));
      childOwner = ::GetWindow(window, GW_OWNER);
      EXPECT_EQ(prompter.Owner(), window);
      prompter.Inform("From the child", "", ui::Icon::Information);
      EXPECT_EQ(boxes.back().owner, window);
      child.View().End(ui::kResultOk);
    });
  };
  Probe missing("no_such_template");
  int missingResult = 0;
  parent.On(ID_COUNT, ui::Event::Clicked, [&] {
    childResult = prompter.Run(child);
    missingResult = prompter.Run(missing);
  });
  DialogHost host(parent, prompter, prompter.Windows());
  RunWith(parent, host, [&] {
    Click(host, ID_COUNT);
    EXPECT_EQ(childOwner, host.Window());
    EXPECT_EQ(prompter.Owner(), host.Window());
  });
  EXPECT_EQ(childResult, ui::kResultOk);
  EXPECT_EQ(missingResult, -1);
  EXPECT_EQ(prompter.Owner(), nullptr);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "From the child");
  EXPECT_EQ(boxes[0].caption, "Host test program");
  EXPECT_EQ(boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONINFORMATION));
}

TEST_F(HostTest, QuestionsAnswerWithTheirButtons) {
  Probe dialog;
  DialogHost host(dialog, prompter, prompter.Windows());
  RunWith(dialog, host, [&] {
    answers = {IDOK, IDCANCEL, IDYES, IDNO};
    EXPECT_TRUE(prompter.AskOkCancel("Daily Z report is needed !!!", "", ui::Icon::Question));
    EXPECT_FALSE(prompter.AskOkCancel("Daily Z report is needed !!!", "", ui::Icon::Question));
    EXPECT_TRUE(prompter.AskYesNo("Continue?", "Test sale", ui::Icon::Warning));
    EXPECT_FALSE(prompter.AskYesNo("Continue?", "Test sale", ui::Icon::None));
  });
  ASSERT_EQ(boxes.size(), 4u);
  EXPECT_EQ(boxes[0].type & MB_TYPEMASK, static_cast<UINT>(MB_OKCANCEL));
  EXPECT_EQ(boxes[0].type & MB_ICONMASK, static_cast<UINT>(MB_ICONQUESTION));
  EXPECT_EQ(boxes[2].type & MB_TYPEMASK, static_cast<UINT>(MB_YESNO));
  EXPECT_EQ(boxes[2].caption, "Test sale");
  EXPECT_EQ(boxes[3].type & MB_ICONMASK, 0u);
}

// The system's own boxes, really shown: a thread timer, which the box's message loop dispatches,
// finds the box, notes what it shows, fills in a file name where asked, and presses a button.
struct SystemBox {
  int button = IDOK;
  std::wstring fileName;  // typed into a file-open box before the button
  HWND owner = nullptr;
  std::wstring caption;
  std::wstring text;
};
SystemBox g_box;

BOOL CALLBACK FindBox(HWND window, LPARAM found) {
  wchar_t className[16] = {};
  ::GetClassNameW(window, className, 16);
  if (std::wstring(className) != L"#32770" || ::GetWindow(window, GW_OWNER) == nullptr) return TRUE;
  *reinterpret_cast<HWND *>(found) = window;
  return FALSE;
}

void CALLBACK AnswerBox(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND box = nullptr;
  ::EnumThreadWindows(::GetCurrentThreadId(), &FindBox, reinterpret_cast<LPARAM>(&box));
  if (box == nullptr) return;  // not up yet: the next tick
  ::KillTimer(nullptr, timer);
  g_box.owner = ::GetWindow(box, GW_OWNER);
  wchar_t text[256] = {};
  ::GetWindowTextW(box, text, 256);
  g_box.caption = text;
  ::GetDlgItemTextW(box, 0xFFFF, text, 256);  // a message box's text
  g_box.text = text;
  if (!g_box.fileName.empty()) {
    // The file name field: a combo box on Windows, an edit field in wine's box.
    for (const int field : {cmb13, edt1}) ::SetDlgItemTextW(box, field, g_box.fileName.c_str());
  }
  ::PostMessageW(box, WM_COMMAND, g_box.button, 0);
}

TEST(Win32Prompter, ARefusalsRealMessageBoxIsTheDialogsAndTheFocusStaysOnTheField) {
  Win32Prompter real({nullptr, L"tillwright", 0});
  Probe dialog;
  int32_t operatorNumber = 3;
  dialog.exchange = [&](ui::DataExchange &dx) { dx.Integer(ID_OPERATOR, operatorNumber, 1, 30); };
  DialogHost host(dialog, real, real.Windows());
  g_box = {};
  HWND window = nullptr;
  ui::ControlId focus = 0;
  dialog.initialized = [&] {
    host.Post([&] {
      window = host.Window();
      host.SetFocus(ID_NAME);
      ::SetDlgItemTextW(window, ID_OPERATOR, L"31");
      ::SetTimer(nullptr, 0, 50, &AnswerBox);
      ::SendMessageW(::GetDlgItem(window, IDOK), BM_CLICK, 0, 0);
      focus = host.Focus();
      host.End(0);
    });
  };
  EXPECT_EQ(host.Run(nullptr), 0);
  EXPECT_NE(window, nullptr);
  EXPECT_EQ(g_box.owner, window);
  EXPECT_EQ(g_box.caption, L"tillwright");
  EXPECT_EQ(g_box.text, L"Please enter an integer between 1 and 30.");
  EXPECT_EQ(focus, ID_OPERATOR);
  EXPECT_EQ(operatorNumber, 3);
}

TEST(Win32Prompter, TheFileOpenBoxGivesThePathChosenOrNothing) {
  const std::filesystem::path file = std::filesystem::temp_directory_path() / L"\x041B\x043E\x0433\x043E.bmp";
  std::ofstream(file) << "BM";
  Win32Prompter real({nullptr, L"tillwright", 0});
  Probe dialog;
  DialogHost host(dialog, real, real.Windows());
  std::optional<std::string> chosen;
  std::optional<std::string> cancelled = "not asked";
  SystemBox chooser;
  dialog.initialized = [&] {
    host.Post([&] {
      g_box = {};
      g_box.fileName = file.wstring();
      ::SetTimer(nullptr, 0, 50, &AnswerBox);
      chosen = real.OpenFile("Open logo", "Bitmap files (*.bmp)|*.bmp|All files (*.*)|*.*||");
      chooser = g_box;
      g_box = {};
      g_box.button = IDCANCEL;
      ::SetTimer(nullptr, 0, 50, &AnswerBox);
      cancelled = real.OpenFile("Open logo", "");
      host.End(0);
    });
  };
  EXPECT_EQ(host.Run(nullptr), 0);
  EXPECT_EQ(chooser.caption, L"Open logo");
  ASSERT_TRUE(chosen.has_value());
  EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::path(Widen(*chosen)), file)) << *chosen;
  EXPECT_FALSE(cancelled.has_value());
  std::filesystem::remove(file);
}

TEST_F(HostTest, ProgressShowsOverADisabledOwnerAndStopIsHeard) {
  Probe dialog;
  DialogHost host(dialog, prompter, prompter.Windows());
  RunWith(
      dialog, host,
      [&] {
        prompter.BeginProgress("Trying COM1", 20, true);
        HWND progress = prompter.ProgressWindowHandle();
        ASSERT_NE(progress, nullptr);
        EXPECT_TRUE(::IsWindowVisible(progress));
        EXPECT_EQ(::GetWindow(progress, GW_OWNER), host.Window());
        EXPECT_EQ(prompter.Owner(), progress);
        EXPECT_FALSE(::IsWindowEnabled(host.Window()));
        EXPECT_TRUE(::IsWindowVisible(::GetDlgItem(progress, IDCANCEL)));

        // Between steps the thread's messages are handled: what was posted runs.
        bool ran = false;
        host.Post([&] { ran = true; });
        prompter.SetProgress(3, "Trying COM4");
        EXPECT_TRUE(ran);
        EXPECT_EQ(::SendDlgItemMessageW(progress, ProgressWindow::kBarId, PBM_GETPOS, 0, 0), 3);
        EXPECT_EQ(WideText(::GetDlgItem(progress, ProgressWindow::kTextId)), L"Trying COM4");
        EXPECT_FALSE(prompter.Stopped());

        ::SendMessageW(::GetDlgItem(progress, IDCANCEL), BM_CLICK, 0, 0);
        EXPECT_TRUE(prompter.Stopped());
        EXPECT_TRUE(::IsWindow(progress));  // stopping only asks
        prompter.EndProgress();
        EXPECT_FALSE(::IsWindow(progress));
        EXPECT_TRUE(::IsWindowEnabled(host.Window()));
        EXPECT_EQ(prompter.Owner(), host.Window());
        EXPECT_FALSE(prompter.Stopped());

        prompter.BeginProgress("Sending the logo", 0, false);
        progress = prompter.ProgressWindowHandle();
        EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(progress, IDCANCEL)));
        ::SendMessageW(progress, WM_CLOSE, 0, 0);
        EXPECT_FALSE(prompter.Stopped());  // nothing to stop
        prompter.EndProgress();
        host.End(0);
      },
      false);
}

// A worker does the exchange while the user-interface thread waits: the window keeps serving
// its events (a click on Stop reaches the worker), and the wait ends when the worker posts the end.
TEST_F(HostTest, WaitingForAWorkerServesTheWindowUntilItPostsTheEnd) {
  Probe dialog;
  DialogHost host(dialog, prompter, prompter.Windows());
  // The body ends the dialog itself: an end queued behind it would run inside the wait.
  RunWith(dialog, host, [&] {
    prompter.BeginProgress("Trying COM1", 20, true);
    HWND progress = prompter.ProgressWindowHandle();
    int steps = 0;
    std::thread worker([&] {
      // The person's click, as the window would get it, while this thread asks between steps.
      ::PostMessageW(progress, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
      while (!prompter.Stopped() && steps < 100000) {
        ++steps;
        host.Post([&prompter = prompter, step = steps] { prompter.SetProgress(step % 20, "Trying"); });
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      host.Post([&] { prompter.EndProgress(); });
    });
    prompter.WaitProgress();
    worker.join();
    EXPECT_EQ(prompter.ProgressWindowHandle(), nullptr);
    EXPECT_LT(steps, 100000) << "the click on Stop never reached the worker";
    EXPECT_TRUE(::IsWindowEnabled(host.Window()));
    prompter.WaitProgress();  // already ended: returns at once
    host.End(0);
  }, false);
}

TEST_F(HostTest, TheWaitCursorShowsUntilTheLastEnd) {
  Probe dialog;
  DialogHost host(dialog, prompter, prompter.Windows());
  RunWith(dialog, host, [&] {
    HCURSOR wait = ::LoadCursorW(nullptr, IDC_WAIT);
    ::SetCursor(::LoadCursorW(nullptr, IDC_ARROW));
    prompter.BeginWait();
    EXPECT_EQ(::GetCursor(), wait);
    prompter.BeginWait();
    prompter.EndWait();
    EXPECT_TRUE(prompter.Waiting());
    // The dialog keeps it when the mouse moves over it.
    ::SetCursor(nullptr);
    ::SendMessageW(host.Window(), WM_SETCURSOR, reinterpret_cast<WPARAM>(host.Window()),
                   MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(::GetCursor(), wait);
    prompter.EndWait();
    EXPECT_FALSE(prompter.Waiting());
    EXPECT_NE(::GetCursor(), wait);
    prompter.EndWait();  // one too many changes nothing
    EXPECT_FALSE(prompter.Waiting());
  });
}

}  // namespace
}  // namespace tillwright::win32::testing
