// The printer library's reply handling, reached through its exports: a scripted device on a
// pseudo-terminal answers every command with the fuzzed reply, and a few exports with out
// parameters run against it in turn.
//
// Input: byte 0 picks the first of three exports in a row from the table below; byte 1 holds
// the device's manners (bit 0: the reply has no status separator, bit 1: a busy byte comes
// first, bit 2: each command is refused once before it is answered); bytes 2..7 are the status
// bytes (bit 7 is set by the device); the rest is the reply data. A device never sends 03 inside
// a frame, so those bytes are left out of the data.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "fiscalsim/device_link.h"
#include "fiscalsim/frame_codec.h"
#include "fiscalsim/pty_link.h"
#include "tallyport.h"

namespace {

using namespace fiscalsim;

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

struct Script {
  std::string data;
  StatusBytes status{};
  bool noSeparator = false;
  bool busyFirst = false;
  bool refuseOnce = false;
};

// Answers every request frame it reads at once, so that no command waits for a time-out.
class ScriptedDevice {
 public:
  ScriptedDevice() : link_(OpenPtyLink()), thread_([this] { Serve(); }) {}
  ~ScriptedDevice() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    link_->Wake();
    thread_.join();
  }
  ScriptedDevice(const ScriptedDevice &) = delete;
  ScriptedDevice &operator=(const ScriptedDevice &) = delete;

  std::string Port() const { return link_->Name(); }

  void SetScript(Script script) {
    std::lock_guard lock(mutex_);
    script_ = std::move(script);
    refusedValid_ = false;
  }

 private:
  void Serve() {
    RequestParser parser;
    std::vector<ReceivedFrame> frames;
    uint8_t buffer[1024];
    for (;;) {
      const DeviceLink::WaitResult wait = link_->Wait();
      {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
      }
      if (wait == DeviceLink::WaitResult::Closed) return;
      if (wait == DeviceLink::WaitResult::Woken) continue;
      const ptrdiff_t n = link_->Read(buffer, sizeof buffer);
      if (n < 0) return;
      frames.clear();
      parser.Feed(std::span(buffer, static_cast<size_t>(n)), RequestParser::Clock::now(), frames);
      for (const ReceivedFrame &frame : frames) {
        if (!link_->Write(Answer(frame))) return;
      }
    }
  }

  Bytes Answer(const ReceivedFrame &frame) {
    std::lock_guard lock(mutex_);
    // The library builds its frames right; anything else is a fault of the harness or the link.
    Require(frame.good);
    Bytes out;
    if (script_.busyFirst) out.push_back(kBusy);
    const bool resent = frame.seq == refusedSeq_ && frame.cmd == refusedCmd_ && refusedValid_;
    if (script_.refuseOnce && !resent) {
      refusedSeq_ = frame.seq;
      refusedCmd_ = frame.cmd;
      refusedValid_ = true;
      out.push_back(kNak);
      return out;
    }
    // Without the separator the frame has a request's shape: LEN still points at its 05.
    const Bytes reply = script_.noSeparator ? BuildRequest(frame.seq, frame.cmd, script_.data)
                                            : BuildReply(frame.seq, frame.cmd, script_.data, script_.status);
    out.insert(out.end(), reply.begin(), reply.end());
    return out;
  }

  std::unique_ptr<DeviceLink> link_;
  std::mutex mutex_;
  Script script_;               // guarded by mutex_
  bool stopping_ = false;       // guarded by mutex_
  bool refusedValid_ = false;   // guarded by mutex_
  uint8_t refusedSeq_ = 0;      // guarded by mutex_
  uint8_t refusedCmd_ = 0;      // guarded by mutex_
  std::thread thread_;
};

ScriptedDevice &Device() {
  static ScriptedDevice device;
  return device;
}

constexpr char kMark = 'x';

// A text out as callers pass it, marked so that writes show.
struct TextOut {
  TextOut() {
    std::memset(bytes, kMark, sizeof bytes);
    bytes[TALLYPORT_TEXT_SIZE - 1] = '\0';
  }
  bool Untouched() const {
    return std::all_of(bytes, bytes + TALLYPORT_TEXT_SIZE - 1, [](char c) { return c == kMark; });
  }
  bool Terminated() const { return std::memchr(bytes, '\0', sizeof bytes) != nullptr; }
  char bytes[TALLYPORT_TEXT_SIZE];
};

constexpr int16_t kMark16 = 0x5A5A;
constexpr double kMarkDouble = -12345.5;

// What one export was given and what it made of the reply.
struct Outs {
  TextOut text;
  int16_t n[4] = {kMark16, kMark16, kMark16, kMark16};
  double d[4] = {kMarkDouble, kMarkDouble, kMarkDouble, kMarkDouble};
  TpDateTime date{kMarkDouble, 77};

  bool NumbersUntouched() const {
    return std::all_of(std::begin(n), std::end(n), [](int16_t v) { return v == kMark16; }) &&
           std::all_of(std::begin(d), std::end(d), [](double v) { return v == kMarkDouble; });
  }
};

