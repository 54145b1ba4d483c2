// The programming dialogs through the real serial link engine against the simulator on COM7:
// the bytes on the wire come from the simulator's journal, the results from its state.
#include <gtest/gtest.h>

#include "core/send_command.h"
#include "logic_test_support.h"
#include "programming/dev_code_tbl.h"
#include "bitmap_files.h"
#include "fiscalsim/logo_image.h"
#include "programming/klen_print_dlg.h"
#include "programming/load_logo.h"
#include "programming/set_tax_rates.h"
#include "seriallink/link.h"
#include "sim_fixture.h"

namespace {

using tillwright::ui::Dialog;
using tillwright::ui::kIdOk;
using tooltest::FakeView;

class ProgrammingOnSimulator : public tooltest::SimOnCom7 {
 protected:
  void SetUp() override {
    SimOnCom7::SetUp();
    ASSERT_EQ(link.SerialConnect("COM7", 115200, 8, 0, 0), 0);
  }
  // The data of every frame the simulator received with `code`.
  std::vector<std::string> Received(uint8_t code) {
    std::vector<std::string> out;
    for (const auto &frame : Sim().ReceivedFrames().Entries())
      if (frame.cmd == code) out.push_back(frame.data);
    return out;
  }

  tillwright::RealLink link;
  tooltest::ScriptedPrompter prompter;
};

TEST_F(ProgrammingOnSimulator, TaxRatesWrittenAndReadBack) {
  tillwright::CSetTaxRates dlg(link);
  tillwright::testing::RunOn(dlg, prompter, [](FakeView &v, Dialog &d) {
    EXPECT_EQ(v.Text(tillwright::CSetTaxRates::RateField(0)), "20");
    EXPECT_TRUE(v.Checked(tillwright::CSetTaxRates::UndefinedBox(3)));
    v.SetText(tillwright::CSetTaxRates::RateField(1), "9.5");
    v.SetChecked(tillwright::CSetTaxRates::UndefinedBox(3), false);
    v.SetText(tillwright::CSetTaxRates::RateField(3), "5");
    v.SetChecked(tillwright::CSetTaxRates::UndefinedBox(2), true);
    v.Click(d, kIdOk);
  });
  EXPECT_EQ(Received(96), std::vector<std::string>{"20.00,9.50,-1.00,5.00,-1.00"});
  Sim().WithModel([](fiscalsim::DeviceModel &m) {
    const auto &rates = m.State().taxRates;
    EXPECT_EQ(rates[0], 2000);
    EXPECT_EQ(rates[1], 950);
    EXPECT_FALSE(rates[2].has_value());
    EXPECT_EQ(rates[3], 500);
    EXPECT_FALSE(rates[4].has_value());
  });

  tillwright::CSetTaxRates again(link);
  tillwright::testing::RunOn(again, prompter, [](FakeView &v, Dialog &) {
    EXPECT_EQ(v.Text(tillwright::CSetTaxRates::RateField(1)), "9.5");
    EXPECT_TRUE(v.Checked(tillwright::CSetTaxRates::UndefinedBox(2)));
    EXPECT_FALSE(v.Checked(tillwright::CSetTaxRates::UndefinedBox(3)));
  });
}

TEST_F(ProgrammingOnSimulator, JournalPrintsAndCardActivation) {
  using tillwright::KlenPrintDlg;
  Sim().WithModel([](fiscalsim::DeviceModel &m) { m.State().zReports = 12; });
  KlenPrintDlg dlg(link, {2014, 3, 1, 8, 0, 0});
  tillwright::testing::RunOn(dlg, prompter, [](FakeView &v, Dialog &d) {
    v.Click(d, kIdOk);
    v.SetText(KlenPrintDlg::kZReportField, "13");  // not made yet: the device refuses
    v.Click(d, kIdOk);
    v.Choose(d, KlenPrintDlg::kOperationCombo, KlenPrintDlg::kPeriod);
    v.SetText(KlenPrintDlg::kZReportField, "12");
    v.SetText(KlenPrintDlg::kEndDatePicker, "2014-03-31");
    v.SetText(KlenPrintDlg::kEndTimePicker, "18:30:00");
    v.Click(d, kIdOk);
    v.Click(d, KlenPrintDlg::kActivateButton);
    EXPECT_FALSE(v.Result().has_value());
  });
  EXPECT_EQ(prompter.messages, (std::vector<std::string>{"Operation error !!!", "Activation ready"}));
  EXPECT_EQ(Received(201), (std::vector<std::string>{"2,0,0", "2,13,0"}));
  Sim().WithModel([](fiscalsim::DeviceModel &m) {
    EXPECT_EQ(m.State().journalPrints,
              (std::vector<std::string>{"2,0,0", "194,12,01-03-14 08:00,31-03-14 18:30"}));
    EXPECT_EQ(m.State().journalCardActivations, 1u);
  });
}

TEST_F(ProgrammingOnSimulator, CodeTableForTheDosCodePage) {
  tillwright::CDevCodeTbl dlg(link);
  tillwright::testing::RunOn(dlg, prompter, [](FakeView &v, Dialog &d) {
    v.SetSelection(tillwright::CDevCodeTbl::kCodePageCombo, tillwright::CDevCodeTbl::kDos);
    v.Click(d, kIdOk);
  });
  EXPECT_EQ(Received(164).size(), 4u);
  Sim().WithModel([](fiscalsim::DeviceModel &m) {
    const auto &table = m.State().codeTable;
    for (unsigned code = 0x80; code <= 0xFF; ++code)
      EXPECT_EQ(table[code - 0x80], code < 0xC0 ? code + 0x40 : 0x20u) << std::hex << code;
  });
  EXPECT_TRUE(prompter.messages.empty());
}

// A picture drawn by a real image tool goes to the device cropped to its largest logo, and the
// device's logo shows exactly the picture's top-left 384 x 96 dots.
TEST_F(ProgrammingOnSimulator, LogoFromImageMagickArrivesAsItsCroppedPixels) {
  if (const std::string why = tooltest::ConvertUnavailable(); !why.empty()) GTEST_SKIP() << why;
  tooltest::TempFolder folder;
  const std::string file = folder.Path("logo.bmp");
  ASSERT_TRUE(tooltest::Convert("-size 400x120 xc:white -fill black -draw \"circle 200,60 200,10\" "
                                "-draw \"rectangle 0,0 399,3\" -draw \"line 0,119 399,0\" -monochrome BMP3:" + file));
  const auto source = tooltest::PixelsOf(file, 384, 96);
  ASSERT_TRUE(source);

  tillwright::LogoLimits limits;
  tillwright::CLoadLogo dlg(link, limits);
  prompter.files = {file};
  const int result = tillwright::testing::RunOn(dlg, prompter, [](FakeView &v, Dialog &d) {
    v.Click(d, tillwright::CLoadLogo::kBrowseButton);
    EXPECT_EQ(v.Known().at(tillwright::CLoadLogo::kPreview).imageWidth, 384);
    v.Click(d, kIdOk);
  });
  EXPECT_EQ(result, tillwright::ui::kResultOk);
  EXPECT_EQ(Received(115).size(), 96u);

  const auto image = Sim().WithModel([](fiscalsim::DeviceModel &m) { return fiscalsim::RenderLogo(m.State()); });
  ASSERT_EQ(image.width, 384);
  ASSERT_EQ(image.height, 96);
  for (int y = 0; y < 96; ++y) EXPECT_EQ(image.rows[static_cast<size_t>(y)], source->rows[static_cast<size_t>(y)]) << y;

  // The simulator's picture of it, read back by the same tool.
  const std::string png = folder.Write("device.png", fiscalsim::LogoPng(image));
  const auto shown = tooltest::PixelsOf(png, 384, 96);
  ASSERT_TRUE(shown);
  EXPECT_EQ(shown->rows, source->rows);
}

}  // namespace
