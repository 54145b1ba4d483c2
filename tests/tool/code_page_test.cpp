#include <gtest/gtest.h>

#include "core/code_page.h"
#include "core/tillwright_app.h"
#include "tool_test_support.h"

namespace {

using tillwright::CodePage;

TEST(CodePage, CyrillicGoesOutAsCp1251AndComesBackAsTyped) {
  const CodePage cp(1251);
  const QString typed = QString::fromUtf8("ЕТ Иван 1");
  const std::string bytes = cp.ToDevice(typed);
  EXPECT_EQ(bytes, "\xC5\xD2 \xC8\xE2\xE0\xED 1");
  EXPECT_EQ(cp.ToWidget(bytes), typed);
}

TEST(CodePage, CroatianLettersUseCp1250) {
  const CodePage cp(1250);
  const QString typed = QString::fromUtf8("Čačak Šđ");
  const std::string bytes = cp.ToDevice(typed);
  EXPECT_EQ(bytes, "\xC8\x61\xE8\x61k \x8A\xF0");
  EXPECT_EQ(cp.ToWidget(bytes), typed);
}

TEST(CodePage, UnconvertibleCharactersAreMarkedNotDropped) {
  const CodePage cp(1251);
  // A Chinese character and an emoji have no CP1251 byte; the text around them survives.
  EXPECT_EQ(cp.ToDevice(QString::fromUtf8("a中b😀c")), "a?b?c");
  // 0x98 is undefined in CP1251.
  EXPECT_EQ(cp.ToWidget("x\x98y"), QString::fromUtf8("x\xEF\xBF\xBDy"));
}

TEST(Options, CodePageChoiceAndBadArguments) {
  std::string error;
  auto o = tillwright::ParseOptions({}, &error);
  ASSERT_TRUE(o);
  EXPECT_EQ(o->codePage, 1251);
  o = tillwright::ParseOptions({"--codepage", "1250"}, &error);
  ASSERT_TRUE(o);
  EXPECT_EQ(o->codePage, 1250);
  EXPECT_FALSE(tillwright::ParseOptions({"--codepage", "866"}, &error));
  EXPECT_NE(error.find("866"), std::string::npos);
  EXPECT_FALSE(tillwright::ParseOptions({"--codepage"}, &error));
  EXPECT_FALSE(tillwright::ParseOptions({"--bogus"}, &error));
}

}  // namespace