// How the text out relates to the reply data on success.
enum class TextRule { None, Whole, WholeUnlessEmpty };

struct Export {
  const char *name;
  TextRule rule;
  int32_t (*call)(Outs &o);
};

const Export kExports[] = {
    {"GetDateTime", TextRule::None, [](Outs &o) { return GetDateTime(&o.date); }},
    {"GetFreeClosures", TextRule::None, [](Outs &o) { return GetFreeClosures(&o.n[0], &o.n[1]); }},
    {"GetHeader", TextRule::Whole, [](Outs &o) { return GetHeader(1, o.text.bytes); }},
    {"GetTaxRates", TextRule::WholeUnlessEmpty, [](Outs &o) { return GetTaxRates(45000.0, 45031.5, o.text.bytes); }},
    {"GetPrnStatus", TextRule::Whole, [](Outs &o) { return GetPrnStatus(1, o.text.bytes); }},
    {"GetFiscalClosureStatus", TextRule::Whole, [](Outs &o) { return GetFiscalClosureStatus(1, o.text.bytes); }},
    {"GetDiagnosticInfo", TextRule::Whole, [](Outs &o) { return GetDiagnosticInfo(0, o.text.bytes); }},
    {"GetMulDecCurRF", TextRule::None,
     [](Outs &o) { return GetMulDecCurRF(&o.n[0], &o.n[1], o.text.bytes, &o.n[2]); }},
    {"GetCurrentTaxRates", TextRule::None,
     [](Outs &o) { return GetCurrentTaxRates(&o.d[0], &o.d[1], &o.d[2], &o.d[3]); }},
    {"GetCurrentTaxR", TextRule::Whole, [](Outs &o) { return GetCurrentTaxR(o.text.bytes); }},
    {"GetCurrentTaxes", TextRule::Whole, [](Outs &o) { return GetCurrentTaxes(o.text.bytes); }},
    {"GetCurrentSums", TextRule::Whole, [](Outs &o) { return GetCurrentSums(o.text.bytes); }},
    {"GetLastClosure", TextRule::Whole, [](Outs &o) { return GetLastClosure(o.text.bytes); }},
    {"GetTaxNumber", TextRule::Whole, [](Outs &o) { return GetTaxNumber(o.text.bytes); }},
    {"GetBonInfo", TextRule::Whole, [](Outs &o) { return GetBonInfo(o.text.bytes); }},
    {"GetDayInfo", TextRule::Whole, [](Outs &o) { return GetDayInfo(o.text.bytes); }},
    {"GetDocNumber", TextRule::Whole, [](Outs &o) { return GetDocNumber(o.text.bytes); }},
    {"GetConstants", TextRule::Whole, [](Outs &o) { return GetConstants(o.text.bytes); }},
    {"GetClerkInfo", TextRule::Whole, [](Outs &o) { return GetClerkInfo(3, o.text.bytes); }},
    {"GetFMInfo", TextRule::Whole, [](Outs &o) { return GetFMInfo(4, 1, 9, o.text.bytes); }},
    {"GetPluInfo", TextRule::Whole, [](Outs &o) { return GetPluInfo(2, 17, o.text.bytes); }},
    {"GetVatAccount", TextRule::Whole, [](Outs &o) { return GetVatAccount(o.text.bytes); }},
    {"GetDeptInfo", TextRule::Whole, [](Outs &o) { return GetDeptInfo(2, o.text.bytes); }},
    {"GetText", TextRule::Whole, [](Outs &o) { return GetText(1, o.text.bytes); }},
    {"ServiceInputOutput", TextRule::Whole, [](Outs &o) { return ServiceInputOutput(0, o.text.bytes); }},
    {"TestPrinter", TextRule::Whole, [](Outs &o) { return TestPrinter(0x5A, "1", o.text.bytes); }},
    {"BeginFiscalBon", TextRule::None,
     [](Outs &o) { return BeginFiscalBon(1, "0000", 1, 'I', &o.n[0], &o.n[1]); }},
    {"SubTotal", TextRule::WholeUnlessEmpty, [](Outs &o) { return SubTotal(1, 1, 5.0, o.text.bytes); }},
    {"Total", TextRule::None, [](Outs &o) { return Total("", "", 0, &o.n[0], &o.d[0]); }},
    {"EndFiscalBon", TextRule::None, [](Outs &o) { return EndFiscalBon(&o.n[0], &o.n[1]); }},
    {"BeginNonFiscalBon", TextRule::None, [](Outs &o) { return BeginNonFiscalBon(&o.n[0], &o.n[1]); }},
    {"EndNonFiscalBon", TextRule::None, [](Outs &o) { return EndNonFiscalBon(&o.n[0]); }},
    {"CutPaper", TextRule::None, [](Outs &o) { return CutPaper(&o.n[0]); }},
    {"DayReport", TextRule::Whole, [](Outs &o) { return DayReport(0, 0, o.text.bytes); }},
    {"DayPluReport", TextRule::Whole, [](Outs &o) { return DayPluReport(2, 1, o.text.bytes); }},
    {"PrintEKL", TextRule::None, [](Outs &o) { return PrintEKL(&o.n[0]); }},
    {"PluReport", TextRule::Whole, [](Outs &o) { return PluReport(1, o.text.bytes); }},
    {"SetTaxRates", TextRule::None, [](Outs &o) { return SetTaxRates(20, 9, 0, 0, &o.n[0]); }},
    {"SetTaxR", TextRule::None, [](Outs &o) { return SetTaxR("20.00,09.00", &o.n[0]); }},
    {"SetPluData", TextRule::Whole, [](Outs &o) { return SetPluData(17, "B", 1.5, "TEA", "", o.text.bytes); }},
    {"DeletePlu", TextRule::Whole, [](Outs &o) { return DeletePlu(0, 3, 9, o.text.bytes); }},
    {"SetDeptData", TextRule::Whole,
     [](Outs &o) { return SetDeptData(2, "A", "FOOD", 2.25, 0, 0, 0, 0, o.text.bytes); }},
    {"SetMulDecCurRF", TextRule::Whole, [](Outs &o) { return SetMulDecCurRF(2, 1, "EUR", 0, o.text.bytes); }},
    {"SetCountrySerial", TextRule::Whole, [](Outs &o) { return SetCountrySerial(1, "SV1", "FM1", o.text.bytes); }},
    {"SetTaxNumber", TextRule::None, [](Outs &o) { return SetTaxNumber("BG1", "2", &o.n[0]); }},
    {"Fiscalise", TextRule::None, [](Outs &o) { return Fiscalise("SHOP", &o.n[0]); }},
    {"ProgramTestArea", TextRule::None, [](Outs &o) { return ProgramTestArea(1, &o.n[0], &o.n[1]); }},
};
constexpr size_t kExportCount = sizeof kExports / sizeof kExports[0];

