// fiscal-hub-worker and WorkerPort against the simulator program on a pseudo-terminal.
#include "worker_port.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "device_text.h"
#include "sim_program_posix.h"
#include "tallyport.h"
#include "wait_for.h"
#include "worker_protocol.h"

extern char **environ;

namespace hub {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

// A program with its stdin and stdout on pipes (stdin's write end and stdout's read end here);
// `extra` becomes its descriptor 3 when given.
class Program {
 public:
  explicit Program(std::vector<std::string> args, int extra = -1) {
    int in[2], out[2];
    EXPECT_EQ(::pipe2(in, O_CLOEXEC), 0);
    EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    if (extra >= 0) posix_spawn_file_actions_adddup2(&actions, extra, 3);
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    EXPECT_EQ(::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ), 0) << argv[0];
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    in_ = in[1];
    reader_ = std::make_unique<LineReader>(out[0]);
    out_ = out[0];
  }
  ~Program() {
    if (pid_ > 0) ::kill(pid_, SIGKILL);
    CloseInput();
    if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    ::close(out_);
  }

  pid_t Pid() const { return pid_; }
  void Write(std::string_view text) { ASSERT_EQ(::write(in_, text.data(), text.size()), ssize_t(text.size())); }
  // The next line of stdout; empty when none came in time.
  std::string ReadLine() {
    std::string line;
    return reader_->Read(&line, Clock::now() + fiscal_test::kPatience) == LineReader::Status::Line ? line : "";
  }
  void CloseInput() {
    if (in_ >= 0) ::close(in_);
    in_ = -1;
  }
  // The exit status, waiting at most `limit`; -1 when it did not end by then.
  int Wait(std::chrono::milliseconds limit) {
    int status = -1;
    const bool ended = fiscal_test::WaitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, limit);
    if (!ended) return -1;
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::unique_ptr<LineReader> reader_;
};

// The simulator as COM7 in a folder of its own, with a journal of the frames it received.
class WorkerPortTest : public fiscal_test::SimProgramTest {
 protected:
  WorkerPortTest() : SimProgramTest("fiscal-hub-test") {}
  void TearDown() override {
    StopSim();
    SimProgramTest::TearDown();
  }

  // Starts the simulator, misbehaving as `faults` says.
  void StartSim(const std::string &faults = "") {
    std::vector<std::string> args = {"--journal", Journal()};
    if (!faults.empty()) {
      std::ofstream(dir_ / "faults.txt") << faults;
      args.insert(args.end(), {"--faults", (dir_ / "faults.txt").string()});
    }
    sim_ = StartSimProgram("COM7", args, dir_ / "sim.out");
  }

  // Ends the simulator as a user would, so that it takes its COM7 away.
  void StopSim() {
    if (!sim_) return;
    sim_->Signal(SIGTERM);
    EXPECT_TRUE(sim_->Wait(fiscal_test::kPatience).has_value());
    sim_.reset();
  }

  std::string Journal() const { return (dir_ / "journal.jsonl").string(); }

  // The command frames the simulator received (or its replies), as "<code> <data as bytes>".
  std::vector<std::string> Frames(const char *dir = "in") const {
    std::vector<std::string> frames;
    std::ifstream journal(Journal());
    for (std::string line; std::getline(journal, line);) {
      const json entry = json::parse(line);
      if (entry["dir"] != dir || !entry.contains("cmd")) continue;
      frames.push_back(std::to_string(entry["cmd"].get<int>()) + " " +
                       ByteStringToBytes(entry["data"].get<std::string>()).value_or("?"));
    }
    return frames;
  }

  WorkerOptions Options(std::chrono::milliseconds limit = 60s) const {
    WorkerOptions options;
    options.workerPath = FISCAL_HUB_WORKER_PATH;
    options.port = "COM7";
    options.callLimit = limit;
    return options;
  }

  std::unique_ptr<fiscal_test::Program> sim_;
};

bool IsStatus(const std::string &status) {
  return status.size() == 12 && status.find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos;
}

