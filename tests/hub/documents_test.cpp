#include "documents.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "command.h"
#include "device_port.h"
#include "fiscalsim/simulator.h"
#include "seriallink/settings.h"
#include "sim_link.h"
#include "tallyport.h"

namespace hub {
namespace {

using nlohmann::json;

// The steps as [[op, [args...]], ...], for comparing with a table's expectation.
json StepsJson(const Document &document) {
  json steps = json::array();
  for (const Step &step : document.steps) steps.push_back({step.op, step.args});
  return steps;
}

struct GoodCase {
  DocumentKind kind;
  const char *body;
  const char *steps;  // [[op, [args...]], ...]; texts as byte strings
  const char *key = "";
  int codePage = 1251;
  bool onDevice = true;  // false where the device's own limits refuse what the library takes
};

// "Хляб" is D5 EB FF E1 in 1251; "Čaj" starts with C8 in 1250. Article 12 is programmed at 0.80
// when the documents run on the device.
std::vector<GoodCase> GoodCases() {
  return {
      {DocumentKind::Receipt,
       R"({"key": "r-1", "operator": {"number": 1, "password": "0000", "till": 1},
           "items": [{"text": "Хляб", "taxGroup": "B", "price": 1.20, "quantity": 2, "discount": 5},
                     {"plu": 12, "quantity": 1}, {"department": 3, "price": 2.50}],
           "texts": ["Thank you"], "payments": [{"type": "P", "amount": 10.00}]})",
       R"([["BeginFiscalBon", [1, "0000", 1, ""]], ["Sale", ["\u00d5\u00eb\u00ff\u00e1", "B", 1.2, 2, -5]],
           ["SalePlu", [12, 1, 0, 0]], ["SaleDept", [3, 1, 0, 2.5]], ["PrintFiscalText", ["Thank you"]],
           ["Total", ["", "P", 10]], ["EndFiscalBon", []]])",
       "r-1"},
      // No payments: the rest in cash. A discount of -10 is a surcharge; 0.1 + 0.2 is 0.30.
      {DocumentKind::Receipt,
       R"({"operator": {"number": 30, "password": "x", "till": 99999}, "payments": [],
           "items": [{"text": "a", "taxGroup": "E", "price": 0.30000000000000004, "discount": -10},
                     {"plu": 0, "price": 3, "discount": 0}]})",
       R"([["BeginFiscalBon", [30, "x", 99999, ""]], ["Sale", ["a", "E", 0.30000000000000004, 1, 10]],
           ["SalePlu", [0, 1, 0, 3]], ["Total", ["", "", 0]], ["EndFiscalBon", []]])"},
      // The largest of each number, and a text of a full line.
      {DocumentKind::Receipt,
       R"({"operator": {"number": 2, "password": "1", "till": 3},
           "items": [{"text": "ЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯ", "taxGroup": "A",
                      "price": 21474836.47, "quantity": 2147483.647, "discount": -999.99},
                     {"department": 99, "quantity": 0.001, "discount": 100}],
           "payments": [{"type": "C", "amount": 0.01}, {"type": "Z", "amount": 21474836.47}]})",
       R"([["BeginFiscalBon", [2, "1", 3, ""]],
           ["Sale", ["\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df\u00df",
                     "A", 21474836.47, 2147483.647, 999.99]],
           ["SaleDept", [99, 0.001, -100, 0]], ["Total", ["", "C", 0.01]], ["Total", ["", "Z", 21474836.47]],
           ["EndFiscalBon", []]])",
       "", 1251, false},
      {DocumentKind::NonFiscal, R"({"key": "n", "lines": ["Хляб", "", "x"]})",
       R"([["BeginNonFiscalBon", []], ["PrintNonFiscalText", ["\u00d5\u00eb\u00ff\u00e1"]],
           ["PrintNonFiscalText", [""]], ["PrintNonFiscalText", ["x"]], ["EndNonFiscalBon", []]])",
       "n"},
      {DocumentKind::NonFiscal, R"({"lines": ["Čaj"]})",
       R"([["BeginNonFiscalBon", []], ["PrintNonFiscalText", ["\u00c8aj"]], ["EndNonFiscalBon", []]])", "", 1250},
      {DocumentKind::NonFiscal, R"({"lines": []})", R"([["BeginNonFiscalBon", []], ["EndNonFiscalBon", []]])"},
      {DocumentKind::Report, R"({"type": "X"})", R"([["DayReport", [2, 0]]])"},
      {DocumentKind::Report, R"({"key": "z", "type": "Z"})", R"([["DayReport", [0, 0]]])", "z"},
      {DocumentKind::Report, R"({"type": "period", "from": 1, "to": 9999})", R"([["PrintReportByNum", [1, 9999]]])"},
      {DocumentKind::Report, R"({"type": "period", "from": 4.0, "to": 4})", R"([["PrintReportByNum", [4, 4]]])"},
      {DocumentKind::Cash, R"({"amount": 12.50})", R"([["ServiceInputOutput", [12.5]]])"},
      {DocumentKind::Cash, R"({"amount": -0.01})", R"([["ServiceInputOutput", [-0.01]]])"},
      {DocumentKind::Command, R"({"command": 90, "data": "1\tЯ\n"})", R"([["TestPrinter", [90, "1\t\u00df\n"]]])", "",
       1251, false},
      {DocumentKind::Command, R"({"command": 0})", R"([["TestPrinter", [0, ""]]])", "", 1251, false},
  };
}