// The reply data as the engine hands it on: up to the first 04 (the separator it takes). Only
// meaningful when the reply was taken.
std::string ReplyData(const std::string &data) { return data.substr(0, data.find('\x04')); }

void CheckStatusText(const TextOut &status, bool mayBeEmpty) {
  const size_t length = std::strlen(status.bytes);
  if (length == 0) {
    Require(mayBeEmpty);
    return;
  }
  Require(length == 12);
  for (size_t i = 0; i < length; ++i) {
    const char c = status.bytes[i];
    Require((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
    if (i % 2 == 0) Require(c <= '7');
  }
}

void Run(const Export &e, const Script &script) {
  Outs o;
  const int32_t result = e.call(o);
  // The device answered every frame: only the reply itself can fail the command.
  Require(result == TALLYPORT_SUCCESS || result == TALLYPORT_BAD_ANSWER);
  // A reply with its separator is taken, except a date that is no date.
  const bool taken = !script.noSeparator && script.data.find('\0') == std::string::npos;
  if (taken && std::strcmp(e.name, "GetDateTime") != 0) Require(result == TALLYPORT_SUCCESS);
  Require(o.text.Terminated());

  TextOut status;
  GetStatus(status.bytes);
  CheckStatusText(status, result != TALLYPORT_SUCCESS);

  if (result != TALLYPORT_SUCCESS) {
    // Outs keep their values on failure; only a date that cannot be taken is marked invalid.
    Require(o.text.Untouched() && o.NumbersUntouched());
    Require(o.date.value == kMarkDouble && (o.date.status == 77 || o.date.status == TALLYPORT_DT_INVALID));
    return;
  }
  const std::string reply = ReplyData(script.data);
  switch (e.rule) {
    case TextRule::Whole:
      Require(reply == o.text.bytes);
      break;
    case TextRule::WholeUnlessEmpty:
      Require(reply.empty() ? o.text.Untouched() : reply == o.text.bytes);
      break;
    case TextRule::None:
      break;
  }
  if (o.date.status != 77) Require(o.date.status == TALLYPORT_DT_VALID || o.date.status == TALLYPORT_DT_INVALID);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  const std::string port = Device().Port();
  Require(Connect(port.c_str(), 115200, 8, 0, 0) == TALLYPORT_SUCCESS);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 8) return 0;
  Script script;
  script.noSeparator = (data[1] & 1) != 0;
  script.busyFirst = (data[1] & 2) != 0;
  script.refuseOnce = (data[1] & 4) != 0;
  for (size_t i = 0; i < script.status.size(); ++i) script.status[i] = static_cast<uint8_t>(0x80 | data[2 + i]);
  for (size_t i = 8; i < size && script.data.size() < kMaxReplyData; ++i) {
    if (data[i] != kFrameEnd) script.data.push_back(static_cast<char>(data[i]));
  }
  Device().SetScript(script);
  for (size_t k = 0; k < 3; ++k) Run(kExports[(data[0] + k) % kExportCount], script);
  return 0;
}
