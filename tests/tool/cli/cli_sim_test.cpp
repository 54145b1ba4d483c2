// tillwright-cli run in this process against the simulator: the journal of frames it received
// tells what went out, the device model what it holds.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bitmap_files.h"
#include "cli/cli.h"
#include "fiscalsim/device_model.h"
#include "fiscalsim/simulator.h"
#include "sim_link.h"
#ifndef _WIN32
#include <sys/stat.h>

#include "fiscalsim/port_alias.h"
#include "platform/serial_port.h"
#endif

namespace {

using namespace tillwright::cli;
namespace fs = std::filesystem;

struct Ran {
  int status = -1;
  std::string out;
  std::string err;
};

class CliOnSimulator : public ::testing::Test {
 protected:
  void SetUp() override {
    FISCAL_SKIP_WITHOUT_SIM_LINK();
    sim_ = std::make_unique<fiscalsim::Simulator>(fiscal_test::OpenSimLink());
    sim_->Start();
    port_ = sim_->PortName();
  }
  void TearDown() override {
    if (sim_) sim_->Stop();
  }

  Ran Cli(std::vector<std::string> args, const std::string &input = {}, bool interactive = false) {
    std::ostringstream out, err;
    std::istringstream in(input);
    Console console{out, err, in, interactive};
    Ran ran;
    ran.status = tillwright::cli::Run(args, console);
    ran.out = out.str();
    ran.err = err.str();
    return ran;
  }
  Ran OnSim(std::vector<std::string> args, const std::string &input = {}) {
    args.insert(args.begin(), {"--port", port_});
    return Cli(std::move(args), input);
  }