TEST(Documents, SoundDocumentsGiveTheLibraryCallsThatPrintThem) {
  for (const GoodCase &c : GoodCases()) {
    SCOPED_TRACE(c.body);
    const auto result = ReadDocument(c.kind, c.body, DeviceText(c.codePage));
    ASSERT_TRUE(std::holds_alternative<Document>(result)) << std::get<RequestError>(result).message;
    const Document &document = std::get<Document>(result);
    EXPECT_EQ(document.kind, c.kind);
    EXPECT_EQ(document.key, c.key);
    EXPECT_EQ(document.request, json::parse(c.body));
    EXPECT_EQ(StepsJson(document), json::parse(c.steps));
  }
}

// Calls the export a step names, as the worker does.
int32_t Call(const Step &step) {
  const json &a = step.args;
  const auto text = [&](size_t i) { return ByteStringToBytes(a.at(i).get<std::string>()).value(); };
  char out[TALLYPORT_TEXT_SIZE];
  int16_t first = 0;
  int16_t second = 0;
  double amount = 0;
  const std::string &op = step.op;
  if (op == "BeginFiscalBon") {
    return ::BeginFiscalBon(a[0].get<uint32_t>(), text(1).c_str(), a[2].get<uint32_t>(), text(3)[0], &first, &second);
  }
  if (op == "Sale") return ::Sale(text(0).c_str(), text(1).c_str(), a[2], a[3], a[4]);
  if (op == "SalePlu") return ::SalePlu(a[0].get<int32_t>(), a[1], a[2], a[3]);
  if (op == "SaleDept") return ::SaleDept(a[0].get<int16_t>(), a[1], a[2], a[3]);
  if (op == "PrintFiscalText") return ::PrintFiscalText(text(0).c_str());
  if (op == "Total") return ::Total(text(0).c_str(), text(1).c_str(), a[2], &first, &amount);
  if (op == "EndFiscalBon") return ::EndFiscalBon(&first, &second);
  if (op == "BeginNonFiscalBon") return ::BeginNonFiscalBon(&first, &second);
  if (op == "PrintNonFiscalText") return ::PrintNonFiscalText(text(0).c_str());
  if (op == "EndNonFiscalBon") return ::EndNonFiscalBon(&first);
  if (op == "DayReport") return ::DayReport(a[0].get<int16_t>(), a[1].get<int16_t>(), out);
  if (op == "PrintReportByNum") return ::PrintReportByNum(a[0].get<int16_t>(), a[1].get<int16_t>());
  if (op == "ServiceInputOutput") return ::ServiceInputOutput(a[0], out);
  ADD_FAILURE() << "no export " << op;
  return kBadParameter;
}

// The library connected to the simulator, as the worker runs it.
class DocumentsOnDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    FISCAL_SKIP_WITHOUT_SIM_LINK();
    sim_ = std::make_unique<fiscalsim::Simulator>(fiscal_test::OpenSimLink());
    sim_->Start();
    seriallink::SetFlavour(seriallink::Flavour::Pos());
    ASSERT_EQ(::Connect(sim_->PortName().c_str(), 115200, 8, 0, 0), 0);
  }
  void TearDown() override {
    if (sim_ == nullptr) return;
    ::Disconnect();
    sim_->Stop();
  }

  std::unique_ptr<fiscalsim::Simulator> sim_;
};

