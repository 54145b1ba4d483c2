#include "reconcile.h"

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

// The text out of an answer, as the evidence shows it.
json TextOf(const json &out) {
  const auto text = out.find("text");
  return text != out.end() && text->is_string() ? *text : json();
}

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
      if (MayHaveTakenEffect(step)) last_ = &step;
    }
    evidence_ = {{"counterBefore", doc_.counterBefore ? json(*doc_.counterBefore) : json()},
                 {"lastStep", last_ ? StepEvidence(*last_) : json()},
                 {"sent", json::array()}};
  }

  Settlement Run() {
    if (!last_) return Settled(DocState::NotRegistered, "no command was sent");
    if (doc_.kind == "receipt") return Fiscal();
    if (doc_.kind == "non-fiscal") return NonFiscal();
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
    if (auto stop = Query("GetDocNumber", out)) return stop;
    const auto counter = ParseCounter(out);
    if (!counter) {
      evidence_["counterNow"] = TextOf(out);
      return Settled(DocState::NeedsAttention, "the document counter is garbled");
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

  DocumentRecord doc_;
  DevicePort &port_;
  Store &store_;
  int next_ = 0;
  const StepRecord *last_ = nullptr;  // into doc_.steps
  json evidence_;
};

}  // namespace

std::optional<int64_t> ParseCounter(const nlohmann::json &out) {
  const auto text = out.find("text");
  if (text == out.end() || !text->is_string()) return std::nullopt;
  const std::string &s = text->get_ref<const std::string &>();
  if (s.empty() || s.size() > 9) return std::nullopt;
  int64_t value = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
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
