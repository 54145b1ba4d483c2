// A device's settings over HTTP: fiscal-hub and its worker against fiscal-sim on a
// pseudo-terminal. Each group is read and written; the device's memory shows what was written and
// its journal shows the very bytes the service tool's settings code makes.
#include <httplib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "device_text.h"
#include "hub_program.h"
#include "settings/settings.h"

namespace {

using nlohmann::json;
using namespace std::chrono_literals;

struct Answer {
  int status = 0;
  json body;
  httplib::Headers headers;
};

class HubSettings : public fiscal_test::HubProgramTest {
 protected:
  HubSettings() : HubProgramTest("fiscal-hub-settings") {}

  void SetUp() override {
    HubProgramTest::SetUp();
    StartSim("COM7", kSerial);
    StartHub({"COM7"});
  }

  Answer Request(const std::string &method, const std::string &group, const std::string &body = "") {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(60, 0);
    const std::string path = "/devices/" + std::string(kSerial) + "/settings/" + group;
    httplib::Result r = method == "GET" ? client.Get(path.c_str()) : client.Put(path.c_str(), body, "application/json");
    Answer answer;
    if (!r) return answer;
    answer.status = r->status;
    answer.body = json::parse(r->body, nullptr, false);
    answer.headers = r->headers;
    return answer;
  }

  // The data of every frame of `command` the device received, as device bytes.
  std::vector<std::string> Received(int command) {
    std::istringstream lines(fiscal_test::ReadFile(dir_ / "COM7.journal"));
    std::vector<std::string> data;
    for (std::string line; std::getline(lines, line);) {
      const json j = json::parse(line, nullptr, false);
      if (!j.is_object() || j.value("dir", "") != "in" || j.value("cmd", -1) != command) continue;
      // The journal writes each byte above 0x7E as the character of its number.
      data.push_back(hub::ByteStringToBytes(j.value("data", "")).value_or("?"));
    }
    return data;
  }

