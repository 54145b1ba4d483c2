// The logo dialog: which rows and bytes go out for a picture and a device's limits, the bit
// sense, the files it refuses (cleanly, before anything is sent), the preview, progress and Stop.
#include <gtest/gtest.h>

#include "bitmap_files.h"
#include "logic_test_support.h"
#include "programming/load_logo.h"
#include "programming/logo_bitmap.h"

namespace {

using tillwright::CLoadLogo;
using tillwright::LogoLimits;
using tillwright::ui::kIdOk;
using tillwright::ui::kResultCancel;
using tillwright::ui::kResultOk;
using tooltest::BitmapFile;
using tooltest::FakeView;
using tooltest::Picture;
using tooltest::RecordingLink;
using tooltest::ScriptedPrompter;

const char *const kInvalid = "Invalid file format!!!\nHave to use monochrome bitmap file WITHOUT compression";

// Rows as sent with command 115, back into a picture `dots` wide; checks their numbering.
Picture SentPicture(const RecordingLink &link, int dots) {
  Picture p{dots, 0, {}};
  for (const std::string &data : link.DataOf(115)) {
    const size_t comma = data.find(',');
    EXPECT_EQ(data.substr(0, comma), std::to_string(p.height)) << "rows go out in order from 0";
    const std::string hex = data.substr(comma + 1);
    std::vector<uint8_t> row;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) row.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    p.rows.push_back(row);
    ++p.height;
  }
  return p;
}