// The receipt through a worker, then the same exports in this process: the device sees the same
// frames, and the outs say the same (the second receipt one number on).
TEST_F(WorkerPortTest, ReceiptThroughTheWorkerSendsTheLibrarysOwnFrames) {
  StartSim();
  std::string item;
  for (int b = 0xC0; b <= 0xFF; ++b) item.push_back(static_cast<char>(b));
  std::vector<CallResult> results;
  {
    WorkerPort port(Options());
    for (const auto &[op, args] : std::vector<std::pair<std::string, json>>{
             {"BeginFiscalBon", {1, "0000", 1, ""}},
             {"Sale", {BytesToByteString(item), "A", 1.5, 2, 0}},
             {"Total", {"", "P", 5}},
             {"EndFiscalBon", json::array()},
             {"SubTotal", {0, 0, 0}},  // refused outside a receipt: its text out stays unwritten
         }) {
      results.push_back(port.Call(op, args));
      EXPECT_TRUE(IsStatus(results.back().status)) << op << ": " << results.back().status;
    }
  }
  for (size_t i = 0; i + 1 < results.size(); ++i) EXPECT_EQ(results[i].code, 0) << i;
  EXPECT_TRUE(StatusRefused(results[4].status));
  EXPECT_EQ(results[4].out, json({{"text", nullptr}}));
  EXPECT_EQ(results[2].out, json({{"paymentCode", 'D'}, {"amount", 2.0}}));
  const std::vector<std::string> viaWorker = Frames();
  ASSERT_EQ(viaWorker.size(), 5u);
  EXPECT_EQ(viaWorker[1], "49 " + item + "\tA1.50*2.000,0.00") << "the item's bytes as they were given";

  ASSERT_EQ(Connect("COM7", 115200, 8, 0, 0), 0);
  int16_t first = 0, second = 0, code = 0;
  double change = 0;
  char text[TALLYPORT_TEXT_SIZE] = "untouched";
  EXPECT_EQ(BeginFiscalBon(1, "0000", 1, 0, &first, &second), 0);
  EXPECT_EQ(first, results[0].out["first"].get<int>() + 1);
  EXPECT_EQ(Sale(item.c_str(), "A", 1.5, 2, 0), 0);
  EXPECT_EQ(Total("", "P", 5, &code, &change), 0);
  EXPECT_EQ(json({{"paymentCode", code}, {"amount", change}}), results[2].out);
  EXPECT_EQ(EndFiscalBon(&first, &second), 0);
  EXPECT_EQ(first, results[3].out["first"].get<int>() + 1);
  EXPECT_EQ(SubTotal(0, 0, 0, text), 0);
  EXPECT_EQ(Disconnect(), 0);
  const std::vector<std::string> all = Frames();
  EXPECT_EQ(std::vector<std::string>(all.begin() + 5, all.end()), viaWorker);
}

// Lines that are no call get 10006 with a reason, nothing reaches the device, and the worker
// goes on to the next line.
TEST_F(WorkerPortTest, MalformedLinesAreRefusedAndNothingIsSent) {
  StartSim();
  Program worker({FISCAL_HUB_WORKER_PATH, "COM7", "115200"});
  for (const std::string &line : std::vector<std::string>{
           "not json",
           "[]",
           R"({"op":"Sale"})",
           R"({"op":"Nope","args":[]})",
           R"({"op":"GetDocNumber","args":[],"more":1})",
           R"({"op":"Sale","args":["Milk","A",1.5,1]})",
           R"({"op":"Sale","args":["Milk","A","1.5",1,0]})",
           R"({"op":"PrintCopyBon","args":[32768]})",
           R"({"op":"PrintCopyBon","args":[1.5]})",
           R"({"op":"PrintCopyBon","args":[true]})",
           R"({"op":"PerReport","args":[-1]})",
           R"({"op":"SalePlu","args":[2147483648,1,0,0]})",
           R"({"op":"BeginFiscalBon","args":[4294967296,"0000",1,""]})",
           R"({"op":"BeginFiscalBon","args":[1,"0000",1,"ab"]})",
           R"({"op":"PrintFiscalText","args":["\u0410"]})",
           R"({"op":"PrintFiscalText","args":["a\u0000b"]})",
           "{\"op\":\"PrintFiscalText\",\"args\":[\"\xFF\"]}",
           std::string(kMaxWorkerLine + 10, ' '),
       }) {
    worker.Write(line + "\n");
    const json answer = json::parse(worker.ReadLine(), nullptr, false);
    EXPECT_EQ(answer.value("code", 0), kBadParameter) << line.substr(0, 60);
    EXPECT_FALSE(answer.value("error", "").empty()) << line.substr(0, 60);
  }
  EXPECT_EQ(Frames(), std::vector<std::string>());
  worker.Write(R"({"op":"GetDocNumber","args":[]})"
               "\n");
  EXPECT_EQ(json::parse(worker.ReadLine())["code"], 0);
  worker.CloseInput();
  EXPECT_EQ(worker.Wait(5s), 0) << "stdin's end ends the worker";

  WorkerPort port(Options());
  const CallResult refused = port.Call("Sale", {"Milk"});
  EXPECT_EQ(refused.code, kBadParameter);
  EXPECT_EQ(EffectOf(refused), Effect::NotSent);
  EXPECT_EQ(Frames().size(), 1u);
}