// What the reader gives is what the device takes: no step of a sound document is refused.
TEST_F(DocumentsOnDevice, EveryStepOfASoundDocumentIsTaken) {
  char out[TALLYPORT_TEXT_SIZE];
  ASSERT_EQ(::SetPluData(12, "B", 0.80, "Milk", "", out), 0);
  for (const GoodCase &c : GoodCases()) {
    if (!c.onDevice) continue;
    SCOPED_TRACE(c.body);
    const auto result = ReadDocument(c.kind, c.body, DeviceText(c.codePage));
    ASSERT_TRUE(std::holds_alternative<Document>(result));
    for (const Step &step : std::get<Document>(result).steps) {
      ASSERT_EQ(Call(step), kSuccess) << step.op;
      ::GetStatus(out);
      ASSERT_FALSE(StatusRefused(out)) << step.op << " " << step.args.dump() << " status " << out;
    }
  }
}

struct BadCase {
  DocumentKind kind;
  std::string body;
  int status;
  const char *code;
  const char *where;  // how the message starts
};

// A receipt of one item whose members after "text" are `item`.
std::string ReceiptWith(const std::string &item, const std::string &more = "") {
  return R"({"operator": {"number": 1, "password": "0", "till": 1}, "items": [{"text": "a", )" + item + "}]" + more +
         "}";
}

std::string Repeated(const std::string &text, size_t n) {
  std::string all;
  for (size_t i = 0; i < n; ++i) all += text;
  return all;
}

std::string Items(size_t n) {
  std::string items;
  for (size_t i = 0; i < n; ++i) items += std::string(i ? "," : "") + R"({"plu": 1})";
  return R"({"operator": {"number": 1, "password": "0", "till": 1}, "items": [)" + items + "]}";
}

