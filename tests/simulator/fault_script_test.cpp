// Fault scripts against the FaultPlan calls they stand for, and the journal of the line.
#include "fiscalsim/fault_script.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <sstream>

#include "fiscalsim/byte_pipe.h"
#include "fiscalsim/pty_link.h"
#include "fiscalsim/simulator.h"
#include "fiscalsim/wire_journal.h"
#include "platform/serial_port.h"

namespace fiscalsim {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kPatience = 5s;
// How long a request may go unanswered before it counts as swallowed: above the longest delay
// the cases arm.
constexpr auto kQuiet = 600ms;

// What a simulator on a pipe sent and executed for a run of requests.
struct WireRun {
  std::vector<Bytes> sent;
  std::vector<std::string> executed;  // "cmd:data"
  std::vector<bool> late;             // per frame sent: 250 ms or more after the last received
};

// Requests 0..4: three paper cuts told apart by their data, two status requests.
const std::vector<std::pair<uint8_t, std::string>> kRequests = {{command::kPaperCut, "a"},
                                                                {command::kPaperCut, "b"},
                                                                {command::kPrinterStatus, ""},
                                                                {command::kPaperCut, "c"},
                                                                {command::kPrinterStatus, ""}};

// Sends the requests one by one, each once the last was answered, refused or swallowed;
// `arm(plan, i)` runs just before request i goes out.
WireRun Drive(const std::vector<FaultRule> &rules, const std::function<void(FaultPlan &, size_t)> &arm) {
  WireRun run;
  std::mutex mutex;
  Clock::time_point lastIn;
  SimulatorOptions options;
  options.onWire = [&](bool received, std::span<const uint8_t> bytes) {
    std::lock_guard lock(mutex);
    if (received) {
      lastIn = Clock::now();
    } else {
      run.sent.emplace_back(bytes.begin(), bytes.end());
      run.late.push_back(bytes.size() > 1 && Clock::now() - lastIn >= 250ms);
    }
  };
  options.beforeCommand = [&](const DeviceModel &, uint8_t cmd, std::string_view data) {
    std::lock_guard lock(mutex);
    run.executed.push_back(std::to_string(cmd) + ":" + std::string(data));
  };
  BytePipe pipe = MakeBytePipe();
  Simulator sim(std::move(pipe.device), options);
  sim.Faults().SetRules(rules);
  sim.Start();
  for (size_t i = 0; i < kRequests.size(); ++i) {
    arm(sim.Faults(), i);
    if (!pipe.host.Write(BuildRequest(static_cast<uint8_t>(kFirstSeq + i), kRequests[i].first, kRequests[i].second))) {
      break;
    }
    EXPECT_TRUE(sim.ReceivedFrames().WaitForSize(i + 1, kPatience));
    ReplyReader reader;
    std::vector<ReplyReader::Event> events;
    bool answered = false;
    while (!answered) {
      uint8_t buffer[256];
      const ptrdiff_t n = pipe.host.Read(buffer, sizeof buffer, kQuiet);
      if (n <= 0) break;
      reader.Feed(std::span(buffer, static_cast<size_t>(n)), events);
      for (const auto &e : events) answered = answered || e.kind != ReplyReader::Kind::Busy;
    }
  }
  sim.Stop();
  return run;
}

struct Equivalence {
  const char *line;
  std::set<size_t> armBefore;  // the requests before which the call arms the fault
  std::function<void(FaultPlan &)> call;
};

void PrintTo(const Equivalence &c, std::ostream *os) { *os << c.line; }

class ScriptMatchesCallsTest : public ::testing::TestWithParam<Equivalence> {};

TEST_P(ScriptMatchesCallsTest, SameBytesAndSameFramesExecuted) {
  const Equivalence &c = GetParam();
  std::string error;
  const auto rules = ParseFaultScript(c.line, "case", &error);
  ASSERT_TRUE(rules) << error;
  const WireRun scripted = Drive(*rules, [](FaultPlan &, size_t) {});
  const WireRun called = Drive({}, [&](FaultPlan &plan, size_t i) {
    if (c.armBefore.count(i) != 0) c.call(plan);
  });
  EXPECT_EQ(scripted.sent, called.sent);
  EXPECT_EQ(scripted.executed, called.executed);
  EXPECT_EQ(scripted.late, called.late);
  // Against a fault that changed nothing in either run.
  const WireRun plain = Drive({}, [](FaultPlan &, size_t) {});
  EXPECT_TRUE(called.sent != plain.sent || called.late != plain.late);
}

const Equivalence kEquivalences[] = {
    {"after 2 frames: refuse", {2}, [](FaultPlan &p) { p.NakNext(1); }},
    {"after 1 frame: refuse 2   # the second and third", {1}, [](FaultPlan &p) { p.NakNext(2); }},
    {"on command 0x4a: busy 150", {2, 4}, [](FaultPlan &p) { p.BusyBeforeNext(FaultPlan::kRuleBusyEvery, 150ms); }},
    {"on command 74 once: delay 300", {2}, [](FaultPlan &p) { p.DelayNext(300ms); }},
    {"\n# first a comment\n\tafter 3 frames : bad-check\r\n", {3}, [](FaultPlan &p) { p.CorruptNextCheck(); }},
    {"on command 45: wrong-seq", {0, 1, 3}, [](FaultPlan &p) { p.WrongSeqNext(); }},
    {"after 0 frames: silence 2", {0}, [](FaultPlan &p) { p.SilentFor(2); }},
    {"after 3 frames: silence forever", {3}, [](FaultPlan &p) { p.GoSilent(); }},
    {"on command 0X4A: error-flag", {2, 4}, [](FaultPlan &p) { p.ErrorFlagNext(); }},
    {"after 2 frames: vanish", {2}, [](FaultPlan &p) { p.VanishOnNext(); }},
    // A pipe cannot come back: the timed vanish stays a vanish there.
    {"after 2 frames: vanish 50", {2}, [](FaultPlan &p) { p.VanishOnNext(50ms); }},
    {"after 1 frames: refuse\nafter 1 frames: delay 300",
     {1},
     [](FaultPlan &p) {
       p.NakNext(1);
       p.DelayNext(300ms);
     }},
};

INSTANTIATE_TEST_SUITE_P(Actions, ScriptMatchesCallsTest, ::testing::ValuesIn(kEquivalences));

TEST(FaultScriptTest, ErrorFlagRefusesWithoutExecuting) {
  std::string error;
  const WireRun run =
      Drive(*ParseFaultScript("on command 45 once: error-flag", "case", &error), [](FaultPlan &, size_t) {});
  ASSERT_FALSE(run.sent.empty());
  const auto reply = ParseReply(run.sent[0]);
  ASSERT_TRUE(reply);
  EXPECT_TRUE(reply->checkOk);
  EXPECT_EQ(reply->status, (StatusBytes{0xA0, 0x80, 0x80, 0x80, 0x80, 0x80}));
  EXPECT_EQ(run.executed.front(), "45:b") << "the refused first cut never ran";
}

TEST(FaultScriptTest, BadLinesAreNamedWithTheirNumber) {
  const std::pair<const char *, const char *> cases[] = {
      {"after 3 frames: refuze", "f.txt:1: unknown action 'refuze'"},
      {"# ok\n\nafter 3 frames refuse", "f.txt:3: missing ':' between trigger and action"},
      {"before 3 frames: refuse", "f.txt:1: unknown trigger 'before' (expected 'after' or 'on')"},
      {"after x frames: refuse", "f.txt:1: bad count of frames 'x'"},
      {"after -1 frames: refuse", "f.txt:1: bad count of frames '-1'"},
      {"after 99999999999 frames: refuse", "f.txt:1: bad count of frames '99999999999'"},
      {"after 3: refuse", "f.txt:1: expected 'frames' after the count"},
      {"after 3 frames twice: refuse", "f.txt:1: unexpected 'twice' before ':'"},
      {"on 48: refuse", "f.txt:1: expected 'command' after 'on'"},
      {"on command: refuse", "f.txt:1: 'on command' needs a command code"},
      {"on command 256: refuse", "f.txt:1: bad command code '256' (0 to 255, decimal or 0xHH)"},
      {"on command 0x100: refuse", "f.txt:1: bad command code '0x100' (0 to 255, decimal or 0xHH)"},
      {"on command 0x: refuse", "f.txt:1: bad command code '0x' (0 to 255, decimal or 0xHH)"},
      {"on command 48 twice: refuse", "f.txt:1: unexpected 'twice' before ':'"},
      {"after 1 frames:", "f.txt:1: missing action after ':'"},
      {"after 1 frames: refuse 0", "f.txt:1: bad count '0' for 'refuse' (1 to 1000000)"},
      {"after 1 frames: refuse 2 3", "f.txt:1: unexpected '3' after the value of 'refuse'"},
      {"after 1 frames: busy", "f.txt:1: 'busy' needs a time in milliseconds"},
      {"after 1 frames: delay 3600001", "f.txt:1: bad time '3600001' for 'delay' (milliseconds, 1 to 3600000)"},
      {"after 1 frames: vanish 1.5", "f.txt:1: bad time '1.5' for 'vanish' (milliseconds, 1 to 3600000)"},
      {"after 1 frames: bad-check 2", "f.txt:1: 'bad-check' takes no value, found '2'"},
      {"after 1 frames: silence always", "f.txt:1: bad count 'always' for 'silence' (1 to 1000000)"},
      {"after 1 frames: \x1B[2Jrefuse", "f.txt:1: unknown action '\\x1B[2Jrefuse'"},
      {": refuse", "f.txt:1: a rule starts with 'after' or 'on'"},
  };
  for (const auto &[text, message] : cases) {
    std::string error;
    EXPECT_FALSE(ParseFaultScript(text, "f.txt", &error)) << text;
    EXPECT_EQ(error, message) << text;
  }
}

TEST(FaultScriptTest, LoaderNamesTheFileAndRefusesWhatIsNoFile) {
  const fs::path dir = fs::temp_directory_path() / ("fault-script-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "faults.txt") << "after 1 frames: refuse\non command 0x35 once: silence\n";
  std::string error;
  const auto rules = LoadFaultScript((dir / "faults.txt").string(), &error);
  ASSERT_TRUE(rules) << error;
  ASSERT_EQ(rules->size(), 2u);
  EXPECT_EQ((*rules)[1].line, 2u);
  EXPECT_FALSE(LoadFaultScript(dir.string(), &error));
  EXPECT_NE(error.find(dir.string()), std::string::npos) << error;
  fs::remove_all(dir);
}

// The port of a pseudo-terminal comes back under a new path once the vanish's time is up.
TEST(FaultScriptTest, TimedVanishBringsThePtyBack) {
  std::mutex mutex;
  std::condition_variable back;
  std::string backAs;
  SimulatorOptions options;
  options.onPortBack = [&](const std::string &name) {
    std::lock_guard lock(mutex);
    backAs = name;
    back.notify_all();
  };
  Simulator sim(OpenPtyLink(), options);
  const std::string before = sim.PortName();
  sim.Start();
  sim.Faults().VanishOnNext(200ms);
  platform::SerialPort port;
  ASSERT_EQ(port.Open(before), 0);
  const Bytes cut = BuildRequest(kFirstSeq, command::kPaperCut, "");
  port.Write(cut.data(), cut.size(), kPatience);
  EXPECT_NE(port.WaitReadable(kPatience), platform::WaitResult::Readable);
  EXPECT_TRUE(sim.PortClosed());
  port.Close();
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(back.wait_for(lock, kPatience, [&] { return !backAs.empty(); }));
  }
  EXPECT_EQ(sim.PortName(), backAs);
  EXPECT_FALSE(sim.PortClosed());
  ASSERT_EQ(port.Open(backAs), 0);
  ASSERT_EQ(port.Write(cut.data(), cut.size(), kPatience), cut.size());
  Bytes reply;
  while (reply.size() < kReplyOverhead && port.WaitReadable(kPatience) == platform::WaitResult::Readable) {
    uint8_t buffer[64];
    const ptrdiff_t n = port.Read(buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    reply.insert(reply.end(), buffer, buffer + n);
  }
  EXPECT_EQ(reply, BuildReply(kFirstSeq, command::kPaperCut, "", kStatusIdle));
}

TEST(WireJournalTest, ListsTheLineInOrderMaskedAndAsJson) {
  const fs::path path = fs::temp_directory_path() / ("wire-journal-" + std::to_string(::getpid()) + ".jsonl");
  fs::remove(path);
  std::string error;
  const auto journal = WireJournal::Open(path.string(), &error);
  ASSERT_TRUE(journal) << error;
  EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  SimulatorOptions options;
  options.onWire = [&](bool received, std::span<const uint8_t> bytes) { journal->Record(received, bytes); };
  BytePipe pipe = MakeBytePipe();
  Simulator sim(std::move(pipe.device), options);
  sim.Start();
  sim.Faults().NakNext(1);
  const std::string secret = "Zq7Kw";
  const std::string odd = "\xC0\x01\"\\\x7F";
  Bytes requests = BuildRequest(0x20, command::kOpenReceipt, "1," + secret + ",1");
  for (const Bytes &more :
       {BuildRequest(0x21, command::kOpenReceipt, "1," + secret + ",1"), BuildRequest(0x22, command::kPaperCut, odd)}) {
    requests.insert(requests.end(), more.begin(), more.end());
  }
  ASSERT_TRUE(pipe.host.Write(requests));
  ReplyReader reader;
  std::vector<ReplyReader::Event> events;
  for (size_t frames = 0; frames < 2;) {
    uint8_t buffer[256];
    const ptrdiff_t n = pipe.host.Read(buffer, sizeof buffer, kPatience);
    ASSERT_GT(n, 0);
    events.clear();
    reader.Feed(std::span(buffer, static_cast<size_t>(n)), events);
    for (const auto &e : events) frames += e.kind == ReplyReader::Kind::Frame;
  }
  sim.Stop();

  std::ifstream in(path);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text.find(secret), std::string::npos);
  EXPECT_EQ(text.find("5A 71 37 4B 77"), std::string::npos);
  std::vector<nlohmann::json> lines;
  std::istringstream split(text);
  for (std::string line; std::getline(split, line);) {
    ASSERT_NO_THROW(lines.push_back(nlohmann::json::parse(line))) << line;
  }
  const std::vector<std::pair<std::string, int>> expected = {{"in", 48},  {"out", -1}, {"in", 48},
                                                             {"out", 48}, {"in", 45},  {"out", 45}};
  ASSERT_EQ(lines.size(), expected.size()) << text;
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i]["dir"], expected[i].first) << i;
    EXPECT_EQ(lines[i].value("cmd", -1), expected[i].second) << i;
    EXPECT_EQ(lines[i]["time"].get<std::string>().size(), 24u) << lines[i];
  }
  EXPECT_EQ(lines[1]["control"], "NAK");
  EXPECT_EQ(lines[0]["data"], "[9 bytes masked]");
  EXPECT_EQ(lines[3]["status"], "80 80 80 80 80 80");
  EXPECT_EQ(lines[4]["data"], "\xC3\x80\x01\"\\\x7F") << "bytes as Latin-1 text";
  fs::remove(path);
}

TEST(WireJournalTest, RefusesALinkAndWhatIsNoFileWithoutHanging) {
  const fs::path dir = fs::temp_directory_path() / ("wire-journal-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  fs::create_symlink(dir / "elsewhere", dir / "link");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  const std::pair<fs::path, std::string> cases[] = {
      {dir / "link", " is a symbolic link"}, {dir / "fifo", "cannot open "}, {dir, "cannot open "}};
  for (const auto &[path, why] : cases) {
    std::string error;
    EXPECT_FALSE(WireJournal::Open(path.string(), &error)) << path;
    EXPECT_NE(error.find(why), std::string::npos) << error;
  }
  EXPECT_FALSE(fs::exists(dir / "elsewhere")) << "nothing made through the link";
  fs::remove_all(dir);
}

}  // namespace
}  // namespace fiscalsim