// Whether `sent` shows the top-left of `source`.
void ExpectCropOf(const Picture &source, const Picture &sent, int width, int height) {
  ASSERT_EQ(sent.height, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      ASSERT_EQ(sent.Black(x, y), source.Black(x, y)) << "dot " << x << "," << y;
}

class LoadLogo : public ::testing::Test {
 protected:
  void SetUp() override {
    link.device = [this](uint16_t code, const std::string &data) -> RecordingLink::Answer {
      if (code == 128) return {limitsFail ? 1 : 0, limitsReply};
      if (code == 115 && failRow >= 0 && data.rfind(std::to_string(failRow) + ",", 0) == 0) return {1, "Error"};
      return {0, ""};
    };
  }
  // Runs the dialog on `file`, pressing OK; the result it ended with (-1: left open).
  int Send(const std::string &file) {
    CLoadLogo dlg(link, limits);
    return tillwright::testing::RunOn(dlg, prompter, [&](FakeView &v, tillwright::ui::Dialog &d) {
      v.SetText(CLoadLogo::kFileField, file);
      v.Click(d, kIdOk);
      note = v.Text(CLoadLogo::kNote);
      tooltest::ExpectDeclaredControls(v, d);
    });
  }
  int Send(const BitmapFile &bitmap) { return Send(folder.Write("logo.bmp", bitmap.Bytes())); }

  std::string limitsReply = "384,96";
  bool limitsFail = false;
  int failRow = -1;
  LogoLimits limits;
  RecordingLink link;
  ScriptedPrompter prompter;
  tooltest::TempFolder folder;
  std::string note;
};

TEST_F(LoadLogo, BitSenseMakesEveryBlackDotAOne) {
  const Picture picture = Picture::Pattern(16, 3);
  for (const bool white : {false, true}) {
    link.sent.clear();
    BitmapFile file{picture};
    file.colour0White = white;
    EXPECT_EQ(Send(file), kResultOk) << white;
    EXPECT_EQ(link.sent.front().code, 128);
    ExpectCropOf(picture, SentPicture(link, 16), 16, 3);
  }
  // Stored bytes FF and 00 under black colour 0 go out as 00 and FF.
  Picture bars{16, 1, {{0x00, 0xFF}}};
  link.sent.clear();
  Send(BitmapFile{bars});
  EXPECT_EQ(link.DataOf(115), std::vector<std::string>{"0,00FF"});
  EXPECT_EQ(prompter.waitDepth, 0);
}

TEST_F(LoadLogo, RowLengthFollowsTheDevicesWidth) {
  const Picture picture = Picture::Pattern(100, 4);
  struct Case {
    const char *reply;
    size_t hexDigits;
  };
  for (const Case &c : {Case{"104,96", 26}, Case{"800,96", 26}, Case{"96,96", 24}, Case{"103,96", 24}}) {
    link.sent.clear();
    limitsReply = c.reply;
    Send(BitmapFile{picture});
    const auto rows = link.DataOf(115);
    ASSERT_EQ(rows.size(), 4u) << c.reply;
    EXPECT_EQ(rows[0].size(), 2 + c.hexDigits) << c.reply;
    ExpectCropOf(picture, SentPicture(link, static_cast<int>(c.hexDigits * 4)), static_cast<int>(c.hexDigits * 4) > 100 ? 100 : static_cast<int>(c.hexDigits * 4), 4);
  }
  // A wider picture is cut to the left 384 dots; 385 dots round down to the same 48 bytes.
  const Picture wide = Picture::Pattern(400, 2);
  for (const char *reply : {"384,96", "385,96"}) {
    link.sent.clear();
    limitsReply = reply;
    Send(BitmapFile{wide});
    EXPECT_EQ(link.DataOf(115)[0].size(), 2u + 96) << reply;
    ExpectCropOf(wide, SentPicture(link, 384), 384, 2);
  }
  EXPECT_EQ(limits.maxRowBytes, 48);
}

// The dots after the picture's right edge are no part of it; under a black colour 0 they would
// otherwise print as a black stripe.
TEST_F(LoadLogo, DotsPastTheRightEdgeAreSentBlank) {
  BitmapFile file{Picture{100, 1, {std::vector<uint8_t>(13, 0)}}};
  file.padding = 0x00;
  Send(file);
  EXPECT_EQ(link.DataOf(115), std::vector<std::string>{"0," + std::string(26, '0')});
  link.sent.clear();
  file.colour0White = true;
  file.padding = 0xFF;
  Send(file);
  EXPECT_EQ(link.DataOf(115), std::vector<std::string>{"0," + std::string(26, '0')});
}

TEST_F(LoadLogo, TopDownAndBottomUpSendTheSameRows) {
  const Picture picture = Picture::Pattern(40, 7);
  BitmapFile file{picture};
  Send(file);
  const auto bottomUp = link.DataOf(115);
  link.sent.clear();
  file.topDown = true;
  Send(file);
  EXPECT_EQ(link.DataOf(115), bottomUp);
  ExpectCropOf(picture, SentPicture(link, 40), 40, 7);
}

TEST_F(LoadLogo, ATallerPictureSendsItsTopRows) {
  const Picture picture = Picture::Pattern(32, 120);
  EXPECT_EQ(Send(BitmapFile{picture}), kResultOk);
  ExpectCropOf(picture, SentPicture(link, 32), 32, 96);
}

TEST_F(LoadLogo, ZeroBitsPerPixelPassesTheFormatTest) {
  BitmapFile file{Picture::Pattern(8, 2)};
  file.bitsPerPixel = 0;
  EXPECT_EQ(Send(file), kResultOk);
  EXPECT_EQ(link.DataOf(115).size(), 2u);
}

TEST_F(LoadLogo, LimitsReplyWithoutACommaKeepsTheEarlierRows) {
  limitsReply = "384";
  EXPECT_EQ(Send(BitmapFile{Picture::Pattern(16, 2)}), -1) << "no rows known yet: nothing to send";
  EXPECT_TRUE(link.DataOf(115).empty());
  EXPECT_TRUE(prompter.messages.empty());

  limitsReply = "384,1";
  EXPECT_EQ(Send(BitmapFile{Picture::Pattern(16, 2)}), kResultOk);
  limitsReply = "200";
  link.sent.clear();
  EXPECT_EQ(Send(BitmapFile{Picture::Pattern(16, 2)}), kResultOk);
  EXPECT_EQ(link.DataOf(115).size(), 1u) << "the one row the device said before";
  EXPECT_EQ(limits.maxRowBytes, 25);
}

TEST_F(LoadLogo, BrokenFilesAreRefusedBeforeAnythingIsSent) {
  const Picture picture = Picture::Pattern(16, 4);
  std::vector<std::pair<std::string, BitmapFile>> cases;
  const auto add = [&](const char *name, auto change) {
    BitmapFile file{picture};
    change(file);
    cases.emplace_back(name, file);
  };
  add("four bits a dot", [](BitmapFile &f) { f.bitsPerPixel = 4; });
  add("compressed", [](BitmapFile &f) { f.compression = 1; });
  add("truncated in the last row", [](BitmapFile &f) { f.cutTo = 62 + 3 * 4 + 1; });
  add("truncated in the headers", [](BitmapFile &f) { f.cutTo = 30; });
  add("no colour table", [](BitmapFile &f) { f.cutTo = 56; });
  add("negative width", [](BitmapFile &f) { f.width = -16; });
  add("zero width", [](BitmapFile &f) { f.width = 0; });
  add("zero height", [](BitmapFile &f) { f.height = 0; });
  add("huge width", [](BitmapFile &f) { f.width = INT32_MAX; });
  add("huge height", [](BitmapFile &f) { f.height = INT32_MAX; });
  add("huge top-down height", [](BitmapFile &f) { f.height = INT32_MIN; });
  add("pixel data past the end", [](BitmapFile &f) { f.pixelOffset = 0xFFFFFFF0u; });
  add("information header past the end", [](BitmapFile &f) { f.infoSize = 0x7FFFFFFF; });
  add("old small information header", [](BitmapFile &f) { f.infoSize = 12; });
  for (const auto &[name, file] : cases) {
    link.sent.clear();
    prompter.messages.clear();
    EXPECT_EQ(Send(file), -1) << name;
    EXPECT_TRUE(link.sent.empty()) << name;
    EXPECT_EQ(prompter.messages, std::vector<std::string>{kInvalid}) << name;
    EXPECT_EQ(prompter.waitDepth, 0) << name;
  }

  prompter.messages.clear();
  const std::string missing = folder.Path("no such.bmp");
  EXPECT_EQ(Send(missing), -1);
  EXPECT_EQ(prompter.messages, std::vector<std::string>{"Can't open file " + missing + "!!!"});
  prompter.messages.clear();
  EXPECT_EQ(Send(folder.Path("")), -1) << "a folder is no file";
  EXPECT_EQ(prompter.messages.size(), 1u);
  EXPECT_TRUE(link.sent.empty());
}

TEST_F(LoadLogo, FailuresKeepTheDialogOpenAndSentRowsStaySent) {
  const BitmapFile file{Picture::Pattern(16, 5)};
  limitsFail = true;
  EXPECT_EQ(Send(file), -1);
  EXPECT_TRUE(link.DataOf(115).empty());
  EXPECT_TRUE(prompter.messages.empty());

  limitsFail = false;
  failRow = 2;
  link.sent.clear();
  EXPECT_EQ(Send(file), -1);
  EXPECT_EQ(link.DataOf(115).size(), 3u);
  EXPECT_TRUE(prompter.messages.empty());
  EXPECT_FALSE(prompter.inProgress) << "the progress window is taken down";
  EXPECT_EQ(prompter.waitDepth, 0);

  link.sent.clear();
  EXPECT_EQ(Send(""), kResultCancel) << "no file: as Cancel";
  EXPECT_TRUE(link.sent.empty());
}

TEST_F(LoadLogo, ProgressCountsTheRowsAndStopEndsBetweenThem) {
  const BitmapFile file{Picture::Pattern(16, 5)};
  Send(file);
  EXPECT_EQ(prompter.progressSteps, 5);
  EXPECT_EQ(prompter.progressStep, 5);
  EXPECT_EQ(prompter.progress.back(), "Row 5 of 5");

  link.sent.clear();
  link.device = [this](uint16_t code, const std::string &data) -> RecordingLink::Answer {
    if (code == 115 && data.rfind("1,", 0) == 0) prompter.stop = true;
    return {0, code == 128 ? "384,96" : ""};
  };
  EXPECT_EQ(Send(file), -1);
  EXPECT_EQ(link.DataOf(115).size(), 2u);
  EXPECT_EQ(note, "Stopped after 2 of 5 rows; the rows sent stay in the device.");
  EXPECT_FALSE(prompter.inProgress);
}

// A row always fits one frame of the link and the tool's row buffer, whatever width the device
// claims.
TEST_F(LoadLogo, RowsBeyondOneFrameAreCroppedAndSaidSo) {
  limitsReply = "16000,96";
  const Picture picture = Picture::Pattern(2000, 3);
  EXPECT_EQ(Send(BitmapFile{picture}), kResultOk);
  for (const std::string &row : link.DataOf(115)) EXPECT_LE(row.size(), 219u);
  const size_t bytes = (link.DataOf(115)[0].size() - 2) / 2;
  EXPECT_EQ(bytes, 108u);
  ExpectCropOf(picture, SentPicture(link, 864), 864, 3);
  // The preview says so.
  CLoadLogo dlg(link, limits);
  tillwright::testing::RunOn(dlg, prompter, [&](FakeView &v, tillwright::ui::Dialog &) {
    dlg.ChooseFile(folder.Path("logo.bmp"));
    EXPECT_EQ(v.Text(CLoadLogo::kNote), "Sent: 864 x 3 dots, cropped to the widest row one request carries.");
    EXPECT_EQ(v.Known().at(CLoadLogo::kPreview).imageWidth, 864);
  });
  EXPECT_EQ(tillwright::MaxLogoRowBytes(1000), 107u);
  EXPECT_EQ(tillwright::MaxLogoRowBytes(10001), 106u);
  EXPECT_EQ(tillwright::MaxLogoRowBytes(0), 108u);
}

TEST_F(LoadLogo, BrowseFiltersBitmapsAndPreviewsWhatTheDeviceReceives) {
  const Picture picture = Picture::Pattern(400, 120);
  prompter.files = {folder.Write("wide.bmp", BitmapFile{picture}.Bytes())};
  FakeView view;
  CLoadLogo dlg(link, limits);
  dlg.Attach(view, prompter);
  dlg.OnInitDialog();
  EXPECT_TRUE(link.sent.empty()) << "nothing is asked before a file is chosen";
  view.Click(dlg, CLoadLogo::kBrowseButton);
  EXPECT_EQ(view.Text(CLoadLogo::kFileField), folder.Path("wide.bmp"));
  EXPECT_EQ(link.DataOf(128).size(), 1u) << "the limits were not known yet";
  const auto &shown = view.Known().at(CLoadLogo::kPreview);
  ASSERT_EQ(shown.imageWidth, 384);
  ASSERT_EQ(shown.imageHeight, 96);
  Picture preview{384, 96, {}};
  for (size_t y = 0; y < 96; ++y) preview.rows.emplace_back(shown.image.begin() + static_cast<long>(y * 48), shown.image.begin() + static_cast<long>((y + 1) * 48));
  ExpectCropOf(picture, preview, 384, 96);
  EXPECT_EQ(view.Text(CLoadLogo::kNote),
            "Sent: 384 x 96 dots, cropped from 400 x 120 to the device's largest logo.");

  // Known limits are not asked again; a file that is no bitmap clears the preview.
  prompter.files = {folder.Write("text.bmp", "not a bitmap at all, but long enough to hold the headers of one...")};
  view.Click(dlg, CLoadLogo::kBrowseButton);
  EXPECT_EQ(link.DataOf(128).size(), 1u);
  EXPECT_EQ(view.Known().at(CLoadLogo::kPreview).imageWidth, 0);
  EXPECT_EQ(view.Text(CLoadLogo::kNote), "Not a monochrome bitmap without compression.");
  EXPECT_TRUE(prompter.messages.empty()) << "the preview shows no message boxes";

  // A cancelled box changes nothing.
  view.Click(dlg, CLoadLogo::kBrowseButton);
  EXPECT_EQ(view.Text(CLoadLogo::kFileField), folder.Path("text.bmp"));
  view.Close();
  dlg.OnDestroy();
  tooltest::ExpectDeclaredControls(view, dlg);
  dlg.Detach();
  EXPECT_EQ(std::string(CLoadLogo::kFilter), "Bitmap files (*.bmp)|*.bmp|All files (*.*)|*.*");
}

TEST_F(LoadLogo, PrintSwitchesSendAtOnce) {
  CLoadLogo dlg(link, limits);
  tillwright::testing::RunOn(dlg, prompter, [](FakeView &v, tillwright::ui::Dialog &d) {
    v.MakeCheckBox(CLoadLogo::kDisableBox);
    v.Click(d, CLoadLogo::kPrintDisable);
    v.Click(d, CLoadLogo::kPrintEnable);
    v.Click(d, CLoadLogo::kDisableBox);
    v.Click(d, CLoadLogo::kDisableBox);
    v.Click(d, tillwright::ui::kIdCancel);
  });
  EXPECT_EQ(link.DataOf(43), (std::vector<std::string>{"L0", "L1", "L0", "L1"}));
  EXPECT_EQ(link.sent.size(), 4u);
}

// Pictures made by a real image tool, when it is installed.
TEST_F(LoadLogo, BitmapsWrittenByImageMagick) {
  if (const std::string why = tooltest::ConvertUnavailable(); !why.empty()) GTEST_SKIP() << why;
  const std::string file = folder.Path("drawn.bmp");
  ASSERT_TRUE(tooltest::Convert("-size 100x20 xc:white -fill black -draw \"rectangle 10,5 30,15\" "
                                "-draw \"line 0,0 99,19\" -monochrome BMP3:" + file));
  const auto source = tooltest::PixelsOf(file, 100, 20);
  ASSERT_TRUE(source);
  limitsReply = "104,96";
  EXPECT_EQ(Send(file), kResultOk);
  const auto rows = link.DataOf(115);
  ASSERT_EQ(rows.size(), 20u);
  EXPECT_EQ(rows[0].size(), 2u + 26);
  ExpectCropOf(*source, SentPicture(link, 104), 100, 20);
  // The four dots past the edge of every row are blank.
  for (const std::string &row : rows) EXPECT_EQ(std::stoi(row.substr(row.size() - 1), nullptr, 16) & 0xF, 0) << row;
}

}  // namespace