TEST(Documents, FaultyDocumentsAreRefusedWholeNamingTheMember) {
  const auto R = DocumentKind::Receipt;
  const std::string sale = R"("taxGroup": "A", "price": 1)";
  const BadCase cases[] = {
      {R, std::string(kMaxRequestBytes + 1, ' '), 413, "too-large", "the body"},
      {R, "{\"key\": ", 400, "bad-json", "the body"},
      {R, "[1]", 400, "bad-json", "the body"},
      {R, std::string(100000, '[') + std::string(100000, ']'), 400, "bad-json", "nested"},
      {R, "{\"key\": \"\xC3\x28\"}", 400, "bad-json", "the body"},
      {R, R"({"key": "a", "key": "b"})", 400, "duplicate-member", "\"key\""},
      {R, R"({"operator": {"number": 1, "password": "0", "till": 1}, "items": [{"plu": 1, "plu": 2}]})", 400,
       "duplicate-member", "\"plu\""},
      {R, ReceiptWith(sale, R"(, "payment": [])"), 400, "unknown-member", "unknown member \"payment\""},
      {R, ReceiptWith(sale + R"(, "qty": 2)"), 400, "unknown-member", "items[0]: unknown member \"qty\""},
      {R, ReceiptWith(sale + R"(, "plu": 1)"), 400, "bad-item", "items[0]"},
      {R, R"({"operator": {"number": 1, "password": "0", "till": 1}, "items": [{"price": 1}]})", 400, "bad-item",
       "items[0]"},
      {R, ReceiptWith(R"("taxGroup": "A", "price": "1.20")"), 400, "bad-type", "items[0].price"},
      {R, ReceiptWith(R"("taxGroup": "A")"), 400, "missing-member", "items[0].price"},
      {R, R"({"items": []})", 400, "missing-member", "operator"},
      {R, ReceiptWith(sale, R"(, "texts": "x")"), 400, "bad-type", "texts"},
      {R, ReceiptWith(R"("taxGroup": "A", "price": 1e300)"), 422, "bad-amount", "items[0].price"},
      {R, ReceiptWith(R"("taxGroup": "A", "price": 1e400)"), 422, "bad-number", "1e400"},
      {R, ReceiptWith(R"("taxGroup": "A", "price": 21474836.48)"), 422, "bad-amount", "items[0].price"},
      {R, ReceiptWith(R"("taxGroup": "A", "price": 1.005)"), 422, "bad-amount", "items[0].price"},
      {R, ReceiptWith(R"("taxGroup": "A", "price": 0)"), 422, "bad-amount", "items[0].price"},
      {R, ReceiptWith(sale + R"(, "quantity": 0)"), 422, "bad-quantity", "items[0].quantity"},
      {R, ReceiptWith(sale + R"(, "quantity": 0.0004)"), 422, "bad-quantity", "items[0].quantity"},
      {R, ReceiptWith(sale + R"(, "quantity": 2147483.648)"), 422, "bad-quantity", "items[0].quantity"},
      {R, ReceiptWith(sale + R"(, "discount": 100.01)"), 422, "bad-discount", "items[0].discount"},
      {R, ReceiptWith(sale + R"(, "discount": -1000)"), 422, "bad-discount", "items[0].discount"},
      {R, ReceiptWith(R"("taxGroup": "F", "price": 1)"), 422, "bad-tax-group", "items[0].taxGroup"},
      {R, ReceiptWith(R"("taxGroup": "AB", "price": 1)"), 422, "bad-tax-group", "items[0].taxGroup"},
      {R, ReceiptWith(R"("taxGroup": "", "price": 1)"), 422, "bad-tax-group", "items[0].taxGroup"},
      {R, R"({"operator": {"number": 1, "password": "0", "till": 1}, "items": [{"plu": -1}]})", 422, "out-of-range",
       "items[0].plu"},
      {R, R"({"operator": {"number": 1, "password": "0", "till": 1}, "items": [{"plu": 18446744073709551615}]})", 422,
       "out-of-range", "items[0].plu"},
      {R, R"({"operator": {"number": 1, "password": "0", "till": 1}, "items": [{"plu": 1e30}]})", 422, "out-of-range",
       "items[0].plu"},
      {R, R"({"operator": {"number": 1, "password": "0", "till": 1}, "items": [{"department": 0}]})", 422,
       "out-of-range", "items[0].department"},
      {R, R"({"operator": {"number": 1, "password": "0", "till": 1}, "items": [{"plu": 2, "price": -1}]})", 422,
       "bad-amount", "items[0].price"},
      {R, R"({"operator": {"number": 31, "password": "0", "till": 1}, "items": [{"plu": 1}]})", 422, "out-of-range",
       "operator.number"},
      {R, R"({"operator": {"number": 1, "password": "0", "till": 1.5}, "items": [{"plu": 1}]})", 422, "bad-integer",
       "operator.till"},
      {R, R"({"operator": {"number": 1, "password": "0", "till": 0}, "items": [{"plu": 1}]})", 422, "out-of-range",
       "operator.till"},
      {R, R"({"operator": {"number": 1, "password": "1,2", "till": 1}, "items": [{"plu": 1}]})", 422, "bad-password",
       "operator.password"},
      {R, R"({"operator": {"number": 1, "password": "", "till": 1}, "items": [{"plu": 1}]})", 422, "empty-text",
       "operator.password"},
      {R,
       R"({"operator": {"number": 1, "password": "0", "till": 1}, "items": [{"text": "日本", "taxGroup": "A", "price": 1}]})",
       422, "text-not-in-code-page", "items[0].text"},
      {R, ReceiptWith(sale, R"(, "texts": ["ok", "€ ok ✓"])"), 422, "text-not-in-code-page", "texts[1]"},
      {R, ReceiptWith(sale, R"(, "texts": [")" + std::string(kTextMax + 1, 'x') + "\"]"), 422, "text-too-long",
       "texts[0]"},
      {R, ReceiptWith(sale, R"(, "texts": [")" + Repeated("Я", kTextMax + 1) + "\"]"), 422, "text-too-long",
       "texts[0]"},
      {R, ReceiptWith(sale, R"(, "texts": ["a\tb"])"), 422, "control-character", "texts[0]"},
      {R, ReceiptWith(sale, R"(, "texts": ["\u0000"])"), 422, "control-character", "texts[0]"},
      {R, ReceiptWith(sale, R"(, "texts": [""])"), 422, "empty-text", "texts[0]"},
      {R, R"({"operator": {"number": 1, "password": "0", "till": 1}, "items": []})", 422, "no-items", "items"},
      {R, Items(501), 422, "too-many", "items"},
      {R, ReceiptWith(sale, R"(, "payments": [{"type": "p", "amount": 1}])"), 422, "bad-payment-type",
       "payments[0].type"},
      {R, ReceiptWith(sale, R"(, "payments": [{"type": "P", "amount": -1}])"), 422, "bad-amount", "payments[0].amount"},
      {R, ReceiptWith(sale, R"(, "payments": [{"type": "P", "amount": 0}])"), 422, "bad-amount", "payments[0].amount"},
      {R, ReceiptWith(sale, R"(, "payments": [{"type": "P"}])"), 400, "missing-member", "payments[0].amount"},
      {R, ReceiptWith(sale, R"(, "key": "")"), 422, "bad-key", "key"},
      {R, ReceiptWith(sale, R"(, "key": ")" + std::string(201, 'k') + "\""), 422, "bad-key", "key"},
      {R, ReceiptWith(sale, R"(, "key": "a\nb")"), 422, "bad-key", "key"},
      {R, ReceiptWith(sale, R"(, "key": 5)"), 400, "bad-type", "key"},
      {DocumentKind::NonFiscal, R"({"lines": ["Хляб", 5]})", 400, "bad-type", "lines[1]"},
      {DocumentKind::NonFiscal, R"({"lines": ["a\rb"]})", 422, "control-character", "lines[0]"},
      {DocumentKind::NonFiscal, R"({})", 400, "missing-member", "lines"},
      {DocumentKind::Report, R"({"type": "Y"})", 422, "bad-report-type", "type"},
      {DocumentKind::Report, R"({"type": "X", "from": 1})", 400, "unknown-member", "from"},
      {DocumentKind::Report, R"({"type": "period", "from": 5, "to": 3})", 422, "bad-range", "from"},
      {DocumentKind::Report, R"({"type": "period", "from": 0, "to": 3})", 422, "out-of-range", "from"},
      {DocumentKind::Report, R"({"type": "period", "from": 5})", 400, "missing-member", "to"},
      {DocumentKind::Cash, R"({"amount": 0})", 422, "bad-amount", "amount"},
      {DocumentKind::Cash, R"({"amount": -21474836.48})", 422, "bad-amount", "amount"},
      {DocumentKind::Cash, R"({"amount": 1, "lines": []})", 400, "unknown-member", "unknown member \"lines\""},
      {DocumentKind::Command, R"({"command": 256})", 422, "out-of-range", "command"},
      {DocumentKind::Command, R"({"command": 1, "data": "\u0001"})", 422, "control-character", "data"},
      {DocumentKind::Command, R"({"command": 1, "data": ")" + std::string(kCommandDataMax + 1, 'd') + "\"}", 422,
       "text-too-long", "data"},
  };
  for (const BadCase &c : cases) {
    SCOPED_TRACE(c.body.substr(0, 200));
    const auto result = ReadDocument(c.kind, c.body, DeviceText(1251));
    ASSERT_TRUE(std::holds_alternative<RequestError>(result));
    const RequestError &error = std::get<RequestError>(result);
    EXPECT_EQ(error.status, c.status) << error.message;
    EXPECT_EQ(error.code, c.code) << error.message;
    EXPECT_EQ(error.message.rfind(c.where, 0), 0u) << error.message;
    EXPECT_NO_THROW(json(error.message).dump());  // the message goes out in JSON
  }
}

// The hub refuses exactly what the library would refuse with 10006 in the middle of a document.
TEST(Documents, NumbersFollowTheLibrarysRule) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const double values[] = {0,
                           -0.0,
                           0.01,
                           999.99,
                           999.994,
                           999.999,
                           1000,
                           1000.001,
                           2147483.647,
                           2147483.6479,
                           2147483.648,
                           21474836.47,
                           21474836.479,
                           21474836.48,
                           99999.99,
                           1e300,
                           5e-324,
                           std::numeric_limits<double>::quiet_NaN(),
                           kInf};
  const std::pair<NumberKind, tallyport::NumberKind> kinds[] = {
      {NumberKind::Amount, tallyport::NumberKind::Amount},
      {NumberKind::Quantity, tallyport::NumberKind::Quantity},
      {NumberKind::Percent, tallyport::NumberKind::Percent},
  };
  for (const double magnitude : values) {
    for (const double v : {magnitude, -magnitude}) {
      for (const auto &[ours, theirs] : kinds) {
        EXPECT_EQ(Printable(v, ours), tallyport::Printable({tallyport::Number{v, theirs}}))
            << v << " of kind " << static_cast<int>(ours);
      }
    }
  }
}

}  // namespace
}  // namespace hub
