// fiscal-hub-worker PORT BAUD: one device's line for the hub. It runs the printer library's
// exports in this process, so the bytes on the wire are the library's own, and answers one JSON
// line per call (worker_protocol.h). The library keeps one port per process, hence one worker
// per device. Standard input ending means the hub is done with it.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "device_port.h"
#include "device_text.h"
#include "tallyport.h"
#include "worker_protocol.h"

namespace {

using nlohmann::json;

enum class In { Text, Char, I16, U16, I32, U32, Double };

// One call's arguments, checked against the export's parameter types.
class Args {
 public:
  static std::optional<Args> Parse(const json &args, const std::vector<In> &kinds, std::string *error);

  const char *Text(size_t i) const { return values_[i].text.c_str(); }
  // Empty means NUL, the export's "none".
  char Char(size_t i) const { return values_[i].text.empty() ? '\0' : values_[i].text[0]; }
  template <typename T>
  T Int(size_t i) const {
    return static_cast<T>(values_[i].integer);
  }
  double Double(size_t i) const { return values_[i].number; }

 private:
  struct Value {
    std::string text;
    int64_t integer = 0;
    double number = 0;
  };
  static bool ParseOne(const json &arg, In kind, Value *value, std::string *error);

  std::vector<Value> values_;
};

bool IntegerIn(const json &arg, int64_t low, int64_t high, int64_t *out) {
  if (arg.is_number_unsigned()) {
    const auto n = arg.get<uint64_t>();
    if (n > static_cast<uint64_t>(high)) return false;
    *out = static_cast<int64_t>(n);
    return true;
  }
  if (!arg.is_number_integer()) return false;
  const auto n = arg.get<int64_t>();
  if (n < low || n > high) return false;
  *out = n;
  return true;
}

bool Fail(std::string *error, const char *why) {
  *error = why;
  return false;
}

bool Args::ParseOne(const json &arg, In kind, Value *value, std::string *error) {
  switch (kind) {
    case In::Text:
    case In::Char: {
      std::optional<std::string> bytes;
      if (arg.is_string()) bytes = hub::ByteStringToBytes(arg.get_ref<const std::string &>());
      if (!bytes) return Fail(error, "a byte string is needed");
      // The export would stop at a NUL: the device would get less than was asked for.
      if (kind == In::Text && bytes->find('\0') != std::string::npos) return Fail(error, "a text holds a NUL");
      if (kind == In::Char && bytes->size() > 1) return Fail(error, "at most one byte is allowed");
      value->text = std::move(*bytes);
      return true;
    }
    case In::Double:
      if (!arg.is_number()) return Fail(error, "a number is needed");
      value->number = arg.get<double>();
      return true;
    default:
      break;
  }
  struct Range {
    int64_t low, high;
  };
  const Range range = kind == In::I16   ? Range{INT16_MIN, INT16_MAX}
                      : kind == In::U16 ? Range{0, UINT16_MAX}
                      : kind == In::I32 ? Range{INT32_MIN, INT32_MAX}
                                        : Range{0, UINT32_MAX};
  if (!IntegerIn(arg, range.low, range.high, &value->integer)) {
    *error = "an integer from " + std::to_string(range.low) + " to " + std::to_string(range.high) + " is needed";
    return false;
  }
  return true;
}

std::optional<Args> Args::Parse(const json &args, const std::vector<In> &kinds, std::string *error) {
  if (args.size() != kinds.size()) {
    *error = std::to_string(kinds.size()) + " arguments are needed, not " + std::to_string(args.size());
    return std::nullopt;
  }
  Args parsed;
  parsed.values_.resize(kinds.size());
  for (size_t i = 0; i < kinds.size(); ++i) {
    std::string why;
    if (!ParseOne(args[i], kinds[i], &parsed.values_[i], &why)) {
      *error = "argument " + std::to_string(i + 1) + ": " + why;
      return std::nullopt;
    }
  }
  return parsed;
}

// The outs of one call, each starting as a sentinel, so that an out the export left alone
// answers null rather than a value it never gave.
class Outs {
 public:
  // A 16-bit out; a device answering exactly -32768 reads as "not written", the one value no
  // receipt number or answer character takes in practice.
  int16_t *Short(const char *name) { return &Add(name, Kind::Short).shortValue; }
  double *Double(const char *name) { return &Add(name, Kind::Double).doubleValue; }
  char *Text(const char *name = "text") {
    Slot &slot = Add(name, Kind::Text);
    // No NUL anywhere: an export that writes always ends with one.
    slot.text = std::make_unique<char[]>(TALLYPORT_TEXT_SIZE);
    std::memset(slot.text.get(), 0x01, TALLYPORT_TEXT_SIZE);
    return slot.text.get();
  }
  json ToJson() const;