// A worker killed in a call, or one that overruns the call's limit, loses the call; the next
// call gets a fresh worker.
TEST_F(WorkerPortTest, ALostWorkerAnswersLineLostAndTheNextCallStartsAFreshOne) {
  struct Case {
    const char *name;
    std::chrono::milliseconds limit;
    bool kill;
  };
  for (const Case c : {Case{"killed", 60s, true}, Case{"overrun", 700ms, false}}) {
    SCOPED_TRACE(c.name);
    StartSim("on command 0x2D once: delay 2000\n");
    WorkerPort port(Options(c.limit));
    ASSERT_EQ(port.Call("GetDocNumber", json::array()).code, 0);
    const pid_t first = port.WorkerPid();
    std::thread killer;
    if (c.kill) {
      killer = std::thread([&] {
        // Once the device has the command, the worker waits for its late answer.
        fiscal_test::WaitFor([&] { return Frames().size() == 2; });
        ::kill(first, SIGKILL);
      });
    }
    const auto start = Clock::now();
    const CallResult lost = port.Call("CutPaper", json::array());
    const auto took = Clock::now() - start;
    if (killer.joinable()) killer.join();
    // The device is busy until its late answer.
    EXPECT_TRUE(fiscal_test::WaitFor([&] { return Frames("out").size() == 2; }));
    EXPECT_EQ(lost.code, kLineLost);
    EXPECT_EQ(EffectOf(lost), Effect::Unknown);
    EXPECT_LT(took, 1500ms) << "before the device's late answer";
    EXPECT_EQ(port.WorkerPid(), 0);
    EXPECT_EQ(::kill(first, 0), -1) << "killed and reaped";
    const CallResult again = port.Call("GetDocNumber", json::array());
    EXPECT_EQ(again.code, 0);
    EXPECT_TRUE(IsStatus(again.status));
    EXPECT_NE(port.WorkerPid(), first);
    EXPECT_NE(port.WorkerPid(), 0);
    port.Stop();
    StopSim();
    fs::remove(Journal());
  }
}

// No worker outlives its hub: one whose port is destroyed disconnects and exits, one whose
// parent is killed outright is killed with it.
TEST_F(WorkerPortTest, NoWorkerOutlivesItsHub) {
  StartSim();
  pid_t worker = 0;
  {
    WorkerPort port(Options());
    ASSERT_EQ(port.Call("GetDocNumber", json::array()).code, 0);
    worker = port.WorkerPid();
    ASSERT_GT(worker, 0);
    const auto start = Clock::now();
    port.Stop();
    EXPECT_LT(Clock::now() - start, 1s) << "it ended by itself, not by the kill after a second";
    EXPECT_EQ(::kill(worker, 0), -1);
    EXPECT_EQ(port.Call("GetDocNumber", json::array()).code, 0) << "a call after Stop starts a new one";
    worker = port.WorkerPid();
  }
  EXPECT_EQ(::kill(worker, 0), -1);

  // A shell plays the hub: it starts a worker whose stdin stays open here, then is killed. The
  // worker comes to this process, which adopts orphans below it, to be reaped.
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  int input[2];
  ASSERT_EQ(::pipe2(input, O_CLOEXEC), 0);
  const std::string script = std::string(FISCAL_HUB_WORKER_PATH) + " COM7 115200 <&3 3<&- & echo $!; exec sleep 60";
  auto hub = std::make_unique<Program>(std::vector<std::string>{"/bin/sh", "-c", script}, input[0]);
  const pid_t orphan = std::stoi(hub->ReadLine());
  // An answer shows that the worker has set itself to die with its parent.
  const std::string call = R"({"op":"GetDocNumber","args":[]})"
                           "\n";
  ASSERT_EQ(::write(input[1], call.data(), call.size()), ssize_t(call.size()));
  ASSERT_EQ(json::parse(hub->ReadLine())["code"], 0);
  ::kill(hub->Pid(), SIGKILL);
  hub.reset();
  int status = 0;
  EXPECT_TRUE(fiscal_test::WaitFor([&] { return ::waitpid(orphan, &status, WNOHANG) == orphan; }));
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  ::prctl(PR_SET_CHILD_SUBREAPER, 0);
  ::close(input[0]);
  ::close(input[1]);
}

