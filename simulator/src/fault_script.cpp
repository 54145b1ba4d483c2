#include "fiscalsim/fault_script.h"

#include <array>
#include <cstdint>
#include <istream>

#include "platform/files.h"

namespace fiscalsim {

const char kFaultScriptHelp[] =
    "A fault script holds one rule a line: TRIGGER: ACTION. '#' starts a comment; blank lines\n"
    "are allowed. N is a count, C a command code (decimal or 0xHH), T milliseconds.\n"
    "\n"
    "Triggers:\n"
    "  after N frames          once, on the frame that follows the Nth received since loading\n"
    "  on command C            on every good frame of command C\n"
    "  on command C once       on the first good frame of command C only\n"
    "\n"
    "Actions (the frame that fires the rule is the first they act on):\n"
    "  refuse [N]              NAK the next N frames (1 if not given); they are not executed\n"
    "  busy T                  send busy (SYN) bytes every 60 ms for T ms, then the answer\n"
    "  delay T                 answer T ms late\n"
    "  bad-check               the answer carries wrong check characters\n"
    "  wrong-seq               the answer carries another sequence number than its request\n"
    "  silence [N|forever]     swallow the next N frames (1 if not given), or all from now on\n"
    "  error-flag              do not execute the frame; answer it with the error flag set\n"
    "  vanish [T]              close the port instead of answering; with T it comes back after\n"
    "                          T ms (a pseudo-terminal under a new path, the COM alias follows)\n"
    "\n"
    "Example:\n"
    "  after 3 frames: refuse 2        # the 4th and 5th frames get a NAK\n"
    "  on command 0x35: busy 500       # busy for half a second before each payment's answer\n"
    "  on command 48 once: silence     # the first receipt opening is swallowed\n"
    "  after 10 frames: vanish 2000    # the port disappears for two seconds\n"
    "\n"
    "fiscal-sim reads the file again on SIGHUP; frames are counted again from then.\n"
    "\n"
    "A frame that repeats the last one the device executed (same sequence number, command and\n"
    "data), as a host sends it again when the answer was late or lost, is answered as before and\n"
    "not executed again; the rules act on it as on any other frame.\n";

namespace {

constexpr uint64_t kMaxFrames = 0xFFFFFFFF;
constexpr uint64_t kMaxCount = 1'000'000;
constexpr uint64_t kMaxMillis = 3'600'000;  // an hour: longer is a typo, not a test
// A script is a handful of lines; a bigger file is the wrong file.
constexpr size_t kMaxScriptBytes = 1 << 20;

// A word of the script as a message quotes it: bytes a terminal would act on are escaped.
std::string Quote(std::string_view word) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  constexpr size_t kShown = 40;
  std::string out = "'";
  for (size_t i = 0; i < word.size() && i < kShown; ++i) {
    const auto c = static_cast<unsigned char>(word[i]);
    if (c < 0x20 || c >= 0x7F) {
      out += "\\x";
      out += kDigits[c >> 4];
      out += kDigits[c & 0x0F];
    } else {
      out += static_cast<char>(c);
    }
  }
  if (word.size() > kShown) out += "...";
  return out + "'";
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && IsBlank(text[at])) ++at;
    const size_t start = at;
    while (at < text.size() && !IsBlank(text[at])) ++at;
    if (at > start) words.push_back(text.substr(start, at - start));
  }
  return words;
}

std::optional<uint64_t> Decimal(std::string_view word, uint64_t max) {
  if (word.empty() || word.size() > 19) return std::nullopt;
  uint64_t value = 0;
  for (const char c : word) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

std::optional<uint8_t> CommandCode(std::string_view word) {
  if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
    const std::string_view hex = word.substr(2);
    if (hex.size() > 2) return std::nullopt;
    unsigned value = 0;
    for (const char c : hex) {
      unsigned digit;
      if (c >= '0' && c <= '9') {
        digit = static_cast<unsigned>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        digit = static_cast<unsigned>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        digit = static_cast<unsigned>(c - 'A' + 10);
      } else {
        return std::nullopt;
      }
      value = value * 16 + digit;
    }
    return static_cast<uint8_t>(value);
  }
  const std::optional<uint64_t> value = Decimal(word, 0xFF);
  if (!value) return std::nullopt;
  return static_cast<uint8_t>(*value);
}

struct ActionName {
  std::string_view name;
  FaultRule::Fault fault;
  enum class Value { None, Count, Time, OptionalCount, OptionalTime, CountOrForever } value;
};

constexpr std::array<ActionName, 8> kActions = {{
    {"refuse", FaultRule::Fault::Refuse, ActionName::Value::OptionalCount},
    {"busy", FaultRule::Fault::Busy, ActionName::Value::Time},
    {"delay", FaultRule::Fault::Delay, ActionName::Value::Time},
    {"bad-check", FaultRule::Fault::BadCheck, ActionName::Value::None},
    {"wrong-seq", FaultRule::Fault::WrongSeq, ActionName::Value::None},
    {"silence", FaultRule::Fault::Silence, ActionName::Value::CountOrForever},
    {"error-flag", FaultRule::Fault::ErrorFlag, ActionName::Value::None},
    {"vanish", FaultRule::Fault::Vanish, ActionName::Value::OptionalTime},
}};

