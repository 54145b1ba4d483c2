// Escape in the TCP/IP dialog, whose address fields are child windows with edit fields of their
// own, over the main dialog, where Escape ends the program: it closes the dialog it was pressed in
// and nothing else, however the key arrives, and held down as well.
#include "host_support.h"

#include <commctrl.h>

namespace tillwright::win32::testing {
namespace {

constexpr int kTcpIpButton = 1183;  // the main dialog's
constexpr int kFirstAddress = 1182;  // the TCP/IP dialog's
constexpr LPARAM kPressed = 0x00010001;
constexpr LPARAM kRepeated = kPressed | (LPARAM{1} << 30);
constexpr LPARAM kReleased = static_cast<LPARAM>(0xC0010001);

void Key(DWORD flags) { ::keybd_event(VK_ESCAPE, 0x01, flags, 0); }

struct Way {
  const char *name;
  void (*press)(HWND field);         // with the focus in an address field of the TCP/IP dialog
  void (*afterClose)(HWND focused);  // what the same key still does once that dialog has gone
};

const Way kWays[] = {
    {"KeyPressed",
     [](HWND) {
       Key(0);
       Key(KEYEVENTF_KEYUP);
     },
     [](HWND) {}},
    {"SendInput",
     [](HWND) {
       INPUT keys[2] = {};
       for (INPUT &key : keys) {
         key.type = INPUT_KEYBOARD;
         key.ki.wVk = VK_ESCAPE;
       }
       keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
       ::SendInput(2, keys, sizeof(INPUT));
     },
     [](HWND) {}},
    {"MessagesToTheField",
     [](HWND field) {
       ::PostMessageW(field, WM_KEYDOWN, VK_ESCAPE, kPressed);
       ::PostMessageW(field, WM_KEYUP, VK_ESCAPE, kReleased);
     },
     [](HWND) {}},
    // A key held down: the keyboard repeats its press until it is let go.
    {"KeyHeldDown", [](HWND) { Key(0); },
     [](HWND) {
       for (int i = 0; i < 3; ++i) Key(0);
       Key(KEYEVENTF_KEYUP);
     }},
    {"RepeatMessagesReachTheMainDialog", [](HWND field) { ::PostMessageW(field, WM_KEYDOWN, VK_ESCAPE, kPressed); },
     [](HWND focused) {
       for (int i = 0; i < 3; ++i) ::PostMessageW(focused, WM_KEYDOWN, VK_ESCAPE, kRepeated);
       ::PostMessageW(focused, WM_KEYUP, VK_ESCAPE, kReleased);
     }},
};

void PrintTo(const Way &way, std::ostream *out) { *out << way.name; }

// Thread timers: the dialogs' own loops dispatch them.
DialogHost *g_main = nullptr;
const int *g_mainCancels = nullptr;
int g_cancelsBeforeNewPress = -1;

void CALLBACK GiveUp(HWND, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  if (g_main != nullptr && g_main->Window() != nullptr) g_main->End(99);
}

void CALLBACK PressAgain(HWND, UINT, UINT_PTR timer, DWORD) {
  ::KillTimer(nullptr, timer);
  g_cancelsBeforeNewPress = *g_mainCancels;
  ::PostMessageW(::GetFocus(), WM_KEYDOWN, VK_ESCAPE, kPressed);
  ::PostMessageW(::GetFocus(), WM_KEYUP, VK_ESCAPE, kReleased);
}

class EscapeInTheTcpIpDialog : public HostTest, public ::testing::WithParamInterface<Way> {};

TEST_P(EscapeInTheTcpIpDialog, ClosesOnlyThatDialog) {
  const Way &way = GetParam();
  Probe main("tillwright_dlg");
  Probe tcpIp("tcp_ip_config");
  int mainCancels = 0;
  g_mainCancels = &mainCancels;
  g_cancelsBeforeNewPress = -1;
  main.On(ui::kIdCancel, ui::Event::Clicked, [&] {
    ++mainCancels;
    main.View().End(ui::kResultCancel);
  });
  tcpIp.initialized = [&] {
    tcpIp.View().Post([&] {
      HWND dialog = reinterpret_cast<HWND>(static_cast<intptr_t>(tcpIp.View().WindowId()));
      ::ShowWindow(dialog, SW_SHOW);
      ::SendMessageW(::GetDlgItem(dialog, kFirstAddress), IPM_SETFOCUS, 0, 0);
      HWND field = ::GetFocus();
      ASSERT_TRUE(::IsChild(::GetDlgItem(dialog, kFirstAddress), field)) << "the focus is not in an address field";
      way.press(field);
    });
  };
  DialogHost mainHost(main, prompter, prompter.Windows());
  DialogHost tcpIpHost(tcpIp, prompter, prompter.Windows());
  g_main = &mainHost;
  int tcpIpResult = 0;
  UINT_PTR giveUp = 0;
  main.On(kTcpIpButton, ui::Event::Clicked, [&] {
    giveUp = ::SetTimer(nullptr, 0, 10000, &GiveUp);
    tcpIpResult = tcpIpHost.Run(mainHost.Window());
    way.afterClose(::GetFocus());
    // Once the main dialog has served what the key left, a new press is Escape in it.
    ::SetTimer(nullptr, 0, 300, &PressAgain);
  });
  const int mainResult = RunWith(main, mainHost, [&] { Click(mainHost, kTcpIpButton); }, false);
  ::KillTimer(nullptr, giveUp);
  g_main = nullptr;
  g_mainCancels = nullptr;

  EXPECT_EQ(tcpIpResult, ui::kResultCancel);
  EXPECT_EQ(g_cancelsBeforeNewPress, 0) << "the main dialog took the Escape of the TCP/IP dialog";
  EXPECT_EQ(mainResult, ui::kResultCancel) << "a new press of Escape did not reach the main dialog";
  EXPECT_EQ(mainCancels, 1);
}

std::string WayName(const ::testing::TestParamInfo<Way> &param) { return param.param.name; }

INSTANTIATE_TEST_SUITE_P(Ways, EscapeInTheTcpIpDialog, ::testing::ValuesIn(kWays), WayName);

}  // namespace
}  // namespace tillwright::win32::testing