// Workers that break the protocol, played by shell scripts: each is killed and the call is lost,
// except a refusal, which passes as the worker gave it. An answer nobody asked for costs the
// worker, not the next call.
TEST_F(WorkerPortTest, AWorkerThatBreaksTheProtocolLosesTheCall) {
  const std::string ok = R"({"code":0,"out":{},"status":""})";
  struct Case {
    const char *name;
    std::string script;  // none: no such program
    int32_t first;
    int32_t second;
    bool fresh;  // the second call had a worker of its own
  };
  for (const Case &c : std::vector<Case>{
           {"garbage", "read l; echo 'not json'; exec sleep 60", kLineLost, kLineLost, true},
           {"code as text", R"(read l; echo '{"code":"0","out":{},"status":""}'; exec sleep 60)", kLineLost, kLineLost,
            true},
           {"bad status", R"(read l; echo '{"code":0,"out":{},"status":"xyz"}'; exec sleep 60)", kLineLost, kLineLost,
            true},
           {"over-long", "read l; head -c 70000 /dev/zero | tr '\\0' a; exec sleep 60", kLineLost, kLineLost, true},
           {"silent exit", "read l; exit 0", kLineLost, kLineLost, true},
           {"refusal", R"(while read l; do echo '{"code":10006,"error":"no"}'; done)", kBadParameter, kBadParameter,
            true},
           {"two answers", "while read l; do printf '%s\\n%s\\n' '" + ok + "' '" + ok + "'; done", kSuccess, kSuccess,
            true},
           {"no program", "", kNotConnected, kNotConnected, true},
           // Deaf to the end of its stdin: killed after its second, not waited for.
           {"stays", "while read l; do echo '" + ok + "'; done; exec <&- >&-; exec sleep 60", kSuccess, kSuccess,
            false},
       }) {
    SCOPED_TRACE(c.name);
    const fs::path script = dir_ / "worker.sh";
    fs::remove(script);
    if (!c.script.empty()) {
      std::ofstream(script) << "#!/bin/sh\n" << c.script << "\n";
      fs::permissions(script, fs::perms::owner_all);
    }
    WorkerOptions options = Options(5s);
    options.workerPath = script.string();
    WorkerPort port(options);
    const auto start = Clock::now();
    EXPECT_EQ(port.Call("GetDocNumber", json::array()).code, c.first);
    const pid_t first = port.WorkerPid();
    EXPECT_EQ(port.Call("GetDocNumber", json::array()).code, c.second);
    if (c.second == kSuccess) {
      EXPECT_EQ(port.WorkerPid() != first, c.fresh);
    }
    port.Stop();
    EXPECT_LT(Clock::now() - start, 4s);
  }
}

// Callers' threads come and go; the worker stays with its port. (A worker dies with the thread
// that started it, so the port must not start it from the caller's.) The library's traces, on
// here, stay off the answers' way.
TEST_F(WorkerPortTest, CallsFromThreadsThatEndShareOneWorker) {
  StartSim();
  ::setenv("VRN_TRACE", "1", 1);
  WorkerPort port(Options());
  ASSERT_EQ(port.Call("GetDocNumber", json::array()).code, kSuccess);
  ::unsetenv("VRN_TRACE");
  std::vector<std::thread> callers;
  std::vector<int32_t> codes(8, -2);
  for (size_t i = 0; i < codes.size(); ++i) {
    callers.emplace_back([&, i] { codes[i] = port.Call("GetDocNumber", json::array()).code; });
  }
  for (std::thread &t : callers) t.join();
  EXPECT_EQ(codes, std::vector<int32_t>(codes.size(), kSuccess));
  const pid_t worker = port.WorkerPid();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(port.Call("GetDocNumber", json::array()).code, kSuccess);
  EXPECT_EQ(port.WorkerPid(), worker);
}

}  // namespace
}  // namespace hub
