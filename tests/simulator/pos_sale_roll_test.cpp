// examples/pos_sale against the fiscal-sim program with its paper roll, as a point-of-sale
// developer runs them; then the roll's page drawn by headless Chromium, whose picture the README
// shows (scripts/roll-picture copies it into the tree).
#include <stdlib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "program_posix.h"
#include "stored_png.h"
#include "wait_for.h"

namespace {

using fiscal_test::Program;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kChromium[] = "/usr/bin/chromium";

class PosSaleRoll : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pos-sale-roll-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ::setenv("FISCAL_COM_DIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("FISCAL_COM_DIR");
    fs::remove_all(dir_);
  }

  fs::path dir_;
};

bool Holds(const std::string &text, const std::string &line) { return text.find(line + '\n') != std::string::npos; }

TEST_F(PosSaleRoll, TheSaleAndTheDayReportArePrintedAndThePageIsDrawn) {
  ASSERT_TRUE(fs::exists(kChromium)) << kChromium << " is missing: the roll's page cannot be drawn. "
                                     << "scripts/install-deps installs the package chromium.";
  const fs::path page = dir_ / "roll.html";
  const fs::path text = dir_ / "roll.txt";
  // The logo picture written on the way out replaces a link planted under its name.
  const fs::path logo = dir_ / "logo.png";
  std::ofstream(dir_ / "elsewhere") << "kept";
  fs::create_symlink(dir_ / "elsewhere", logo);
  // A shop's header and advertisement lines, as a state file that names only them.
  const fs::path state = dir_ / "shop.json";
  std::ofstream(state) << R"({"format": "fiscal-sim-state", "version": 1, "headerLines": ["SIMULATED SHOP LTD",)"
                          R"( "1 EXAMPLE STREET", "SOFIA 1000", "", "", "", "", "", "THANK YOU FOR YOUR VISIT", ""]})";
  Program sim({FISCAL_SIM_PATH, "--com", "COM7", "--state", state.string(), "--paper", page.string(), "--paper",
               text.string(), "--print-roll", "--logo-png", logo.string()},
              dir_ / "sim.out");
  ASSERT_TRUE(sim.Started());
  // fiscal-sim says so once it serves, after the line about the state it loaded.
  const std::string serving = "fiscal-sim: COM7 -> ";
  ASSERT_TRUE(fiscal_test::WaitFor([&] {
    const std::string out = fiscal_test::ReadFile(dir_ / "sim.out");
    const size_t at = out.find(serving);
    return at != std::string::npos && out.find('\n', at) != std::string::npos;
  })) << "fiscal-sim did not start";

  Program sale({POS_SALE_PATH, "COM7"}, dir_ / "pos_sale.out");
  EXPECT_EQ(sale.Wait(60s), 0) << fiscal_test::ReadFile(dir_ / "pos_sale.out");
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(fiscal_test::kPatience), 0) << fiscal_test::ReadFile(dir_ / "sim.out");

  EXPECT_EQ(fiscal_test::ReadFile(dir_ / "elsewhere"), "kept");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(logo)));
  EXPECT_EQ(fs::status(logo).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(fiscal_test::ReadFile(logo).substr(0, 4), "\x89PNG");

  const std::string roll = fiscal_test::ReadFile(text);
  for (const char *line :
       {"Printed by fiscal-sim: the layout is the simulator's own, not any device's.",
        "               SIMULATED SHOP LTD", "            THANK YOU FOR YOUR VISIT", "Bread",
        "  2.000 x 1.20                            2.40 B", "Milk", "  1.000 x 2.50                            2.50 A",
        "TOTAL EUR                                   4.90", "CASH                                       10.00",
        "CHANGE                                      5.10", "RECEIPT 1   FISCAL RECEIPT 1",
        "       *** FISCAL RECEIPT - SIMULATED ***", "                 Z REPORT 0001",
        "GROUP A   20.00%                            2.50", "GROUP B    9.00%                            2.40"}) {
    EXPECT_TRUE(Holds(roll, line)) << "missing: " << line << "\n" << roll;
  }
  // --print-roll gave the same roll on the way out.
  const std::string out = fiscal_test::ReadFile(dir_ / "sim.out");
  EXPECT_EQ(out.substr(out.find('\n', out.find(serving)) + 1), roll);

  const fs::path picture = POS_SALE_ROLL_PICTURE;
  fs::remove(picture);
  fs::create_directory(dir_ / "profile");
  Program chromium({kChromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                    "--disable-background-networking", "--disable-component-update", "--disable-sync",
                    "--user-data-dir=" + (dir_ / "profile").string(), "--screenshot=" + picture.string(),
                    "--window-size=600,1400", "file://" + page.string()},
                   dir_ / "chromium.out");
  ASSERT_TRUE(chromium.Started());
  EXPECT_EQ(chromium.Wait(120s), 0) << fiscal_test::ReadFile(dir_ / "chromium.out");
  const std::string png = fiscal_test::ReadFile(picture);
  ASSERT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n") << picture << ": no PNG\n"
                                                   << fiscal_test::ReadFile(dir_ / "chromium.out");
  EXPECT_EQ(fiscal_test::Big(png, 16), 600u);

  // Grey page, white strips, black text: a blank or single-colour picture has no spread.
  Program convert({"/usr/bin/convert", picture.string(), "-format", "%[fx:standard_deviation]", "info:"},
                  dir_ / "spread.out");
  ASSERT_TRUE(convert.Started()) << "ImageMagick's convert is missing";
  ASSERT_EQ(convert.Wait(60s), 0) << fiscal_test::ReadFile(dir_ / "spread.out");
  EXPECT_GT(std::stod(fiscal_test::ReadFile(dir_ / "spread.out")), 0.05);
}

}  // namespace
