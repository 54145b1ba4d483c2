#include "reconcile.h"

#include <cmath>
#include <string>
#include <utility>

namespace hub {
namespace {

using nlohmann::json;

// Queries change nothing on the device: they say nothing of what a document did.
bool IsQuery(const std::string &op) { return op.rfind("Get", 0) == 0; }

bool MayHaveTakenEffect(const StepRecord &step) {
  if (IsQuery(step.op)) return false;
  if (!step.answered) return true;
  const Effect effect = EffectOf(step.result);
  return effect == Effect::Executed || effect == Effect::Unknown;
}

json StepEvidence(const StepRecord &step) {
  json evidence = {{"index", step.index}, {"op", step.op}, {"answered", step.answered}};
  if (step.answered) {
    evidence["effect"] = EffectName(EffectOf(step.result));
    evidence["code"] = step.result.code;
    evidence["status"] = step.result.status;
    evidence["out"] = step.result.out;
  }
  return evidence;
}

const char *CounterName(Counter counter) {
  switch (counter) {
    case Counter::Documents:
      return "documents";
    case Counter::ZReports:
      return "z-reports";
    case Counter::CashIn:
      return "cash-in";
    case Counter::CashOut:
      return "cash-out";
    case Counter::None:
      break;
  }
  return nullptr;
}

// Decimal digits only, 1 to `most` of them.
std::optional<int64_t> ParseDigits(std::string_view s, size_t most) {
  if (s.empty() || s.size() > most) return std::nullopt;
  int64_t value = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

// "12.50" in hundredths: digits, a point and two decimals; no sign.
std::optional<int64_t> ParseHundredths(std::string_view s) {
  const size_t point = s.find('.');
  if (point == std::string_view::npos || s.size() != point + 3) return std::nullopt;
  const auto whole = ParseDigits(s.substr(0, point), 13);
  const auto cents = ParseDigits(s.substr(point + 1), 2);
  if (!whole || !cents) return std::nullopt;
  return *whole * 100 + *cents;
}

// The text out of an answer, as the evidence shows it.
json TextOf(const json &out) {
  const auto text = out.find("text");
  return text != out.end() && text->is_string() ? *text : json();
}

// A cash document's amount in hundredths, as its first step sends it.
int64_t CashAmount(const StepRecord &step) { return std::llround(std::fabs(step.args.at(0).get<double>()) * 100); }

// "open,items,total" of GetBonInfo: whether a fiscal receipt is open; nothing when garbled.
std::optional<bool> ParseOpen(const json &out) {
  const auto text = out.find("text");
  if (text == out.end() || !text->is_string()) return std::nullopt;
  const std::string &s = text->get_ref<const std::string &>();
  const size_t first = s.find(',');
  if (first == std::string::npos || s.find(',', first + 1) == std::string::npos) return std::nullopt;
  if (s.compare(0, first, "1") == 0) return true;
  if (s.compare(0, first, "0") == 0) return false;
  return std::nullopt;
}

class Reconciler {
 public:
  Reconciler(DocumentRecord doc, DevicePort &port, Store &store) : doc_(std::move(doc)), port_(port), store_(store) {
    next_ = doc_.steps.empty() ? 0 : doc_.steps.back().index + 1;
    for (const StepRecord &step : doc_.steps) {
      if (!first_ && !IsQuery(step.op)) first_ = &step;
      if (MayHaveTakenEffect(step)) last_ = &step;
    }
    if (first_) counter_ = CounterOf(doc_.kind, first_->op, first_->args);
    const char *counterName = CounterName(counter_);
    evidence_ = {{"counter", counterName ? json(counterName) : json()},
                 {"counterBefore", doc_.counterBefore ? json(*doc_.counterBefore) : json()},
                 {"lastStep", last_ ? StepEvidence(*last_) : json()},
                 {"sent", json::array()}};
  }

  Settlement Run() {
    if (!last_) return Settled(DocState::NotRegistered, "no command was sent");
    if (doc_.kind == "receipt") return Fiscal();
    if (doc_.kind == "non-fiscal") return NonFiscal();
    if (counter_ == Counter::ZReports) return ZReport();
    if (counter_ == Counter::CashIn || counter_ == Counter::CashOut) return Cash();
    return Settled(DocState::NeedsAttention, "a command may have taken effect and no counter tells");
  }

 private:
  Settlement Settled(DocState state, const char *reason, json result = json()) {
    evidence_["reason"] = reason;
    return Settlement{true, state, std::move(result), evidence_};
  }
  Settlement Unsettled(const std::string &reason) {
    evidence_["reason"] = reason;
    return Settlement{false, DocState::NeedsAttention, json(), evidence_};
  }

  // Sends one command, recorded as a step; nothing when its intent could not be recorded, and
  // then nothing was sent.
  std::optional<CallResult> Send(const std::string &op) {
    const json args = json::array();
    if (!store_.StepSending(doc_.key, next_, op, args)) {
      evidence_["storeError"] = store_.LastError();
      return std::nullopt;
    }
    CallResult result = port_.Call(op, args);
    // Should this fail, the step stays unanswered, which a later settlement takes as possibly
    // executed: the safe side.
    store_.StepAnswered(doc_.key, next_, result);
    ++next_;
    evidence_["sent"].push_back({{"op", op}, {"effect", EffectName(EffectOf(result))}});
    return result;
  }

  // A query's outs in `out`; a settlement when the answer settles the matter otherwise.
  std::optional<Settlement> Query(const std::string &op, json &out) {
    const auto result = Send(op);
    if (!result) return Unsettled("the store cannot record " + op);
    switch (EffectOf(*result)) {
      case Effect::Executed:
        out = result->out;
        return std::nullopt;
      case Effect::Refused:
        return Settled(DocState::NeedsAttention, "the device refused a query");
      default:
        return Unsettled("no answer to " + op);
    }
  }

  // A command that ends our receipt on the device; `done` names it in the evidence.
  Settlement Finish(const std::string &op, const char *done) {
    const auto result = Send(op);
    if (!result) return Unsettled("the store cannot record " + op);
    switch (EffectOf(*result)) {
      case Effect::Executed:
        evidence_[done] = true;
        return Settled(DocState::NotRegistered, "our receipt was left open and is ended now");
      case Effect::Refused:
        return Settled(DocState::NeedsAttention, "the device refused to end the receipt left open");
      default:
        return Unsettled("no answer to " + op);
    }
  }

  // The counter now, in the evidence; a settlement when it is garbled.
  std::optional<Settlement> CounterNow(int64_t &now) {
    json out;
    if (auto stop = Query(std::string(CounterQuery(counter_)), out)) return stop;
    const auto counter = ReadCounter(counter_, out);
    if (!counter) {
      evidence_["counterNow"] = TextOf(out);
      return Settled(DocState::NeedsAttention, "the counter is garbled");
    }
    evidence_["counterNow"] = now = *counter;
    return std::nullopt;
  }

  Settlement Fiscal() {
    if (!doc_.counterBefore) return Settled(DocState::NeedsAttention, "no counter was read before the receipt");
    json info;
    if (auto stop = Query("GetBonInfo", info)) return *stop;
    evidence_["bonInfo"] = TextOf(info);
    int64_t now = 0;
    if (auto stop = CounterNow(now)) return *stop;
    const auto open = ParseOpen(info);
    if (!open) return Settled(DocState::NeedsAttention, "the receipt information is garbled");
    evidence_["open"] = *open;
    const int64_t before = *doc_.counterBefore;
    if (now == before) return Settled(DocState::NotRegistered, "the receipt was never opened");
    if (now != before + 1) return Settled(DocState::NeedsAttention, "the counter moved by other than one");
    if (*open) return Finish("VoidAll", "voided");
    if (last_->op == "EndFiscalBon") {
      return Settled(DocState::Registered, "our last step closed the receipt", {{"receipt", before + 1}});
    }
    if (last_->op == "VoidAll") return Settled(DocState::NotRegistered, "our last step voided the receipt");
    return Settled(DocState::NeedsAttention, "the receipt was ended, not by our last step");
  }

  Settlement NonFiscal() {
    if (!doc_.counterBefore) return Settled(DocState::NeedsAttention, "no counter was read before the receipt");
    int64_t now = 0;
    if (auto stop = CounterNow(now)) return *stop;
    const int64_t before = *doc_.counterBefore;
    if (now == before) return Settled(DocState::NotRegistered, "the receipt was never opened");
    if (now != before + 1) return Settled(DocState::NeedsAttention, "the counter moved by other than one");
    if (last_->op == "EndNonFiscalBon") {
      return Settled(DocState::Registered, "our last step closed the receipt", {{"receipt", before + 1}});
    }
    return Finish("EndNonFiscalBon", "closed");
  }

  Settlement ZReport() {
    if (!doc_.counterBefore) return Settled(DocState::NeedsAttention, "no counter was read before the report");
    int64_t now = 0;
    if (auto stop = CounterNow(now)) return *stop;
    const int64_t before = *doc_.counterBefore;
    if (now == before) return Settled(DocState::NotRegistered, "the day was not closed");
    if (now == before + 1) return Settled(DocState::Registered, "the report closed the day", {{"zReport", now}});
    return Settled(DocState::NeedsAttention, "the counter moved by other than one");
  }

  Settlement Cash() {
    if (!doc_.counterBefore) return Settled(DocState::NeedsAttention, "no sum was read before the cash");
    int64_t now = 0;
    if (auto stop = CounterNow(now)) return *stop;
    const int64_t before = *doc_.counterBefore;
    const int64_t amount = CashAmount(*first_);
    evidence_["amount"] = amount;
    if (now == before) return Settled(DocState::NotRegistered, "the cash sum did not change");
    if (now == before + amount) {
      return Settled(DocState::Registered, "the cash sum rose by the amount", json::object());
    }
    return Settled(DocState::NeedsAttention, "the cash sum moved by other than the amount");
  }

  DocumentRecord doc_;
  DevicePort &port_;
  Store &store_;
  int next_ = 0;
  const StepRecord *first_ = nullptr;  // the first command step, into doc_.steps
  const StepRecord *last_ = nullptr;   // into doc_.steps
  Counter counter_ = Counter::None;
  json evidence_;
};

}  // namespace

std::optional<int64_t> ParseCounter(const nlohmann::json &out) {
  const auto text = out.find("text");
  if (text == out.end() || !text->is_string()) return std::nullopt;
  return ParseDigits(text->get_ref<const std::string &>(), 9);
}

Counter CounterOf(std::string_view kind, std::string_view op, const nlohmann::json &args) {
  if (kind == "receipt" || kind == "non-fiscal") return Counter::Documents;
  const json first = args.is_array() && !args.empty() ? args[0] : json();
  // Mode 0 closes the day; mode 2 (X) only prints, and no counter shows that it did.
  if (kind == "report" && op == "DayReport" && first.is_number_integer() && first == 0) return Counter::ZReports;
  if (kind == "cash" && op == "ServiceInputOutput" && first.is_number()) {
    const double amount = first.get<double>();
    if (amount > 0) return Counter::CashIn;
    if (amount < 0) return Counter::CashOut;
  }
  return Counter::None;
}

std::string_view CounterQuery(Counter counter) {
  switch (counter) {
    case Counter::Documents:
      return "GetDocNumber";
    case Counter::ZReports:
      return "GetLastClosure";
    case Counter::CashIn:
    case Counter::CashOut:
      return "GetCurrentSums";
    case Counter::None:
      break;
  }
  return {};
}

std::optional<int64_t> ReadCounter(Counter counter, const nlohmann::json &out) {
  switch (counter) {
    case Counter::Documents:
    case Counter::ZReports:
      return ParseCounter(out);
    case Counter::CashIn:
    case Counter::CashOut: {
      const auto text = out.find("text");
      if (text == out.end() || !text->is_string()) return std::nullopt;
      // Exactly the three sums: an answer of another layout is not read by guess.
      const std::string_view s = text->get_ref<const std::string &>();
      const size_t first = s.find(',');
      const size_t second = first == std::string_view::npos ? first : s.find(',', first + 1);
      if (second == std::string_view::npos || s.find(',', second + 1) != std::string_view::npos) return std::nullopt;
      const auto cashIn = ParseHundredths(s.substr(first + 1, second - first - 1));
      const auto cashOut = ParseHundredths(s.substr(second + 1));
      if (!cashIn || !cashOut) return std::nullopt;
      return counter == Counter::CashIn ? cashIn : cashOut;
    }
    case Counter::None:
      break;
  }
  return std::nullopt;
}

Settlement Reconcile(const DocumentRecord &doc, DevicePort &port, Store &store) {
  std::string error;
  auto current = store.Get(doc.key, &error);
  if (!current) {
    Settlement unsettled;
    unsettled.evidence = {{"reason", "the document cannot be read from the store"},
                          {"storeError", error.empty() ? "no such document" : error}};
    return unsettled;
  }
  if (current->state != DocState::InProgress) {
    return Settlement{true, current->state, current->result, current->evidence};
  }
  return Reconciler(std::move(*current), port, store).Run();
}

}  // namespace hub