  static constexpr const char *kSerial = "SV000201";
};

TEST_F(HubSettings, EachGroupIsReadAndWrittenWithTheToolsBytes) {
  const hub::DeviceText cp1251(1251);

  for (const char *group : {"tax-rates", "tcpip", "gprs", "clock"}) {
    const Answer read = Request("GET", group);
    EXPECT_EQ(read.status, 200) << group << " " << read.body;
    EXPECT_TRUE(read.body.is_object() && !read.body.empty() && !read.body.contains("password")) << read.body;
  }
  const Answer header = Request("GET", "header");
  ASSERT_EQ(header.status, 200) << header.body;
  ASSERT_EQ(header.body["lines"].size(), 10u);
  Answer put = Request("PUT", "header",
                       R"({"lines": ["Магазин Тест", "ул. Първа 1", null, null, null, null, null, null, "Ad", null]})");
  ASSERT_EQ(put.status, 200) << put.body;
  EXPECT_EQ(put.body["lines"][0], "Магазин Тест");
  EXPECT_EQ(put.body["lines"][8], "Ad");
  EXPECT_EQ(SimState("COM7")["headerLines"][1], "ул. Първа 1");
  const std::vector<std::string> lines = Received(43);
  EXPECT_NE(
      std::find(lines.begin(), lines.end(), tillwright::TextLineWriteData(0, cp1251.ToDevice("Магазин Тест").value())),
      lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), tillwright::TextLineWriteData(8, "Ad")), lines.end());

  put = Request("PUT", "tax-rates", R"({"A": 20, "B": 9.5, "C": 0, "D": null, "PnP": null})");
  ASSERT_EQ(put.status, 200) << put.body;
  EXPECT_EQ(put.body, json({{"A", 20.0}, {"B", 9.5}, {"C", 0.0}, {"D", nullptr}, {"PnP", nullptr}}));
  EXPECT_EQ(SimState("COM7")["taxRates"], json({2000, 950, 0, nullptr, nullptr}));
  EXPECT_EQ(Received(96),
            std::vector<std::string>{tillwright::TaxRatesData({20, 9.5, 0, 0, 0}, {false, false, false, true, true})});
  EXPECT_EQ(Request("GET", "tax-rates").body, put.body);

  put = Request("PUT", "tcpip",
                R"({"dhcp": false, "address": "192.168.1.20", "mask": "255.255.255.0", "gateway": "192.168.1.1",
                    "dns1": "1.1.1.1", "dns2": "8.8.8.8"})");
  ASSERT_EQ(put.status, 200) << put.body;
  EXPECT_EQ(put.body["address"], "192.168.1.20");
  EXPECT_EQ(put.body["dhcp"], false);
  EXPECT_EQ(SimState("COM7")["tcpIp"],
            json({192, 168, 1, 20, 255, 255, 255, 0, 192, 168, 1, 1, 1, 1, 1, 1, 8, 8, 8, 8}));
  tillwright::TcpIpSettings net = tillwright::ReadTcpIp("192,168,1,20,255,255,255,0,192,168,1,1,1,1,1,1,8,8,8,8");
  const std::vector<std::string> tcpip = Received(37);
  ASSERT_GE(tcpip.size(), 3u);
  EXPECT_EQ(tcpip[tcpip.size() - 2], tillwright::TcpIpWriteData(net));
  // DHCP keeps the addresses.
  put = Request("PUT", "tcpip", R"({"dhcp": true})");
  ASSERT_EQ(put.status, 200) << put.body;
  EXPECT_EQ(put.body["dhcp"], true);
  EXPECT_EQ(put.body["gateway"], "192.168.1.1");

  put = Request("PUT", "gprs", R"({"apn": "internet", "user": "pos", "password": "s3cret"})");
  ASSERT_EQ(put.status, 200) << put.body;
  EXPECT_EQ(put.body, json({{"apn", "internet"}, {"user", "pos"}}));
  put = Request("PUT", "gprs", R"({"apn": "web", "user": "pos2"})");
  ASSERT_EQ(put.status, 200) << put.body;
  EXPECT_EQ(SimState("COM7")["gprsApn"], "web");
  EXPECT_EQ(SimState("COM7")["gprsPassword"], "s3cret");  // kept when not given

  put = Request("PUT", "clock", R"({"time": "2030-05-06T07:08:09"})");
  ASSERT_EQ(put.status, 200) << put.body;
  EXPECT_EQ(put.body["time"].get<std::string>().substr(0, 16), "2030-05-06T07:08");
  EXPECT_EQ(Received(61), std::vector<std::string>{"06-05-30 07:08:09"});

  put = Request("PUT", "operators",
                R"({"operators": [{"number": 2, "name": "Иван", "password": "4321", "idNumber": "77"}]})");
  ASSERT_EQ(put.status, 200) << put.body;
  EXPECT_EQ(put.body, json({{"written", {2}}}));
  EXPECT_EQ(SimState("COM7")["clerkNames"][1], "Иван");
  EXPECT_EQ(SimState("COM7")["clerkPasswords"][1], "4321");
  EXPECT_EQ(SimState("COM7")["clerkIds"][1], "77");

  put = Request("PUT", "code-table", R"({"table": "dos"})");
  ASSERT_EQ(put.status, 200) << put.body;
  std::string table;
  for (const std::string &block : tillwright::CodeTableBlocks(tillwright::kCodePageDos)) table += block.substr(3);
  EXPECT_EQ(SimState("COM7")["codeTable"], table);
  const auto blocks = tillwright::CodeTableBlocks(tillwright::kCodePageDos);
  EXPECT_EQ(Received(164), std::vector<std::string>(blocks.begin(), blocks.end()));
}

TEST_F(HubSettings, RefusalsSendNothing) {
  const int frames = Frames("COM7");
  const Answer writeOnly = Request("GET", "operators");
  EXPECT_EQ(writeOnly.status, 405);
  EXPECT_EQ(writeOnly.body["error"]["code"], "write-only");
  EXPECT_EQ(writeOnly.headers.count("Allow") ? writeOnly.headers.find("Allow")->second : "", "PUT");
  EXPECT_EQ(Request("GET", "vat").body["error"]["code"], "unknown-group");
  const Answer bad = Request("PUT", "tax-rates", R"({"A": 20, "B": 9.5, "C": 0, "D": null, "PnP": 120})");
  EXPECT_EQ(bad.status, 422);
  EXPECT_EQ(bad.body["error"]["code"], "bad-rate");
  EXPECT_EQ(Request("PUT", "header", "{").status, 400);
  EXPECT_EQ(Frames("COM7"), frames);

  httplib::Client client("127.0.0.1", port_);
  const httplib::Result unknown = client.Get("/devices/NOPE/settings/header");
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->status, 404);
}

}  // namespace