// The trigger's words into `rule`; the problem otherwise.
std::string ParseTrigger(const std::vector<std::string_view> &words, FaultRule &rule) {
  if (words.empty()) return "a rule starts with 'after' or 'on'";
  if (words[0] == "after") {
    if (words.size() < 2) return "'after' needs a count of frames";
    const std::optional<uint64_t> frames = Decimal(words[1], kMaxFrames);
    if (!frames) return "bad count of frames " + Quote(words[1]);
    if (words.size() < 3 || (words[2] != "frames" && words[2] != "frame")) return "expected 'frames' after the count";
    if (words.size() > 3) return "unexpected " + Quote(words[3]) + " before ':'";
    rule.trigger = FaultRule::Trigger::AfterFrames;
    rule.frames = *frames;
    return {};
  }
  if (words[0] == "on") {
    if (words.size() < 2 || words[1] != "command") return "expected 'command' after 'on'";
    if (words.size() < 3) return "'on command' needs a command code";
    const std::optional<uint8_t> code = CommandCode(words[2]);
    if (!code) return "bad command code " + Quote(words[2]) + " (0 to 255, decimal or 0xHH)";
    size_t next = 3;
    if (next < words.size() && words[next] == "once") {
      rule.once = true;
      ++next;
    }
    if (next < words.size()) return "unexpected " + Quote(words[next]) + " before ':'";
    rule.trigger = FaultRule::Trigger::OnCommand;
    rule.command = *code;
    return {};
  }
  return "unknown trigger " + Quote(words[0]) + " (expected 'after' or 'on')";
}

std::string ParseAction(const std::vector<std::string_view> &words, FaultRule &rule) {
  if (words.empty()) return "missing action after ':'";
  const ActionName *action = nullptr;
  for (const ActionName &a : kActions) {
    if (a.name == words[0]) action = &a;
  }
  if (action == nullptr) return "unknown action " + Quote(words[0]);
  rule.fault = action->fault;
  const std::string name = Quote(action->name);
  using Value = ActionName::Value;
  if (action->value == Value::None && words.size() > 1) return name + " takes no value, found " + Quote(words[1]);
  if (words.size() > 2) return "unexpected " + Quote(words[2]) + " after the value of " + name;
  if (words.size() == 1) {
    if (action->value == Value::Time) return name + " needs a time in milliseconds";
    if (action->value == Value::Count) return name + " needs a count";
    return {};
  }
  const std::string_view value = words[1];
  switch (action->value) {
    case Value::None:
      return {};
    case Value::Count:
    case Value::OptionalCount:
    case Value::CountOrForever: {
      if (action->value == Value::CountOrForever && value == "forever") {
        rule.forever = true;
        return {};
      }
      const std::optional<uint64_t> count = Decimal(value, kMaxCount);
      if (!count || *count == 0) return "bad count " + Quote(value) + " for " + name + " (1 to 1000000)";
      rule.count = static_cast<unsigned>(*count);
      return {};
    }
    case Value::Time:
    case Value::OptionalTime: {
      const std::optional<uint64_t> millis = Decimal(value, kMaxMillis);
      if (!millis || *millis == 0) {
        return "bad time " + Quote(value) + " for " + name + " (milliseconds, 1 to 3600000)";
      }
      rule.time = Millis(static_cast<int64_t>(*millis));
      return {};
    }
  }
  return {};
}

}  // namespace

std::optional<std::vector<FaultRule>> ParseFaultScript(std::string_view text, std::string_view name,
                                                       std::string *error) {
  std::vector<FaultRule> rules;
  unsigned lineNumber = 0;
  size_t at = 0;
  while (at < text.size()) {
    ++lineNumber;
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    line = line.substr(0, line.find('#'));
    if (Words(line).empty()) continue;

    FaultRule rule;
    rule.line = lineNumber;
    std::string problem;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
      problem = "missing ':' between trigger and action";
    } else {
      problem = ParseTrigger(Words(line.substr(0, colon)), rule);
      if (problem.empty()) problem = ParseAction(Words(line.substr(colon + 1)), rule);
    }
    if (!problem.empty()) {
      *error = std::string(name) + ":" + std::to_string(lineNumber) + ": " + problem;
      return std::nullopt;
    }
    rules.push_back(rule);
  }
  return rules;
}

std::optional<std::vector<FaultRule>> LoadFaultScript(const std::string &path, std::string *error) {
  const std::unique_ptr<std::istream> in = platform::OpenRegularFile(path, error);
  if (!in) return std::nullopt;
  std::string text(kMaxScriptBytes + 1, '\0');
  in->read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in->bad()) {
    *error = "cannot read " + path;
    return std::nullopt;
  }
  text.resize(static_cast<size_t>(in->gcount()));
  if (text.size() > kMaxScriptBytes) {
    *error = path + ": too big for a fault script (over 1 MiB)";
    return std::nullopt;
  }
  return ParseFaultScript(text, path, error);
}

}  // namespace fiscalsim
