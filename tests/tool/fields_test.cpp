// Reply and input parsing the dialogs share.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

#include "core/fields.h"

namespace {

using tillwright::LeadingInteger;
using tillwright::LeadingNumber;
using tillwright::SplitFields;
using tillwright::SplitPieces;
using V = std::vector<std::string>;

TEST(Fields, PiecesKeepTheirPlacesWhereFieldsSkipEmptyOnes) {
  EXPECT_EQ(SplitPieces("apn,,secret"), (V{"apn", "", "secret"}));
  EXPECT_EQ(SplitFields("apn,,secret"), (V{"apn", "secret"}));
  EXPECT_EQ(SplitPieces(",a,"), (V{"", "a", ""}));
  EXPECT_EQ(SplitPieces("a"), (V{"a"}));
  EXPECT_TRUE(SplitPieces("").empty());
  EXPECT_EQ(SplitPieces("a\nb", '\n'), (V{"a", "b"}));
}

TEST(Fields, LeadingIntegerReadsAsAtoiWithoutItsOverflow) {
  EXPECT_EQ(LeadingInteger("192"), 192);
  EXPECT_EQ(LeadingInteger("  -7x"), -7);
  EXPECT_EQ(LeadingInteger("+300"), 300);
  EXPECT_EQ(LeadingInteger("abc"), 0);
  EXPECT_EQ(LeadingInteger(""), 0);
  EXPECT_EQ(LeadingInteger("99999999999999999999999"), 999999999999999999);
}

TEST(Fields, LeadingNumberReadsAsAtofInAnyLocale) {
  EXPECT_DOUBLE_EQ(LeadingNumber("1.00"), 1.0);
  EXPECT_DOUBLE_EQ(LeadingNumber(" 0.99 EUR"), 0.99);
  EXPECT_DOUBLE_EQ(LeadingNumber("-2.5e1x"), -25.0);
  EXPECT_DOUBLE_EQ(LeadingNumber("1e"), 1.0);
  EXPECT_DOUBLE_EQ(LeadingNumber(".5"), 0.5);
  EXPECT_DOUBLE_EQ(LeadingNumber("abc"), 0.0);
  EXPECT_DOUBLE_EQ(LeadingNumber("."), 0.0);
  EXPECT_DOUBLE_EQ(LeadingNumber("1,50"), 1.0);
  EXPECT_TRUE(std::isinf(LeadingNumber("1e999")));
  // A locale with a decimal comma changes nothing.
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr) {
    EXPECT_DOUBLE_EQ(LeadingNumber("1.25"), 1.25);
    std::setlocale(LC_NUMERIC, "C");
  }
}

}  // namespace
