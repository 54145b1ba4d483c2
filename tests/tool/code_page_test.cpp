#include <gtest/gtest.h>

#include "app/tillwright_app.h"
#include "core/code_page.h"
#include "dialogs/data_exchange.h"
#include "fake_view.h"

namespace {

using tillwright::CodePage;

TEST(CodePage, CyrillicGoesOutAsCp1251AndComesBackAsTyped) {
  const CodePage cp(1251);
  const std::string typed = "ЕТ Иван 1";
  const std::string bytes = cp.ToDevice(typed);
  EXPECT_EQ(bytes, "\xC5\xD2 \xC8\xE2\xE0\xED 1");
  EXPECT_EQ(cp.ToWidget(bytes), typed);
}

TEST(CodePage, CroatianLettersUseCp1250) {
  const CodePage cp(1250);
  const std::string typed = "Čačak Šđ";
  const std::string bytes = cp.ToDevice(typed);
  EXPECT_EQ(bytes, "\xC8\x61\xE8\x61k \x8A\xF0");
  EXPECT_EQ(cp.ToWidget(bytes), typed);
}

TEST(CodePage, UnconvertibleCharactersAreMarkedNotDropped) {
  const CodePage cp(1251);
  // A Chinese character and an emoji have no CP1251 byte; the text around them survives.
  EXPECT_EQ(cp.ToDevice("a中b😀c"), "a?b?c");
  // A broken UTF-8 sequence is one unknown character, and the good one after it survives.
  EXPECT_EQ(cp.ToDevice("a\xD0z"), "a?z");
  // 0x98 is undefined in CP1251.
  EXPECT_EQ(cp.ToWidget("x\x98y"), "x\xEF\xBF\xBDy");
}

TEST(CodePage, DeviceTextFieldsGoThroughTheWidgetsCodePageBothWays) {
  tillwright::testing::FakeView view;
  tillwright::testing::ScriptedPrompter prompter;
  tillwright::SetWidgetCodePage(1250);
  std::string bytes = "\x8A";  // Š
  {
    tillwright::ui::DataExchange dx(view, prompter, false);
    tillwright::DeviceText(dx, 1033, bytes);
  }
  EXPECT_EQ(view.Text(1033), "Š");
  view.SetText(1033, "đ");
  {
    tillwright::ui::DataExchange dx(view, prompter, true);
    tillwright::DeviceText(dx, 1033, bytes);
  }
  EXPECT_EQ(bytes, "\xF0");
  tillwright::SetWidgetCodePage(1251);
}

TEST(Options, CodePageChoiceAndBadArguments) {
  std::string error;
  auto o = tillwright::ParseOptions({}, &error);
  ASSERT_TRUE(o);
  EXPECT_EQ(o->codePage, 1251);
  o = tillwright::ParseOptions({"--codepage", "1250"}, &error);
  ASSERT_TRUE(o);
  EXPECT_EQ(o->codePage, 1250);
  o = tillwright::ParseOptions({"--demo-screenshot", "/tmp/x.png"}, &error);
  ASSERT_TRUE(o);
  EXPECT_EQ(o->demoScreenshot, "/tmp/x.png");
  EXPECT_FALSE(tillwright::ParseOptions({"--codepage", "866"}, &error));
  EXPECT_NE(error.find("866"), std::string::npos);
  EXPECT_FALSE(tillwright::ParseOptions({"--codepage"}, &error));
  EXPECT_FALSE(tillwright::ParseOptions({"--bogus"}, &error));
}

// --help and --version win over whatever follows them, so that they work on any command line a
// person has half typed; what comes before them is still checked.
TEST(Options, HelpAndVersionEndTheArguments) {
  std::string error;
  auto o = tillwright::ParseOptions({"--codepage", "1250", "--help", "--bogus"}, &error);
  ASSERT_TRUE(o);
  EXPECT_TRUE(o->help);
  EXPECT_FALSE(o->version);
  o = tillwright::ParseOptions({"--version", "--codepage"}, &error);
  ASSERT_TRUE(o);
  EXPECT_TRUE(o->version);
  EXPECT_FALSE(tillwright::ParseOptions({"--codepage", "866", "--help"}, &error));
  o = tillwright::ParseOptions({"--demo-screenshot", "--help"}, &error);
  ASSERT_TRUE(o);
  EXPECT_FALSE(o->help);
  EXPECT_EQ(o->demoScreenshot, "--help");
}

}  // namespace
