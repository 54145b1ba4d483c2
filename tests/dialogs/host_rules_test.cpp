// The rules both hosts share: the pickers' texts and the fitting of a picture into its control.
#include <gtest/gtest.h>

#include "dialogs/picker_text.h"
#include "dialogs/picture_fit.h"

namespace tillwright::ui {
namespace {

TEST(PickerText, WritesWhatThePickerShows) {
  const PickerValue v{2014, 3, 1, 8, 5, 9};
  EXPECT_EQ(PickerText(v, PickerShows::Date), "2014-03-01");
  EXPECT_EQ(PickerText(v, PickerShows::Time), "08:05:09");
  EXPECT_EQ(PickerText(v, PickerShows::DateAndTime), "2014-03-01 08:05:09");
}

TEST(PickerText, ReadsEachFormAndKeepsWhatItDoesNotName) {
  struct Case {
    const char *text;
    bool read;
    PickerValue after;
  };
  const PickerValue before{2001, 2, 3, 4, 5, 6};
  const Case cases[] = {
      {"2014-03-01 08:00:30", true, {2014, 3, 1, 8, 0, 30}},
      {"  2014-03-01\t", true, {2014, 3, 1, 4, 5, 6}},
      {"08:00:30", true, {2001, 2, 3, 8, 0, 30}},
      {"08:15", true, {2001, 2, 3, 8, 15, 0}},
      {"2016-02-29", true, {2016, 2, 29, 4, 5, 6}},
      {"2015-02-29", false, before},
      {"2014-13-01", false, before},
      {"2014-3-1", false, before},
      {"24:00:00", false, before},
      {"08:60", false, before},
      {"2014-03-01 25:00:00", false, before},
      {"2014-03-01x", false, before},
      {"", false, before},
  };
  for (const Case &c : cases) {
    PickerValue v = before;
    EXPECT_EQ(ReadPickerText(c.text, v), c.read) << c.text;
    EXPECT_EQ(PickerText(v, PickerShows::DateAndTime), PickerText(c.after, PickerShows::DateAndTime)) << c.text;
  }
}

TEST(PictureFit, GrowsByWholeMultiplesAndShrinksToGrey) {
  // 16 x 2: the first row's left half black, the second row's right half.
  const std::vector<uint8_t> rows = {0xFF, 0x00, 0x00, 0xFF};
  const PictureFit grown = FitPicture(50, 10, 16, 2, rows);
  EXPECT_EQ(grown.width, 48);  // three times: five would not fit the height
  EXPECT_EQ(grown.height, 6);
  EXPECT_EQ(grown.left, 1);
  EXPECT_EQ(grown.top, 2);
  ASSERT_EQ(grown.greys.size(), 48u * 6u);
  EXPECT_EQ(grown.greys[0], 0);
  EXPECT_EQ(grown.greys[47], 255);
  EXPECT_EQ(grown.greys[5 * 48 + 47], 0);

  // Half the size: each shown pixel covers two by two dots, one row black, one white.
  const PictureFit shrunk = FitPicture(8, 8, 16, 2, rows);
  EXPECT_EQ(shrunk.width, 8);
  EXPECT_EQ(shrunk.height, 1);
  EXPECT_EQ(shrunk.top, 3);
  ASSERT_EQ(shrunk.greys.size(), 8u);
  EXPECT_EQ(shrunk.greys[0], 128);
  EXPECT_EQ(shrunk.greys[7], 128);

  EXPECT_TRUE(FitPicture(0, 10, 16, 2, rows).greys.empty());
  EXPECT_TRUE(FitPicture(50, 10, 16, 3, rows).greys.empty());  // too few bytes for three rows
  EXPECT_TRUE(FitPicture(50, 10, 0, 0, {}).greys.empty());
}

}  // namespace
}  // namespace tillwright::ui