  std::string File(const std::string &name) const { return folder_.Path(name); }
  static std::string Read(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  static void Write(const std::string &path, const std::string &text) {
    std::ofstream f(path, std::ios::binary);
    f << text;
  }
  // The document without what changes from one reading to the next.
  static nlohmann::json Settings(const std::string &path) {
    auto doc = nlohmann::json::parse(Read(path));
    doc.erase("taken");
    doc["groups"].erase("datetime");
    return doc;
  }

  // Whether a frame writes something: every command's read form is known.
  static bool IsWrite(const fiscalsim::JournalEntry &e) {
    switch (e.cmd) {
      case 0x2B: return e.data.empty() || e.data[0] != 'I';  // header lines
      case 0x25:                                               // TCP/IP
      case 0xB0: return e.data != "R";                         // GPRS
      case 0x5A: case 0x3E: case 0x61: case 0xC8: case 0xC4: return false;
      default: return true;
    }
  }
  size_t Writes() {
    size_t n = 0;
    for (const auto &e : sim_->ReceivedFrames().Entries()) n += IsWrite(e) ? 1 : 0;
    return n;
  }

  // Changes every restorable group on the device behind the program's back.
  void ChangeDevice() {
    sim_->WithModel([](fiscalsim::DeviceModel &m) {
      auto &s = m.State();
      s.headerLines[2] = "CHANGED";
      s.headerLines[8] = "AD CHANGED";
      s.taxRates[0] = 1800;
      s.taxRates[3] = 500;
      s.tcpIp[3] = 77;
      s.gprsApn = "other.apn";
      s.gprsUser = "someone";
    });
  }

  // A device as it comes from the factory, with nothing received yet.
  void FreshDevice() {
    sim_->Stop();
    sim_ = std::make_unique<fiscalsim::Simulator>(fiscal_test::OpenSimLink());
    sim_->Start();
    port_ = sim_->PortName();
  }

  // The device refuses, or stops answering at, the requests of `code` that `which` picks (all
  // when empty); every other request goes to the command's own handler.
  enum class Upset { Refuse, Drop };
  void Upsets(uint8_t code, Upset upset, std::function<bool(std::string_view)> which = {}) {
    sim_->WithModel([&](fiscalsim::DeviceModel &m) {
      m.Register(code, [original = m.HandlerOf(code), upset, which, sim = sim_.get()](fiscalsim::DeviceModel &model,
                                                                                     std::string_view data) {
        if (which && !which(data)) return original(model, data);
        if (upset == Upset::Refuse) return fiscalsim::Answer::NotAllowed();
        sim->Faults().GoSilent();
        return fiscalsim::Answer::Silence();
      });
    });
  }
  static std::function<bool(std::string_view)> StartsWith(std::string prefix) {
    return [prefix](std::string_view data) { return data.substr(0, prefix.size()) == prefix; };
  }
  fiscalsim::DeviceState State() {
    return sim_->WithModel([](fiscalsim::DeviceModel &m) { return m.State(); });
  }

  std::unique_ptr<fiscalsim::Simulator> sim_;
  std::string port_;
  tooltest::TempFolder folder_;
};

TEST_F(CliOnSimulator, BackupChangeRestoreAndTheSecondBackupEqualsTheFirst) {
  sim_->WithModel([](fiscalsim::DeviceModel &m) {
    m.State().headerLines[0] = "\xCC\xE0\xE3\xE0\xE7\xE8\xED";  // "Магазин" in code page 1251
    m.State().headerLines[9] = "THANK YOU";
  });
  const Ran first = OnSim({"backup", File("first.json")});
  ASSERT_EQ(first.status, kExitOk) << first.err;
  EXPECT_NE(Read(File("first.json")).find("Магазин"), std::string::npos);
  EXPECT_EQ(Read(File("first.json")).find("password"), std::string::npos) << "no secret in the file";

  ChangeDevice();
  const Ran restore = OnSim({"--yes", "--reports", "restore", File("first.json")});
  ASSERT_EQ(restore.status, kExitOk) << restore.err;
  EXPECT_NE(restore.out.find("header line 2: \"CHANGED\" -> \"\""), std::string::npos) << restore.out;
  EXPECT_NE(restore.err.find("clock is not restored"), std::string::npos);
  sim_->WithModel([](fiscalsim::DeviceModel &m) { EXPECT_EQ(m.State().gprsPassword, "") << "the device's own password"; });

  ASSERT_EQ(OnSim({"backup", File("second.json")}).status, kExitOk);
  EXPECT_EQ(Settings(File("first.json")), Settings(File("second.json")));

  // Only what differs goes out: a second restore writes nothing.
  sim_->ReceivedFrames().Clear();
  const Ran again = OnSim({"--yes", "restore", File("first.json")});
  EXPECT_EQ(again.status, kExitOk);
  EXPECT_NE(again.out.find("nothing to write"), std::string::npos);
  EXPECT_EQ(Writes(), 0u);
}

TEST_F(CliOnSimulator, DryRunAndAnUnansweredQuestionSendNoWriteCommand) {
  ASSERT_EQ(OnSim({"backup", File("b.json")}).status, kExitOk);
  ChangeDevice();
  sim_->ReceivedFrames().Clear();
  const Ran dry = OnSim({"--yes", "restore", "--dry-run", File("b.json")});
  EXPECT_EQ(dry.status, kExitOk) << dry.err;
  EXPECT_NE(dry.out.find("vat A: \"18.00\" -> \"20.00\""), std::string::npos) << dry.out;
  EXPECT_GT(sim_->ReceivedFrames().Size(), 0u);
  EXPECT_EQ(Writes(), 0u);

  // Nobody at a terminal and no --yes: declined, nothing written.
  const Ran declined = OnSim({"restore", File("b.json")});
  EXPECT_EQ(declined.status, kExitDeclined);
  EXPECT_NE(declined.err.find("--yes"), std::string::npos);
  // A person who answers no.
  std::ostringstream out, err;
  std::istringstream in("n\n");
  Console console{out, err, in, true};
  EXPECT_EQ(tillwright::cli::Run({"--port", port_, "restore", File("b.json")}, console), kExitDeclined);
  EXPECT_EQ(Writes(), 0u);
}

TEST_F(CliOnSimulator, UnsoundFilesAreRefusedBeforeAnythingIsSent) {
  ASSERT_EQ(OnSim({"backup", File("b.json")}).status, kExitOk);
  const std::string good = Read(File("b.json"));
  const auto patched = [&good](const nlohmann::json &patch) {
    auto doc = nlohmann::json::parse(good);
    doc.merge_patch(patch);
    return doc.dump();
  };
  const std::pair<const char *, std::string> files[] = {
      {"corrupt", "{\"format\": tillwright"},
      {"truncated", good.substr(0, good.size() - 20)},
      {"wrong types", patched({{"groups", {{"vat", {{"rates", {"a", "b", "c", "d", "e"}}}}}}})},
      {"huge string", patched({{"groups", {{"gprs", {{"apn", std::string(100000, 'a')}}}}}})},
      {"unknown group", patched({{"groups", {{"fiscalization", {{"run", true}}}}}})},
  };
  sim_->ReceivedFrames().Clear();
  for (const auto &[what, text] : files) {
    Write(File("bad.json"), text);
    const Ran ran = OnSim({"--yes", "restore", File("bad.json")});
    EXPECT_EQ(ran.status, kExitBadFile) << what;
    EXPECT_NE(ran.err.find("is refused: "), std::string::npos) << what << ": " << ran.err;
  }
  EXPECT_EQ(OnSim({"restore", File("missing.json")}).status, kExitBadFile);
  EXPECT_EQ(sim_->ReceivedFrames().Total(), 0u);
}

TEST_F(CliOnSimulator, ADeviceFailingMidwayGivesThePartialStatusNamingWhatWasWritten) {
  ASSERT_EQ(OnSim({"backup", File("b.json")}).status, kExitOk);
  ChangeDevice();
  // The device stops taking GPRS settings; it still gives them.
  sim_->WithModel([](fiscalsim::DeviceModel &m) {
    m.Register(fiscalsim::command::kGprs, [](fiscalsim::DeviceModel &model, std::string_view data) {
      const auto &s = model.State();
      if (data == "R") return fiscalsim::Answer::Ok(s.gprsApn + ',' + s.gprsUser + ',' + s.gprsPassword);
      return fiscalsim::Answer::NotAllowed();
    });
  });
  const Ran ran = OnSim({"--yes", "--reports", "restore", File("b.json")});
  EXPECT_EQ(ran.status, kExitPartial);
  EXPECT_NE(ran.err.find("partial restore: gprs failed (the device refused it); written: header, vat, tcpip"),
            std::string::npos)
      << ran.err;
  sim_->WithModel([](fiscalsim::DeviceModel &m) {
    EXPECT_EQ(m.State().headerLines[2], " ");
    EXPECT_EQ(m.State().gprsApn, "other.apn");
  });
}

TEST_F(CliOnSimulator, SendPrintsReplyAndStatusAndRefusesBadArguments) {
  const Ran ok = OnSim({"send", "90", "0"});
  EXPECT_EQ(ok.status, kExitOk) << ok.err;
  EXPECT_NE(ok.out.find("reply:  FSIM 1.00 BG,"), std::string::npos) << ok.out;
  EXPECT_NE(ok.out.find("status text: "), std::string::npos);

  const Ran json = OnSim({"--json", "send", "62"});
  ASSERT_EQ(json.status, kExitOk);
  const auto doc = nlohmann::json::parse(json.out);
  EXPECT_EQ(doc["status"].get<std::string>().size(), 12u);
  EXPECT_EQ(doc["status_bytes"].get<std::string>().size(), 17u);

  // The device refuses a line number it does not have.
  EXPECT_EQ(OnSim({"send", "43", "I99"}).status, kExitRefused);

  sim_->ReceivedFrames().Clear();
  for (const std::vector<std::string> &bad : std::vector<std::vector<std::string>>{
           {"send"}, {"send", "256"}, {"send", "-1"}, {"send", "x2B"}, {"send", "43", "I0", "extra"}, {"get"},
           {"get", "printer"}, {"get", "operators"}, {"set", "vat", "1", "2"}, {"set", "header", "10", "x"},
           {"set", "tcpip", "1.2.3.4"}, {"set", "datetime", "yesterday"}, {"--codepage", "437", "ports"}}) {
    const Ran ran = OnSim(bad);
    EXPECT_EQ(ran.status, kExitUsage) << bad.back() << ": " << ran.err;
    EXPECT_FALSE(ran.err.empty());
  }
  EXPECT_EQ(sim_->ReceivedFrames().Total(), 0u) << "bad arguments send nothing";
}

TEST_F(CliOnSimulator, AnotherDeviceIsRestoredOntoOnlyWhenForced) {
  ASSERT_EQ(OnSim({"backup", File("b.json")}).status, kExitOk);
  ChangeDevice();
  sim_->WithModel([](fiscalsim::DeviceModel &m) { m.State().serialNumber = "SV000002"; });
  const Ran asked = OnSim({"--yes", "restore", File("b.json")});
  EXPECT_EQ(asked.status, kExitDeclined);
  EXPECT_NE(asked.err.find("serial number SV000001 in the backup, SV000002 here"), std::string::npos) << asked.err;
  EXPECT_EQ(Writes(), 0u);
  EXPECT_EQ(OnSim({"--yes", "--reports", "restore", "--force", File("b.json")}).status, kExitOk);
}

TEST_F(CliOnSimulator, SetAndGetGoThroughTheSameTemplates) {
  // Each write says what the device now holds.
  const struct {
    std::vector<std::string> args;
    const char *said;
  } writes[] = {
      {{"set", "header", "3", "Ул. Витоша 1"}, "written: line 3 \"Ул. Витоша 1\"\n"},
      {{"--reports", "set", "vat", "20", "-", "9.5", "0", "-"}, "written: VAT rates 20.00 undefined 9.50 0.00 undefined\n"},
      {{"set", "tcpip", "10.0.0.2", "255.0.0.0", "10.0.0.1", "1.1.1.1", "9.9.9.9"},
       "written: TCP/IP settings: 10.0.0.2 255.0.0.0 10.0.0.1 1.1.1.1 9.9.9.9\n"},
      {{"set", "gprs", "apn.x", "me", "--password", "secret"},
       "written: GPRS access point \"apn.x\", user \"me\" and a new password\n"},
      {{"set", "datetime", "01-02-26 03:04:05"}, "written: the date and time 01-02-26 03:04:05\n"},
  };
  for (const auto &write : writes) {
    const Ran ran = OnSim(write.args);
    ASSERT_EQ(ran.status, kExitOk) << ran.err;
    EXPECT_EQ(ran.out, write.said);
  }
  std::vector<std::string> sent;
  for (const auto &e : sim_->ReceivedFrames().Entries())
    if (IsWrite(e)) sent.push_back(e.data);
  EXPECT_EQ(sent, (std::vector<std::string>{"3\xD3\xEB. \xC2\xE8\xF2\xEE\xF8\xE0 1", "20.00,-1.00,9.50,0.00,-1.00",
                                            "P518204736,10,0,0,2,255,0,0,0,10,0,0,1,1,1,1,1,9,9,9,9",
                                            "Papn.x,me,secret", "01-02-26 03:04:05"}));
  EXPECT_NE(OnSim({"get", "header"}).out.find("header 3: Ул. Витоша 1"), std::string::npos);
  const Ran gprs = OnSim({"--json", "get", "gprs"});
  EXPECT_EQ(nlohmann::json::parse(gprs.out), (nlohmann::json{{"apn", "apn.x"}, {"user", "me"}}));
  const Ran ops = OnSim({"get", "operators"});
  EXPECT_NE(ops.err.find("can only be set"), std::string::npos);
}

TEST_F(CliOnSimulator, SetOnlyGroupsSendWhatTheDialogsSend) {
  ASSERT_EQ(OnSim({"--reports", "set", "operators", "3", "ANNA", "--password", "7", "--id", "1234567890"}).status, kExitOk);
  EXPECT_EQ(OnSim({"set", "operators", "3", "A,B", "--password", "7"}).status, kExitUsage) << "a comma ends the field";
  ASSERT_EQ(OnSim({"set", "codetable", "dos"}).status, kExitOk);
  sim_->WithModel([](fiscalsim::DeviceModel &m) {  // operator 3 in the third place
    EXPECT_EQ(m.State().clerkNames[2], "ANNA");
    EXPECT_EQ(m.State().clerkPasswords[2], "7");
    EXPECT_EQ(m.State().clerkIds[2], "1234567890");
  });
  std::vector<std::string> tables;
  for (const auto &e : sim_->ReceivedFrames().Entries()) {
    if (e.cmd == 0x66) {
      EXPECT_EQ(e.data, "03,7,ANNA\n1234567890");
    }
    if (e.cmd == 0xA4) tables.push_back(e.data.substr(0, 5));
  }
  EXPECT_EQ(tables, (std::vector<std::string>{"80,C0", "A0,E0", "C0,20", "E0,20"}));

  // A logo: every row sent, progress on standard error.
  tooltest::TempFolder folder;
  const std::string bmp = folder.Write("logo.bmp", tooltest::BitmapFile(tooltest::Picture::Pattern(40, 12)).Bytes());
  const Ran logo = OnSim({"set", "logo", bmp});
  ASSERT_EQ(logo.status, kExitOk) << logo.err;
  EXPECT_NE(logo.err.find("row 12 of 12"), std::string::npos) << logo.err;
  sim_->WithModel([](fiscalsim::DeviceModel &m) { EXPECT_EQ(m.State().logoRows.size(), 12u); });
  EXPECT_EQ(OnSim({"set", "logo", folder.Write("text.bmp", "not a bitmap")}).status, kExitBadFile);
}

#ifndef _WIN32
// Two devices at once need two ports; the Windows run has one pair.
TEST_F(CliOnSimulator, CloneCopiesEveryGroupOntoAnotherSerialNumber) {
  fiscalsim::Simulator target(fiscal_test::OpenSimLink());
  target.WithModel([](fiscalsim::DeviceModel &m) {
    m.State().serialNumber = "SV000009";
    m.State().headerLines[4] = "OLD";
    m.State().gprsApn = "old.apn";
  });
  target.Start();
  sim_->WithModel([](fiscalsim::DeviceModel &m) { m.State().headerLines[0] = "SOURCE"; });
  const Ran dry = Cli({"clone", "--from", port_, "--to", target.PortName(), "--dry-run"});
  EXPECT_EQ(dry.status, kExitOk) << dry.err;
  EXPECT_NE(dry.out.find("header line 0: \"\" -> \"SOURCE\""), std::string::npos) << dry.out;
  const Ran clone = Cli({"--yes", "--reports", "clone", "--from", port_, "--to", target.PortName()});
  ASSERT_EQ(clone.status, kExitOk) << clone.err;
  target.WithModel([](fiscalsim::DeviceModel &m) {
    EXPECT_EQ(m.State().headerLines[0], "SOURCE");
    EXPECT_EQ(m.State().headerLines[4], " ");
    EXPECT_EQ(m.State().gprsApn, "internet");
    EXPECT_EQ(m.State().serialNumber, "SV000009");
  });
  target.Stop();
}
#endif

// Every exit status from what the device did, and what the device then holds: what the message
// says was written is there, what it says was not is not.
TEST_F(CliOnSimulator, EachExitStatusTellsWhatTheDeviceHolds) {
  using fiscalsim::command::kCodeTable;
  using fiscalsim::command::kHeaderLine;
  using fiscalsim::command::kLogoRow;
  using fiscalsim::command::kSetTaxRates;
  using fiscalsim::command::kTcpIp;
  const fiscalsim::DeviceState factory = State();
  const auto nothingSent = [this] { EXPECT_EQ(sim_->ReceivedFrames().Total(), 0u); };
  const auto unchanged = [this, &factory] {
    const auto now = State();
    EXPECT_EQ(now.headerLines, factory.headerLines);
    EXPECT_EQ(now.taxRates, factory.taxRates);
    EXPECT_EQ(now.tcpIp, factory.tcpIp);
  };
  const auto untouched = [this, &unchanged] {
    EXPECT_EQ(Writes(), 0u);
    unchanged();
  };
  const auto noBackup = [this] {
    EXPECT_FALSE(fs::exists(File("b.json")));
    for (const auto &entry : fs::directory_iterator(File(""))) ADD_FAILURE() << "left behind: " << entry.path();
  };
  const auto backupThenChange = [this] {
    ASSERT_EQ(OnSim({"backup", File("restore.json")}).status, kExitOk);
    ChangeDevice();
  };
  const std::string logo = File("logo.bmp");
  const struct {
    const char *name;
    std::function<void()> arrange;
    std::vector<std::string> args;
    int status;
    std::string said;
    std::function<void()> holds;
  } cases[] = {
      {"written", {}, {"set", "header", "0", "SHOP LTD"}, kExitOk, "written: line 0 \"SHOP LTD\"",
       [this] { EXPECT_EQ(State().headerLines[0], "SHOP LTD"); }},
      {"--json on a success", {}, {"--json", "set", "header", "0", "X"}, kExitOk, "\"written\": \"line 0 \\\"X\\\"\"",
       [this] { EXPECT_EQ(State().headerLines[0], "X"); }},
      {"a command left unanswered shows no status of an earlier one",
       [&] { Upsets(fiscalsim::command::kDeviceInfo, Upset::Drop); }, {"send", "90", "0"}, kExitNoDevice,
       "status: (none)", {}},
      {"data longer than a frame", {}, {"send", "43", std::string(220, 'A')}, kExitUsage,
       "the data is 220 bytes; one command carries 219 at most: nothing sent", nothingSent},
      {"a rate in hex", {}, {"set", "vat", "0x10", "-", "-", "-", "-"}, kExitUsage, "not 0x10", nothingSent},
      {"the read before a write is refused", [&] { Upsets(kTcpIp, Upset::Refuse, StartsWith("R")); },
       {"set", "tcpip", "dhcp"}, kExitRefused, "the device refused the reading of tcpip: nothing written", untouched},
      {"the device is gone at the read before a write", [&] { Upsets(kTcpIp, Upset::Drop, StartsWith("R")); },
       {"set", "tcpip", "dhcp"}, kExitNoDevice,
       "the device stopped answering (the reading of tcpip: nothing written)", untouched},
      {"the device is gone at the write", [&] { Upsets(kSetTaxRates, Upset::Drop); },
       {"--reports", "set", "vat", "5", "-", "-", "-", "-"}, kExitNoDevice, "the device stopped answering (the rates)",
       [this, &factory] { EXPECT_EQ(State().taxRates, factory.taxRates); }},
      {"the write is refused", [&] { Upsets(kHeaderLine, Upset::Refuse, StartsWith("1")); },
       {"set", "header", "1", "X"}, kExitRefused, "the device refused the line", unchanged},
      {"--json on a failure", [&] { Upsets(kHeaderLine, Upset::Refuse, StartsWith("1")); },
       {"--json", "set", "header", "1", "X"}, kExitRefused, "\"exit_status\": 3", unchanged},
      {"an unreadable rate", [&] { sim_->WithModel([](fiscalsim::DeviceModel &m) {
         m.Register(fiscalsim::command::kTaxRates, [](fiscalsim::DeviceModel &, std::string_view) {
           return fiscalsim::Answer::Ok("20.00,nan,0.00,-,-");
         });
       }); },
       {"backup", File("b.json")}, kExitRefused, "the device's vat cannot be read: \"nan\" is no rate", noBackup},
      {"an identity no backup can hold", [&] { sim_->WithModel([](fiscalsim::DeviceModel &m) {
         m.State().serialNumber = "SV\x01";
       }); },
       {"backup", File("b.json")}, kExitBadFile,
       "make no sound backup (device.serial_number: has a control character): nothing written", noBackup},
      {"a restore whose device is gone before its first write",
       [&] { backupThenChange(); Upsets(kHeaderLine, Upset::Drop, [](std::string_view d) { return d[0] != 'I'; }); },
       {"--yes", "--reports", "restore", File("restore.json")}, kExitNoDevice,
       "header not written (the device stopped answering); nothing written",
       [this] { EXPECT_EQ(State().headerLines[2], "CHANGED"); }},
      {"a restore that wrote some lines", [&] { backupThenChange(); Upsets(kHeaderLine, Upset::Refuse, StartsWith("8")); },
       {"--yes", "--reports", "restore", File("restore.json")}, kExitPartial,
       "partial restore: header failed (the device refused it); written: header (line 2)",
       [this] {
         EXPECT_EQ(State().headerLines[2], " ");
         EXPECT_EQ(State().headerLines[8], "AD CHANGED");
       }},
      {"a restore nobody confirmed", backupThenChange, {"restore", File("restore.json")}, kExitDeclined,
       "nothing written", [this] { EXPECT_EQ(State().headerLines[2], "CHANGED"); }},
      {"a code table cut short", [&] { Upsets(kCodeTable, Upset::Refuse, StartsWith("C0")); },
       {"set", "codetable", "dos"}, kExitPartial, "the device refused block 3 of 4; blocks 1 to 2 are written", {}},
      {"a logo file that shrank while it was sent",
       [&] {
         folder_.Write("logo.bmp", tooltest::BitmapFile(tooltest::Picture::Pattern(40, 12)).Bytes());
         sim_->WithModel([&](fiscalsim::DeviceModel &m) {
           m.Register(kLogoRow, [original = m.HandlerOf(kLogoRow), logo](fiscalsim::DeviceModel &model, std::string_view d) {
             if (d.substr(0, 2) == "3,") fs::resize_file(logo, 62);  // the headers alone are left
             return original(model, d);
           });
         });
       },
       {"set", "logo", logo}, kExitPartial, "cannot read row 5 of " + logo + " (the file changed while it was sent); rows 1 to 4 are in the device",
       [this] { EXPECT_EQ(State().logoRows.size(), 4u); }},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    FreshDevice();
    for (const auto &entry : fs::directory_iterator(File(""))) fs::remove(entry.path());
    if (c.arrange) c.arrange();
    sim_->ReceivedFrames().Clear();
    const Ran ran = OnSim(c.args);
    EXPECT_EQ(ran.status, c.status) << ran.err;
    EXPECT_NE((ran.status == kExitOk ? ran.out : ran.err + ran.out).find(c.said), std::string::npos) << ran.err << ran.out;
    if (c.args[0] == "--json") {
      const auto doc = nlohmann::json::parse(ran.out);
      EXPECT_EQ(doc["exit_status"], c.status);
      EXPECT_EQ(doc.contains("error"), c.status != kExitOk);
    }
    if (c.holds) c.holds();
  }
}

// What is not a file the program can read is refused at once, never waited on.
TEST_F(CliOnSimulator, APortInUseOrAFileThatIsNoneIsSaidSo) {
#ifndef _WIN32
  // (Windows refuses a second opener too, but wine, where the Windows tests run, does not.)
  {
    platform::SerialPort holder;
    ASSERT_EQ(holder.Open(port_), 0);
    const Ran busy = OnSim({"get", "vat"});
    EXPECT_EQ(busy.status, kExitNoDevice);
    EXPECT_NE(busy.err.find(port_ + " is in use by another program"), std::string::npos) << busy.err;
  }
  // An alias directory another account could write to maps no name: nothing is opened.
  const std::string shared = File("shared");
  fs::create_directory(shared);
  fs::permissions(shared, fs::perms::all);
  fs::create_symlink(port_, shared + "/COM7");
  ::setenv("FISCAL_COM_DIR", shared.c_str(), 1);
  const Ran planted = Cli({"--port", "COM7", "backup", File("b.json")});
  ::unsetenv("FISCAL_COM_DIR");
  EXPECT_EQ(planted.status, kExitNoDevice);
  EXPECT_NE(planted.err.find("COM7 is refused: " + shared + " is writable by others"), std::string::npos) << planted.err;
  EXPECT_EQ(sim_->ReceivedFrames().Total(), 0u);

  ASSERT_EQ(::mkfifo(File("fifo").c_str(), 0600), 0);
  for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
           {"restore", File("fifo")}, {"set", "logo", File("fifo")}, {"restore", "/dev/zero"}}) {
    const Ran ran = OnSim(args);
    EXPECT_EQ(ran.status, kExitBadFile) << args[1];
    EXPECT_NE(ran.err.find("is not a regular file"), std::string::npos) << ran.err;
  }
  // A backup is the owner's alone, whatever the umask.
  const mode_t saved = ::umask(0);
  const Ran backup = OnSim({"backup", File("b.json")});
  ::umask(saved);
  ASSERT_EQ(backup.status, kExitOk) << backup.err;
  struct stat st {};
  ASSERT_EQ(::stat(File("b.json").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif
}

TEST_F(CliOnSimulator, NoDeviceIsItsOwnStatus) {
  sim_->Faults().GoSilent();
  EXPECT_EQ(OnSim({"backup", File("b.json")}).status, kExitNoDevice);
  EXPECT_FALSE(fs::exists(File("b.json")));
  sim_->Faults().Resume();

  // Gone after the rates: the backup ends as one without a device, and leaves no file.
  sim_->WithModel([sim = sim_.get()](fiscalsim::DeviceModel &m) {
    m.Register(fiscalsim::command::kTaxRates, [sim](fiscalsim::DeviceModel &, std::string_view) {
      sim->Faults().GoSilent();
      return fiscalsim::Answer::Ok("20.00,9.00,0.00,-,-");
    });
  });
  const Ran gone = OnSim({"backup", File("b.json")});
  EXPECT_EQ(gone.status, kExitNoDevice);
  EXPECT_NE(gone.err.find("stopped answering"), std::string::npos) << gone.err;
  EXPECT_FALSE(fs::exists(File("b.json")));
  sim_->Faults().Resume();
}

#ifndef _WIN32
// The search without --port: COM1..COM20 through the port alias directory, where only COM7 is.
TEST_F(CliOnSimulator, PortsFindsTheDeviceAndItsIdentity) {
  char dirTemplate[] = "/tmp/cli-com-XXXXXX";
  ASSERT_NE(mkdtemp(dirTemplate), nullptr);
  setenv("FISCAL_COM_DIR", dirTemplate, 1);
  std::string error;
  auto alias = fiscalsim::PortAlias::Create("COM7", sim_->PortName(), &error);
  ASSERT_NE(alias, nullptr) << error;
  const Ran ran = Cli({"--json", "ports"});
  EXPECT_EQ(ran.status, kExitOk) << ran.err;
  const auto doc = nlohmann::json::parse(ran.out);
  ASSERT_EQ(doc.size(), 1u);
  EXPECT_EQ(doc[0]["port"], "COM7");
  EXPECT_EQ(doc[0]["link"], "serial");
  EXPECT_EQ(doc[0]["device"]["serial_number"], "SV000001");
  EXPECT_EQ(doc[0]["device"]["model"], "FSIM");
  EXPECT_EQ(Cli({"get", "vat"}).status, kExitOk) << "the same search serves every command";
  alias.reset();
  EXPECT_EQ(Cli({"ports"}).status, kExitNoDevice);
  unsetenv("FISCAL_COM_DIR");
  fs::remove_all(dirTemplate);
}
#endif

// doctor on the port the simulator serves: the device found and asked, and the bundle with its
// settings backup, in which no password read from the device appears, in clear or as trace hex.
TEST_F(CliOnSimulator, DoctorFindsTheDeviceAndItsBundleHoldsNoPassword) {
  const std::string secret = "Pw7secret";
  sim_->WithModel([&](fiscalsim::DeviceModel &m) { m.State().gprsPassword = secret; });
  const std::string bundle = File("support.zip");
  const Ran ran = OnSim({"doctor", "--json", "--bundle", bundle});
  ASSERT_EQ(ran.status, kExitOk) << ran.err << ran.out;
  EXPECT_NE(ran.err.find("[1/"), std::string::npos) << ran.err;
  const auto doc = nlohmann::json::parse(ran.out);
  EXPECT_EQ(doc["answering_port"], port_);
  EXPECT_EQ(doc["bundle"], bundle);
  bool identity = false;
  for (const auto &f : doc["findings"]) {
    EXPECT_TRUE(f.contains("verdict") && f.contains("check") && f.contains("seen") && f.contains("remedy")) << f;
    identity = identity || (f["check"] == "device" && f["seen"].get<std::string>().find("identity") == 0);
  }
  EXPECT_TRUE(identity) << ran.out;

  const std::string bytes = Read(bundle);
  for (const char *name : {"report.txt", "report.json", "versions.txt", "traces.txt", "ports.txt", "udev-rule.txt",
                           "settings-backup.json"})
    EXPECT_NE(bytes.find(name), std::string::npos) << name;
  // The GPRS settings were read (their reply carries the password) and traced, masked.
  EXPECT_NE(bytes.find("bytes masked]"), std::string::npos);
  std::string hex;
  for (const char c : secret) {
    char two[4];
    std::snprintf(two, sizeof two, "%s%02X", hex.empty() ? "" : " ", static_cast<unsigned char>(c));
    hex += two;
  }
  EXPECT_EQ(bytes.find(secret), std::string::npos);
  EXPECT_EQ(bytes.find(hex), std::string::npos) << hex;

  // The text form: one line per finding, the device's port named.
  const Ran text = OnSim({"doctor"});
  EXPECT_EQ(text.status, kExitOk) << text.err;
  EXPECT_NE(text.out.find("ok: the device answers on " + port_ + "\n"), std::string::npos) << text.out;
}

TEST_F(CliOnSimulator, DoctorRefusesABundleOfAnotherKindBeforeProbing) {
  const Ran ran = OnSim({"doctor", "--bundle", File("support.rar")});
  EXPECT_EQ(ran.status, kExitUsage);
  EXPECT_NE(ran.err.find("a .zip or a .tar.gz"), std::string::npos) << ran.err;
  EXPECT_FALSE(fs::exists(File("support.rar")));
  EXPECT_EQ(sim_->ReceivedFrames().Total(), 0u);
}

#ifndef _WIN32
// With no port that exists (an empty private alias map) nothing answers: exit status 2.
TEST_F(CliOnSimulator, DoctorWithoutADeviceSaysSoAndEndsWithStatus2) {
  const std::string empty = File("no-ports");
  fs::create_directory(empty);
  fs::permissions(empty, fs::perms::owner_all);
  ::setenv("FISCAL_COM_DIR", empty.c_str(), 1);
  const Ran ran = Cli({"doctor"});
  ::unsetenv("FISCAL_COM_DIR");
  EXPECT_EQ(ran.status, kExitNoDevice);
  EXPECT_NE(ran.out.find("fail: no device: nothing answers on USB"), std::string::npos) << ran.out;
  EXPECT_NE(ran.err.find("no device answers"), std::string::npos) << ran.err;
}
#endif

}  // namespace