 private:
  static constexpr int16_t kShortSentinel = INT16_MIN;
  // A quiet NaN with a payload no reply parses to ("nan" gives payload 0).
  static constexpr uint64_t kDoubleSentinel = 0x7FFA5E5E5E5E5E5EULL;
  enum class Kind { Short, Double, Text };
  struct Slot {
    const char *name = nullptr;
    Kind kind = Kind::Short;
    int16_t shortValue = kShortSentinel;
    double doubleValue = std::bit_cast<double>(kDoubleSentinel);
    std::unique_ptr<char[]> text;
  };
  Slot &Add(const char *name, Kind kind) {
    Slot &slot = slots_.emplace_back();
    slot.name = name;
    slot.kind = kind;
    return slot;
  }

  std::deque<Slot> slots_;  // a deque keeps the addresses handed out
};

// JSON has no NaN or infinities, which a reply of "nan" or "inf" gives: they go as texts.
json DoubleJson(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  return value;
}

json Outs::ToJson() const {
  json out = json::object();
  for (const Slot &slot : slots_) {
    json &value = out[slot.name];
    switch (slot.kind) {
      case Kind::Short:
        if (slot.shortValue != kShortSentinel) value = slot.shortValue;
        break;
      case Kind::Double:
        if (std::bit_cast<uint64_t>(slot.doubleValue) != kDoubleSentinel) value = DoubleJson(slot.doubleValue);
        break;
      case Kind::Text:
        if (const void *end = std::memchr(slot.text.get(), '\0', TALLYPORT_TEXT_SIZE)) {
          const auto size = static_cast<size_t>(static_cast<const char *>(end) - slot.text.get());
          value = hub::BytesToByteString(std::string_view(slot.text.get(), size));
        }
        break;
    }
  }
  return out;
}

struct Op {
  std::string_view name;
  std::vector<In> in;
  int32_t (*run)(const Args &a, Outs &o);
};

// The exports a hub calls, by name, with their parameters in the export's order (outs left out).
const std::vector<Op> &Ops() {
  using enum In;
  using A = const Args &;
  static const std::vector<Op> ops = {
      // Connection and queries.
      {"Disconnect", {}, [](A, Outs &) { return ::Disconnect(); }},
      {"GetDiagnosticInfo", {I16}, [](A a, Outs &o) { return ::GetDiagnosticInfo(a.Int<int16_t>(0), o.Text()); }},
      {"GetDocNumber", {}, [](A, Outs &o) { return ::GetDocNumber(o.Text()); }},
      {"GetBonInfo", {}, [](A, Outs &o) { return ::GetBonInfo(o.Text()); }},
      {"GetDayInfo", {}, [](A, Outs &o) { return ::GetDayInfo(o.Text()); }},
      {"GetLastClosure", {}, [](A, Outs &o) { return ::GetLastClosure(o.Text()); }},
      {"GetCurrentSums", {}, [](A, Outs &o) { return ::GetCurrentSums(o.Text()); }},
      {"GetTaxNumber", {}, [](A, Outs &o) { return ::GetTaxNumber(o.Text()); }},
      {"GetConstants", {}, [](A, Outs &o) { return ::GetConstants(o.Text()); }},
      {"GetPrnStatus", {I16}, [](A a, Outs &o) { return ::GetPrnStatus(a.Int<int16_t>(0), o.Text()); }},
      {"GetFiscalClosureStatus",
       {I16},
       [](A a, Outs &o) { return ::GetFiscalClosureStatus(a.Int<int16_t>(0), o.Text()); }},
      {"GetFreeClosures", {}, [](A, Outs &o) { return ::GetFreeClosures(o.Short("first"), o.Short("second")); }},
      // Fiscal receipts.
      {"BeginFiscalBon",
       {U32, Text, U32, Char},
       [](A a, Outs &o) {
         return ::BeginFiscalBon(a.Int<uint32_t>(0), a.Text(1), a.Int<uint32_t>(2), a.Char(3), o.Short("first"),
                                 o.Short("second"));
       }},
      {"Sale",
       {Text, Text, Double, Double, Double},
       [](A a, Outs &) { return ::Sale(a.Text(0), a.Text(1), a.Double(2), a.Double(3), a.Double(4)); }},
      {"SaleAndDisplay",
       {Text, Text, Double, Double, Double},
       [](A a, Outs &) { return ::SaleAndDisplay(a.Text(0), a.Text(1), a.Double(2), a.Double(3), a.Double(4)); }},
      {"SalePlu",
       {I32, Double, Double, Double},
       [](A a, Outs &) { return ::SalePlu(a.Int<int32_t>(0), a.Double(1), a.Double(2), a.Double(3)); }},
      {"SaleDept",
       {I16, Double, Double, Double},
       [](A a, Outs &) { return ::SaleDept(a.Int<int16_t>(0), a.Double(1), a.Double(2), a.Double(3)); }},
      {"SubTotal",
       {I16, I16, Double},
       [](A a, Outs &o) { return ::SubTotal(a.Int<int16_t>(0), a.Int<int16_t>(1), a.Double(2), o.Text()); }},
      {"Total",
       {Text, Text, Double},
       [](A a, Outs &o) {
         return ::Total(a.Text(0), a.Text(1), a.Double(2), o.Short("paymentCode"), o.Double("amount"));
       }},
      {"PrintFiscalText", {Text}, [](A a, Outs &) { return ::PrintFiscalText(a.Text(0)); }},
      {"PrintClientInfo",
       {Text, Text, Text, Text, Text, Text},
       [](A a, Outs &) { return ::PrintClientInfo(a.Text(0), a.Text(1), a.Text(2), a.Text(3), a.Text(4), a.Text(5)); }},
      {"EndFiscalBon", {}, [](A, Outs &o) { return ::EndFiscalBon(o.Short("first"), o.Short("second")); }},
      {"VoidAll", {}, [](A, Outs &) { return ::VoidAll(); }},
      // Non-fiscal receipts and paper.
      {"BeginNonFiscalBon", {}, [](A, Outs &o) { return ::BeginNonFiscalBon(o.Short("first"), o.Short("second")); }},
      {"PrintNonFiscalText", {Text}, [](A a, Outs &) { return ::PrintNonFiscalText(a.Text(0)); }},
      {"EndNonFiscalBon", {}, [](A, Outs &o) { return ::EndNonFiscalBon(o.Short("number")); }},
      {"PrintCopyBon", {I16}, [](A a, Outs &) { return ::PrintCopyBon(a.Int<int16_t>(0)); }},
      {"OpenDrawer", {I16}, [](A a, Outs &) { return ::OpenDrawer(a.Int<int16_t>(0)); }},
      {"AdvancePaper", {U16}, [](A a, Outs &) { return ::AdvancePaper(a.Int<uint16_t>(0), 0); }},
      {"CutPaper", {}, [](A, Outs &o) { return ::CutPaper(o.Short("answer")); }},
      // Reports and cash.
      {"DayReport",
       {I16, I16},
       [](A a, Outs &o) { return ::DayReport(a.Int<int16_t>(0), a.Int<int16_t>(1), o.Text()); }},
      {"DayPluReport",
       {I16, I16},
       [](A a, Outs &o) { return ::DayPluReport(a.Int<int16_t>(0), a.Int<int16_t>(1), o.Text()); }},
      {"PerReport", {U16}, [](A a, Outs &) { return ::PerReport(a.Int<uint16_t>(0)); }},
      {"ClerkReport", {}, [](A, Outs &) { return ::ClerkReport(); }},
      {"PrintReportByNum",
       {I16, I16},
       [](A a, Outs &) { return ::PrintReportByNum(a.Int<int16_t>(0), a.Int<int16_t>(1)); }},
      {"PrintFiscalMemoryByNum",
       {I16, I16},
       [](A a, Outs &) { return ::PrintFiscalMemoryByNum(a.Int<int16_t>(0), a.Int<int16_t>(1)); }},
      {"PrintEKL", {}, [](A, Outs &o) { return ::PrintEKL(o.Short("number")); }},
      {"ServiceInputOutput", {Double}, [](A a, Outs &o) { return ::ServiceInputOutput(a.Double(0), o.Text()); }},
      // Any command.
      {"TestPrinter", {I32, Text}, [](A a, Outs &o) { return ::TestPrinter(a.Int<int32_t>(0), a.Text(1), o.Text()); }},
  };
  return ops;
}

const Op *FindOp(std::string_view name) {
  for (const Op &op : Ops()) {
    if (op.name == name) return &op;
  }
  return nullptr;
}

// The status after a call; none when nothing was sent, since the library still holds the one of
// the command before.
std::string StatusAfter(int32_t code) {
  if (code == hub::kBadParameter || code == hub::kNotConnected) return {};
  char status[TALLYPORT_TEXT_SIZE];
  status[0] = '\0';
  GetStatus(status);
  status[TALLYPORT_TEXT_SIZE - 1] = '\0';
  return status;
}

// The answer line to one request line.
std::string Answer(std::string_view line) {
  std::string error;
  const std::optional<hub::WorkerRequest> request = hub::DecodeRequest(line, &error);
  if (!request) return hub::EncodeRefusal(error);
  const Op *op = FindOp(request->op);
  if (op == nullptr) return hub::EncodeRefusal("unknown op \"" + request->op + "\"");
  const std::optional<Args> args = Args::Parse(request->args, op->in, &error);
  if (!args) return hub::EncodeRefusal(request->op + ": " + error);
  Outs outs;
  hub::CallResult result;
  result.code = op->run(*args, outs);
  result.out = outs.ToJson();
  result.status = StatusAfter(result.code);
  return hub::EncodeResponse(result);
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Answers lines from stdin on `out` until stdin ends or the hub stops reading.
void Serve(int out) {
  hub::LineReader reader(STDIN_FILENO);
  for (;;) {
    std::string line;
    const hub::LineReader::Status status = reader.Read(&line);
    std::string answer;
    if (status == hub::LineReader::Status::Line) {
      try {
        answer = Answer(line);
      } catch (const std::exception &e) {
        // The export may have run: no answer at all, so that the hub counts the call as unknown
        // rather than as refused.
        std::fprintf(stderr, "fiscal-hub-worker: %s\n", e.what());
        return;
      }
    } else if (status == hub::LineReader::Status::TooLong) {
      answer = hub::EncodeRefusal("the line is longer than " + std::to_string(hub::kMaxWorkerLine) + " bytes");
      if (!reader.SkipRestOfLine()) return;
    } else {
      return;
    }
    if (!WriteAll(out, answer)) return;
  }
}

std::optional<uint32_t> ParseBaud(std::string_view text) {
  uint32_t baud = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), baud);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (baud == 0 || baud > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) return std::nullopt;
  return baud;
}

}  // namespace

int main(int argc, char **argv) {
  const pid_t parent = ::getppid();
  // A hub killed outright takes its workers with it; stdin ending covers every other way out.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) return 1;
  const std::optional<uint32_t> baud = argc == 3 ? ParseBaud(argv[2]) : std::nullopt;
  if (!baud) {
    std::fprintf(stderr, "usage: fiscal-hub-worker PORT BAUD\n");
    return 2;
  }
  // A hub that went away shows as a failed write, not as a signal.
  ::signal(SIGPIPE, SIG_IGN);
  // Only answers go to the hub: they get a descriptor of their own, and whatever else writes to
  // stdout lands on stderr with the traces.
  const int out = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (out < 0 || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    std::perror("fiscal-hub-worker: stdout");
    return 1;
  }
  const int32_t connected = Connect(argv[1], static_cast<int32_t>(*baud), 8, 0, 0);
  if (connected != 0) {
    // Each call tries the port again, and answers 10003 while it cannot open it.
    std::fprintf(stderr, "fiscal-hub-worker: Connect(%s) gave %d\n", argv[1], static_cast<int>(connected));
  }
  Serve(out);
  Disconnect();
  return 0;
}
