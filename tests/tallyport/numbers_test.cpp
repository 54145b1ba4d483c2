// Numbers that the templates cannot print as the device reads them (NaN, infinities, values
// beyond the fields' digits) are refused before anything is sent; the others go out as ever.
#include <cmath>
#include <functional>
#include <limits>

#include "test_support.h"

namespace tallyport::testing {
namespace {

// One double argument of an export, the others fixed; `data` is what 2.5 in that place sends.
struct NumberCase {
  const char *name;
  std::function<int32_t(double)> call;
  std::string data;
};

std::vector<NumberCase> Cases() {
  static TextOut out;
  static int16_t answer;
  static double amount;
  return {
      {"Sale price", [](double v) { return Sale("Milk", "A", v, 1, 0); }, "Milk\tA2.50*1.000,0.00"},
      {"Sale quantity", [](double v) { return Sale("Milk", "A", 1, v, 0); }, "Milk\tA1.00*2.500,0.00"},
      {"Sale percent", [](double v) { return Sale("Milk", "A", 1, 1, v); }, "Milk\tA1.00*1.000,2.50"},
      {"SaleAndDisplay price", [](double v) { return SaleAndDisplay("Milk", "A", v, 1, 0); }, "Milk\tA2.50*1.000,0.00"},
      {"SaleAndDisplay quantity", [](double v) { return SaleAndDisplay("Milk", "A", 1, v, 0); },
       "Milk\tA1.00*2.500,0.00"},
      {"SaleAndDisplay percent", [](double v) { return SaleAndDisplay("Milk", "A", 1, 1, v); },
       "Milk\tA1.00*1.000,2.50"},
      {"SalePlu quantity", [](double v) { return SalePlu(15, v, 0, 0); }, "15*2.500"},
      {"SalePlu percent", [](double v) { return SalePlu(15, 0, v, 0); }, "15,02.50"},
      {"SalePlu price", [](double v) { return SalePlu(15, 0, 0, v); }, "15@2.50"},
      {"SaleDept quantity", [](double v) { return SaleDept(3, v, 0, 0); }, "3*2.500"},
      {"SaleDept percent", [](double v) { return SaleDept(3, 0, v, 0); }, "3,02.50"},
      {"SaleDept price", [](double v) { return SaleDept(3, 0, 0, v); }, "3@2.50"},
      {"SubTotal percent", [](double v) { return SubTotal(1, 0, v, out.bytes); }, "10,02.50"},
      {"Total amount", [](double v) { return Total("", "", v, &answer, &amount); }, "\tP02.50"},
      {"ServiceInputOutput amount", [](double v) { return ServiceInputOutput(v, out.bytes); }, "02.50"},
      {"SetPluData price", [](double v) { return SetPluData(15, "B", v, "Apple", "", out.bytes); },
       "PB15,02.50,Apple"},
      {"SetPluDataEx price",
       [](double v) { return SetPluDataEx(15, "B", v, "Apple", "", 1, 1, 2, 3, 1, 4, out.bytes); },
       "PB15,02.50,Apple\n,1,1,1.000,2,3,4"},
      {"SetPluDataEx quantity",
       [](double v) { return SetPluDataEx(15, "B", 1, "Apple", "", 1, v, 2, 3, 1, 4, out.bytes); },
       "PB15,01.00,Apple\n,1,1,2.500,2,3,4"},
      {"SetPluDataEx whole quantity",
       [](double v) { return SetPluDataEx(15, "B", 1, "Apple", "", 1, v, 2, 3, 0, 4, out.bytes); },
       "PB15,01.00,Apple\n,1,0,2,2,3,4"},
      {"SetDeptData price", [](double v) { return SetDeptData(3, "A", "Fruit", v, 1, 2, 3, 4, out.bytes); },
       "P3,Fruit\nA,02.50,1,2,3,4"},
      {"SetVatAccount amount", [](double v) { return SetVatAccount(v, ""); }, "P2.50"},
      {"SetTaxRates rate 1", [](double v) { return SetTaxRates(v, 0, 0, 0, &answer); }, "02.50,00.00,00.00,00.00"},
      {"SetTaxRates rate 4", [](double v) { return SetTaxRates(0, 0, 0, v, &answer); }, "00.00,00.00,00.00,02.50"},
  };
}

class NumbersTest : public SimulatorTest {};

TEST_F(NumbersTest, NonFiniteAndHugeNumbersGive10006AndSendNothing) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const double bad[] = {std::nan(""), -std::nan(""), kInf, -kInf, 1e12, -1e12, 1e300};
  for (const NumberCase &c : Cases()) {
    for (const double v : bad) EXPECT_EQ(c.call(v), TALLYPORT_BAD_PARAMETER) << c.name << " " << v;
    EXPECT_TRUE(Frames().empty()) << c.name;
    EXPECT_EQ(c.call(2.5), 0) << c.name;
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 1u) << c.name;
    EXPECT_EQ(frames[0].data, c.data) << c.name;
  }
}

// The edges of each kind: amounts as 32-bit counts of cents, quantities of thousandths, and
// percentages of at most three whole digits.
TEST_F(NumbersTest, TheLargestValueOfEachKindGoesOutAndOneStepBeyondIsRefused) {
  EXPECT_EQ(Sale("Milk", "A", 21474836.47, 2147483.647, -999.99), 0);
  EXPECT_EQ(SalePlu(15, -2147483.647, 999.99, -21474836.47), 0);
  int16_t answer = 0;
  double amount = 0;
  EXPECT_EQ(Total("", "", 21474836.47, &answer, &amount), 0);
  auto frames = Frames();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].data, "Milk\tA21474836.47*2147483.647,-999.99");
  EXPECT_EQ(frames[1].data, "15*-2147483.647,999.99@-21474836.47");
  EXPECT_EQ(frames[2].data, "\tP21474836.47");

  EXPECT_EQ(Sale("Milk", "A", 21474836.48, 1, 0), TALLYPORT_BAD_PARAMETER);
  EXPECT_EQ(Sale("Milk", "A", 1, -2147483.648, 0), TALLYPORT_BAD_PARAMETER);
  EXPECT_EQ(Sale("Milk", "A", 1, 1, 1000), TALLYPORT_BAD_PARAMETER);
  EXPECT_EQ(SetTaxRates(20, 9, 0, -1000, &answer), TALLYPORT_BAD_PARAMETER);
  EXPECT_EQ(Total("", "", -21474836.48, &answer, &amount), TALLYPORT_BAD_PARAMETER);
  EXPECT_TRUE(Frames().empty());
}

TEST(NumbersWithoutConnection, StillGive10002) {
  Disconnect();
  EXPECT_EQ(Sale("Milk", "A", std::nan(""), 1, 0), TALLYPORT_NOT_CONNECTED);
  EXPECT_EQ(SetTaxRates(std::nan(""), 0, 0, 0, nullptr), TALLYPORT_NOT_CONNECTED);
}

}  // namespace
}  // namespace tallyport::testing
