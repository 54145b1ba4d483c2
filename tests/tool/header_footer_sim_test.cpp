// Header lines written and read back through the real serial link and the simulator.
#include <gtest/gtest.h>

#include "core/code_page.h"
#include "core/send_command.h"
#include "logic_test_support.h"
#include "programming/set_header_footer.h"
#include "seriallink/link.h"
#include "sim_fixture.h"

namespace {

using tillwright::CSetheaderFooter;

using HeaderFooterOnSimulator = tooltest::SimOnCom7;

TEST_F(HeaderFooterOnSimulator, WrittenLinesReadBack) {
  tillwright::SetWidgetCodePage(1251);
  tillwright::RealLink link;
  ASSERT_EQ(link.SerialConnect("COM7", 115200, 8, 0, 0), 0);
  tooltest::ScriptedPrompter prompter;
  {
    CSetheaderFooter dlg(link);
    const int result = tillwright::testing::RunOn(dlg, prompter, [](tooltest::FakeView &v, tillwright::ui::Dialog &d) {
      v.SetText(1033, "DEMO TRADING LTD");
      v.SetText(1037, "гр. София");
      v.Click(d, tillwright::ui::kIdOk);
    });
    EXPECT_EQ(result, tillwright::ui::kResultOk);
  }
  CSetheaderFooter again(link);
  tillwright::testing::RunOn(again, prompter, [](tooltest::FakeView &v, tillwright::ui::Dialog &) {
    EXPECT_EQ(v.Text(1033), "DEMO TRADING LTD");
    EXPECT_EQ(v.Text(1037), "гр. София");
  });
  Sim().WithModel([](fiscalsim::DeviceModel &m) {
    EXPECT_EQ(m.State().headerLines[4], "\xE3\xF0. \xD1\xEE\xF4\xE8\xFF");
  });
}

}  // namespace
