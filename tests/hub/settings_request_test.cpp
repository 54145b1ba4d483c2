// The reader of settings bodies: what each group takes, and every fault refused whole with the
// member it lies in.
#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "settings_request.h"

namespace hub {
namespace {

struct BodyCase {
  SettingsGroup group;
  const char *body;
  int status;              // 0: taken
  const char *code;        // the error's code, or nothing when taken
  const char *where = "";  // the message begins with it
};

const BodyCase kBodies[] = {
    // header
    {SettingsGroup::Header, R"({"lines": ["A", "", null, null, null, null, null, null, "Ad", null]})", 0, ""},
    {SettingsGroup::Header, R"({"lines": ["Магазин", null, null, null, null, null, null, null, null, null]})", 0, ""},
    {SettingsGroup::Header, R"({"lines": ["A"]})", 400, "bad-type", "lines"},
    {SettingsGroup::Header, R"({"lines": [1, null, null, null, null, null, null, null, null, null]})", 400, "bad-type",
     "lines[0]"},
    {SettingsGroup::Header,
     R"({"lines": [null, "0123456789012345678901234567890123456789012345678", null, null, null, null, null, null, null, null]})",
     422, "text-too-long", "lines[1]"},
    {SettingsGroup::Header, R"({"lines": [null, null, "a\tb", null, null, null, null, null, null, null]})", 422,
     "control-character", "lines[2]"},
    {SettingsGroup::Header, R"({"lines": [null, null, null, "日本", null, null, null, null, null, null]})", 422,
     "text-not-in-code-page", "lines[3]"},
    {SettingsGroup::Header, R"({"lines": [], "lines": []})", 400, "duplicate-member"},
    {SettingsGroup::Header, R"({"line": []})", 400, "unknown-member"},
    {SettingsGroup::Header, R"(["A"])", 400, "bad-json"},
    {SettingsGroup::Header, R"({"lines": [)", 400, "bad-json"},
    {SettingsGroup::Header, R"([[[[[[[[[[[[]]]]]]]]]]]])", 400, "bad-json"},
    // tax-rates
    {SettingsGroup::TaxRates, R"({"A": 20, "B": 9.5, "C": 0, "D": null, "PnP": 99.99})", 0, ""},
    {SettingsGroup::TaxRates, R"({"A": 20, "B": 9, "C": 0, "D": null})", 400, "missing-member", "PnP"},
    {SettingsGroup::TaxRates, R"({"A": 100, "B": 9, "C": 0, "D": null, "PnP": null})", 422, "bad-rate", "A"},
    {SettingsGroup::TaxRates, R"({"A": -1, "B": 9, "C": 0, "D": null, "PnP": null})", 422, "bad-rate", "A"},
    {SettingsGroup::TaxRates, R"({"A": 20.001, "B": 9, "C": 0, "D": null, "PnP": null})", 422, "bad-rate", "A"},
    {SettingsGroup::TaxRates, R"({"A": "20", "B": 9, "C": 0, "D": null, "PnP": null})", 400, "bad-type", "A"},
    {SettingsGroup::TaxRates, R"({"A": 1e400, "B": 9, "C": 0, "D": null, "PnP": null})", 422, "bad-number"},
    {SettingsGroup::TaxRates, R"({"A": 1, "B": 9, "C": 0, "D": null, "PnP": null, "E": 1})", 400, "unknown-member"},
    // tcpip
    {SettingsGroup::TcpIp,
     R"({"dhcp": false, "address": "192.168.1.20", "mask": "255.255.255.0", "gateway": "192.168.1.1", "dns1": "1.1.1.1", "dns2": "8.8.8.8"})",
     0, ""},
    {SettingsGroup::TcpIp, R"({"dhcp": true})", 0, ""},
    {SettingsGroup::TcpIp, R"({"dhcp": true, "dns2": "9.9.9.9"})", 0, ""},
    {SettingsGroup::TcpIp, R"({"dhcp": false, "address": "192.168.1.20"})", 400, "missing-member", "mask"},
    {SettingsGroup::TcpIp,
     R"({"dhcp": false, "address": "192.168.1.20", "mask": "0.0.0.0", "gateway": "192.168.1.1", "dns1": "1.1.1.1", "dns2": "8.8.8.8"})",
     422, "bad-address", "mask"},
    {SettingsGroup::TcpIp, R"({"dhcp": true, "address": "192.168.1.256"})", 422, "bad-address", "address"},
    {SettingsGroup::TcpIp, R"({"dhcp": true, "address": "192.168.1"})", 422, "bad-address", "address"},
    {SettingsGroup::TcpIp, R"({"dhcp": true, "address": "192.168.1.1.1"})", 422, "bad-address", "address"},
    {SettingsGroup::TcpIp, R"({"dhcp": true, "address": "1.2.3.0004"})", 422, "bad-address", "address"},
    {SettingsGroup::TcpIp, R"({"dhcp": true, "address": " 1.2.3.4"})", 422, "bad-address", "address"},
    {SettingsGroup::TcpIp, R"({"dhcp": "yes"})", 400, "bad-type", "dhcp"},
    // gprs
    {SettingsGroup::Gprs, R"({"apn": "internet", "user": "", "password": "secret"})", 0, ""},
    {SettingsGroup::Gprs, R"({"apn": "internet", "user": "u"})", 0, ""},
    {SettingsGroup::Gprs, R"({"apn": "inter,net", "user": "u"})", 422, "comma", "apn"},
    {SettingsGroup::Gprs, R"({"apn": "internet"})", 400, "missing-member", "user"},
    {SettingsGroup::Gprs,
     R"({"apn": "a", "user": "u", "password": "01234567890123456789012345678901234567890123456789012345678901234"})",
     422, "text-too-long", "password"},
    // clock
    {SettingsGroup::Clock, R"({"time": "2026-12-09T14:30:05"})", 0, ""},
    {SettingsGroup::Clock, R"({"time": "2028-02-29T00:00:00"})", 0, ""},
    {SettingsGroup::Clock, R"({"time": "now"})", 0, ""},
    {SettingsGroup::Clock, R"({"time": "2027-02-29T00:00:00"})", 422, "bad-time", "time"},
    {SettingsGroup::Clock, R"({"time": "2026-12-09 14:30:05"})", 422, "bad-time", "time"},
    {SettingsGroup::Clock, R"({"time": "2026-12-09T24:00:00"})", 422, "bad-time", "time"},
    {SettingsGroup::Clock, R"({"time": "2100-01-01T00:00:00"})", 422, "bad-time", "time"},
    {SettingsGroup::Clock, R"({"time": "+026-12-09T14:30:05"})", 422, "bad-time", "time"},
    // operators
    {SettingsGroup::Operators, R"({"operators": [{"number": 1, "name": "Анна", "password": "1234"}]})", 0, ""},
    {SettingsGroup::Operators,
     R"({"operators": [{"number": 30, "name": "B", "password": "1", "idNumber": "12345678901"}]})", 0, ""},
    {SettingsGroup::Operators, R"({"operators": []})", 422, "too-many", "operators"},
    {SettingsGroup::Operators, R"({"operators": [{"number": 31, "name": "B", "password": "1"}]})", 422, "out-of-range",
     "operators[0].number"},
    {SettingsGroup::Operators, R"({"operators": [{"number": 0, "name": "B", "password": "1"}]})", 422, "out-of-range",
     "operators[0].number"},
    {SettingsGroup::Operators, R"({"operators": [{"number": -1, "name": "B", "password": "1"}]})", 422, "out-of-range",
     "operators[0].number"},
    {SettingsGroup::Operators, R"({"operators": [{"number": 1.5, "name": "B", "password": "1"}]})", 400, "bad-type",
     "operators[0].number"},
    {SettingsGroup::Operators,
     R"({"operators": [{"number": 2, "name": "B", "password": "1"}, {"number": 2, "name": "C", "password": "2"}]})",
     422, "duplicate-operator", "operators[1].number"},
    {SettingsGroup::Operators, R"({"operators": [{"number": 1, "name": "B", "password": ""}]})", 422, "empty-text",
     "operators[0].password"},
    {SettingsGroup::Operators, R"({"operators": [{"number": 1, "name": "B,C", "password": "1"}]})", 422, "comma",
     "operators[0].name"},
    {SettingsGroup::Operators,
     R"({"operators": [{"number": 1, "name": "B", "password": "1", "idNumber": "123456789012"}]})", 422,
     "text-too-long", "operators[0].idNumber"},
    // code-table
    {SettingsGroup::CodeTable, R"({"table": "dos"})", 0, ""},
    {SettingsGroup::CodeTable, R"({"table": "koi8"})", 422, "bad-table", "table"},
};

TEST(SettingsBody, EachGroupTakesItsBodyAndRefusesEveryFaultByItsMember) {
  const DeviceText text(1251);
  std::tm now{};
  for (const BodyCase &c : kBodies) {
    SCOPED_TRACE(std::string(SettingsGroupName(c.group)) + " " + c.body);
    const auto result = ReadSettingsBody(c.group, c.body, text, now);
    if (c.status == 0) {
      EXPECT_TRUE(std::holds_alternative<SettingsWrite>(result))
          << (std::holds_alternative<RequestError>(result) ? std::get<RequestError>(result).message : "");
      continue;
    }
    ASSERT_TRUE(std::holds_alternative<RequestError>(result));
    const RequestError &error = std::get<RequestError>(result);
    EXPECT_EQ(error.status, c.status);
    EXPECT_EQ(error.code, c.code);
    EXPECT_EQ(error.message.rfind(c.where, 0), 0u) << error.message;
  }
}

TEST(SettingsBody, ValuesComeOutAsTheDeviceTakesThem) {
  const DeviceText text(1251);
  std::tm now{};
  now.tm_year = 126;
  now.tm_mon = 11;
  now.tm_mday = 9;
  now.tm_hour = 7;
  now.tm_min = 5;
  now.tm_sec = 3;
  const auto read = [&](SettingsGroup group, const char *body) {
    return std::get<SettingsWrite>(ReadSettingsBody(group, body, text, now));
  };
  const auto header = std::get<HeaderWrite>(
      read(SettingsGroup::Header, R"({"lines": ["Хляб", "", null, null, null, null, null, null, null, null]})"));
  EXPECT_EQ(header.lines[0], std::optional<std::string>("\xD5\xEB\xFF\xE1"));
  EXPECT_EQ(header.lines[1], std::optional<std::string>(""));
  EXPECT_EQ(header.lines[2], std::nullopt);

  const auto rates =
      std::get<TaxRatesWrite>(read(SettingsGroup::TaxRates, R"({"A": 20, "B": 9.5, "C": 0.07, "D": null, "PnP": 0})"));
  EXPECT_EQ(rates.hundredths[0], 2000);
  EXPECT_EQ(rates.hundredths[1], 950);
  EXPECT_EQ(rates.hundredths[2], 7);
  EXPECT_EQ(rates.hundredths[3], std::nullopt);
  EXPECT_EQ(rates.hundredths[4], 0);

  const auto net = std::get<TcpIpWrite>(read(SettingsGroup::TcpIp, R"({"dhcp": true, "gateway": "10.0.0.254"})"));
  EXPECT_TRUE(net.dhcp);
  EXPECT_EQ(net.addresses[2], std::optional<uint32_t>(0x0A0000FE));
  EXPECT_EQ(net.addresses[0], std::nullopt);

  EXPECT_EQ(std::get<ClockWrite>(read(SettingsGroup::Clock, R"({"time": "now"})")).deviceTime, "09-12-26 07:05:03");
  EXPECT_EQ(std::get<ClockWrite>(read(SettingsGroup::Clock, R"({"time": "2031-01-02T03:04:05"})")).deviceTime,
            "02-01-31 03:04:05");
  EXPECT_EQ(IsoFromDeviceTime("02-01-31 03:04:05"), std::optional<std::string>("2031-01-02T03:04:05"));
  EXPECT_EQ(IsoFromDeviceTime("2-01-31 03:04:05"), std::nullopt);
}

TEST(SettingsBody, GroupsByNameAndWhichTheDeviceGivesBack) {
  for (const char *name : {"header", "tax-rates", "tcpip", "gprs", "clock", "operators", "code-table"}) {
    const auto group = SettingsGroupByName(name);
    ASSERT_TRUE(group) << name;
    EXPECT_EQ(SettingsGroupName(*group), name);
  }
  EXPECT_EQ(SettingsGroupByName("vat"), std::nullopt);
  EXPECT_FALSE(SettingsReadable(SettingsGroup::Operators));
  EXPECT_FALSE(SettingsReadable(SettingsGroup::CodeTable));
  EXPECT_TRUE(SettingsReadable(SettingsGroup::Clock));
}

}  // namespace
}  // namespace hub
