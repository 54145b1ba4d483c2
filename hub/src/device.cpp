#include "device.h"

#include <algorithm>
#include <utility>

#include "platform/trace.h"
#include "reconcile.h"

namespace hub {
namespace {

using Clock = std::chrono::steady_clock;

// How long a device that does not answer is left before its unsettled documents are tried again.
constexpr std::chrono::seconds kReconcileRetry{2};

nlohmann::json Describe(int index, const std::string &op, const CallResult &r) {
  return {{"step", index}, {"op", op}, {"code", r.code}, {"status", r.status}};
}

}  // namespace

std::optional<DeviceIdentity> ParseIdentity(std::string_view reply) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    const size_t comma = reply.find(',', start);
    fields.emplace_back(reply.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  if (fields.size() < 6 || fields[4].empty()) return std::nullopt;
  for (const char c : fields[4]) {
    // The serial names the device in URLs and in the record.
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' || c == '_')) {
      return std::nullopt;
    }
  }
  DeviceIdentity identity;
  identity.firmware = fields[0];
  identity.serial = fields[4];
  identity.fiscalMemory = fields[5];
  return identity;
}

Device::Device(DeviceIdentity identity, std::unique_ptr<DevicePort> port, Store &store, const DeviceText &text)
    : identity_(std::move(identity)), port_(std::move(port)), store_(store), text_(text) {
  {
    platform::MutexLock lock(mutex_);
    portName_ = identity_.port;
  }
  thread_ = std::thread([this] { Loop(); });
}

Device::~Device() {
  Stop();
  thread_.join();
}

void Device::Stop() {
  {
    platform::MutexLock lock(mutex_);
    stopping_ = true;
  }
  changed_.NotifyAll();
}

Device::Admitted Device::Admit(const Document &document, DocumentRecord *existing) {
  {
    // Recorded and queued in one step: the thread must never find the record in progress
    // without the job beside it, and settle it as abandoned.
    platform::MutexLock lock(mutex_);
    const Store::Begun begun =
        store_.Begin(document.key, identity_.serial, std::string(KindName(document.kind)), document.request, existing);
    switch (begun) {
      case Store::Begun::Existing:
        return Admitted::Existing;
      case Store::Begun::Conflict:
        return Admitted::Conflict;
      case Store::Begun::Failed:
        return Admitted::StoreFailed;
      case Store::Begun::Created:
        break;
    }
    queue_.push_back(Job{document.key, document.kind, document.steps});
  }
  changed_.NotifyAll();
  return Admitted::Queued;
}

std::optional<DocumentRecord> Device::WaitSettled(const std::string &key, std::chrono::milliseconds wait) {
  const Clock::time_point deadline = Clock::now() + wait;
  for (;;) {
    std::optional<DocumentRecord> record = store_.Get(key);
    if (!record || record->state != DocState::InProgress) return record;
    platform::MutexLock lock(mutex_);
    // A settlement between the read above and this wait is not missed: Notify takes the lock.
    if (stopping_ || !changed_.WaitUntil(mutex_, deadline)) {
      lock.Unlock();
      return store_.Get(key);
    }
  }
}

Device::Ran Device::RunOnLine(const LineWork &work, std::chrono::milliseconds startWait) {
  const Clock::time_point deadline = Clock::now() + startWait;
  platform::MutexLock lock(mutex_);
  const uint64_t task = ++lastTask_;
  queue_.push_back(Job{std::string(), DocumentKind::Command, {}, task, &work});
  changed_.NotifyAll();
  for (;;) {
    const auto queued = std::find_if(queue_.begin(), queue_.end(), [task](const Job &job) { return job.task == task; });
    if (queued == queue_.end()) {
      if (runningTask_ != task) return Ran::Done;
      changed_.Wait(mutex_);
      continue;
    }
    if (stopping_ || (!changed_.WaitUntil(mutex_, deadline) && Clock::now() >= deadline)) {
      // Taken back while the lock is held: the thread cannot have begun it meanwhile.
      const auto still =
          std::find_if(queue_.begin(), queue_.end(), [task](const Job &job) { return job.task == task; });
      if (still == queue_.end()) continue;
      queue_.erase(still);
      return Ran::NotStarted;
    }
  }
}

size_t Device::QueueLength() const {
  platform::MutexLock lock(mutex_);
  return queue_.size();
}

DeviceIdentity Device::Identity() const {
  platform::MutexLock lock(mutex_);
  DeviceIdentity identity = identity_;
  identity.port = portName_;
  return identity;
}

void Device::SetAbsent(bool absent) {
  {
    platform::MutexLock lock(mutex_);
    if (absent_ == absent) return;
    absent_ = absent;
  }
  platform::Trace("fiscal-hub: device %s %s", identity_.serial.c_str(), absent ? "is gone" : "is back");
  changed_.NotifyAll();
}

bool Device::Absent() const {
  platform::MutexLock lock(mutex_);
  return absent_;
}

Device::Offer Device::OfferLine(const std::string &port, std::unique_ptr<DevicePort> line,
                                std::function<bool(DevicePort &)> stillOurs, std::chrono::milliseconds wait) {
  auto decision = std::make_shared<std::optional<Offer>>();
  std::optional<PendingLine> replaced;
  {
    platform::MutexLock lock(mutex_);
    if (stopping_) return Offer::Undecided;
    replaced.swap(offered_);
    offered_ = PendingLine{port, std::move(line), std::move(stillOurs), decision};
  }
  changed_.NotifyAll();
  replaced.reset();  // its line closed outside the lock: that may take a while
  const Clock::time_point deadline = Clock::now() + wait;
  platform::MutexLock lock(mutex_);
  while (!decision->has_value() && !stopping_ && changed_.WaitUntil(mutex_, deadline)) {
  }
  return decision->value_or(Offer::Undecided);
}

bool Device::AwaitLine() {
  for (;;) {
    std::optional<PendingLine> offer;
    {
      platform::MutexLock lock(mutex_);
      while (absent_ && !offered_ && !stopping_) changed_.Wait(mutex_);
      if (stopping_) return false;
      if (!offered_) return true;
      offer.swap(offered_);
    }
    // The old line is asked outside the lock: it may take a device's whole time-out.
    const bool keep = port_ && offer->stillOurs && offer->stillOurs(*port_);
    std::unique_ptr<DevicePort> closing = std::move(keep ? offer->line : port_);
    if (!keep) port_ = std::move(offer->line);
    std::string from;
    {
      platform::MutexLock lock(mutex_);
      from = portName_;
      *offer->decision = keep ? Offer::StillServed : Offer::Moved;
      if (!keep) {
        portName_ = offer->port;
        absent_ = false;
      }
    }
    changed_.NotifyAll();
    if (!keep) {
      platform::Trace("fiscal-hub: device %s moved from %s to %s", identity_.serial.c_str(), from.c_str(),
                      offer->port.c_str());
    }
    closing.reset();
  }
}

std::string Device::State() const {
  platform::MutexLock lock(mutex_);
  if (absent_) return "absent";
  if (reconciling_) return "reconciling";
  return working_ ? "working" : "ready";
}

std::string Device::LastStatus() const {
  platform::MutexLock lock(mutex_);
  return lastStatus_;
}

LineCounts Device::Counts() const {
  platform::MutexLock lock(mutex_);
  return counts_;
}

void Device::Notify() {
  { platform::MutexLock lock(mutex_); }
  changed_.NotifyAll();
}

CallResult Device::Call(const std::string &op, const nlohmann::json &args) {
  const auto at = std::chrono::system_clock::now();
  const Clock::time_point start = Clock::now();
  CallResult result = port_->Call(op, args);
  const Effect effect = EffectOf(result);
  platform::MutexLock lock(mutex_);
  if (journal_.size() == kJournalMax) journal_.pop_front();
  journal_.push_back({at, op, result.code, effect, result.status,
                      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start)});
  ++counts_.calls;
  if (!result.status.empty()) lastStatus_ = result.status;
  switch (effect) {
    case Effect::Refused:
      ++counts_.refused;
      break;
    case Effect::Unknown:
      ++counts_.unknown;
      break;
    default:
      break;
  }
  return result;
}

std::vector<JournalEntry> Device::Journal(size_t limit) const {
  platform::MutexLock lock(mutex_);
  const size_t n = std::min(limit, journal_.size());
  return {journal_.end() - static_cast<std::ptrdiff_t>(n), journal_.end()};
}

void Device::Loop() {
  for (;;) {
    if (!AwaitLine()) return;
    if (!SettleUnsettled()) {
      platform::MutexLock lock(mutex_);
      reconciling_ = true;
      if (!stopping_) changed_.WaitUntil(mutex_, Clock::now() + kReconcileRetry);
      if (stopping_) return;
      continue;
    }
    Job job;
    {
      platform::MutexLock lock(mutex_);
      reconciling_ = false;
      while ((queue_.empty() || absent_) && !offered_ && !stopping_) changed_.Wait(mutex_);
      if (stopping_) return;
      if (offered_ || absent_) continue;  // the line first
      job = std::move(queue_.front());
      queue_.pop_front();
      working_ = true;
      runningTask_ = job.task;
    }
    if (job.work != nullptr) {
      (*job.work)([this](const std::string &op, const nlohmann::json &args) { return Call(op, args); });
    } else {
      RunDocument(job);
    }
    {
      platform::MutexLock lock(mutex_);
      working_ = false;
      runningTask_ = 0;
    }
    Notify();
  }
}

bool Device::SettleUnsettled() {
  const std::optional<std::vector<DocumentRecord>> open = store_.Unsettled(identity_.serial);
  if (!open) return false;  // the record cannot be read: nothing may go out until it can
  for (const DocumentRecord &doc : *open) {
    {
      platform::MutexLock lock(mutex_);
      // Documents queued in this run are still to be sent, not to be settled.
      bool queued = false;
      for (const Job &job : queue_) queued = queued || job.key == doc.key;
      if (queued) continue;
    }
    Settlement settlement = Reconcile(doc, *port_, store_);
    if (!settlement.settled) return false;
    store_.Settle(doc.key, settlement.state, settlement.result, settlement.evidence);
    {
      platform::MutexLock lock(mutex_);
      ++counts_.settled;
    }
    Notify();
  }
  return true;
}

void Device::SettleUnknown(const std::string &key, const nlohmann::json &refusal) {
  for (;;) {
    std::optional<DocumentRecord> doc = store_.Get(key);
    if (!doc || !AwaitLine()) return;
    Settlement settlement = Reconcile(*doc, *port_, store_);
    if (settlement.settled) {
      if (!refusal.is_null()) settlement.evidence["refused"] = refusal;
      store_.Settle(key, settlement.state, settlement.result, settlement.evidence);
      platform::MutexLock lock(mutex_);
      ++counts_.settled;
      reconciling_ = false;
      return;
    }
    platform::MutexLock lock(mutex_);
    reconciling_ = true;
    if (stopping_) return;  // settled at the next start, before anything else
    changed_.WaitUntil(mutex_, Clock::now() + kReconcileRetry);
    if (stopping_) return;
  }
}

void Device::RunDocument(const Job &job) {
  const Counter counter =
      job.steps.empty() ? Counter::None : CounterOf(KindName(job.kind), job.steps[0].op, job.steps[0].args);
  if (counter != Counter::None) {
    const std::string query(CounterQuery(counter));
    const CallResult read = Call(query, nlohmann::json::array());
    const Effect effect = EffectOf(read);
    const std::optional<int64_t> before = effect == Effect::Executed ? ReadCounter(counter, read.out) : std::nullopt;
    // A receipt never goes without its counter, nor anything to a device that did not answer.
    // A report or cash whose counter the device refused or wrote otherwise still goes, as it
    // did before it had a counter: should its outcome be unknown, it needs attention.
    if (!before && (counter == Counter::Documents || (effect != Effect::Executed && effect != Effect::Refused))) {
      // Nothing of the document went out: it can be asked for again under a new key.
      store_.Settle(job.key, DocState::NotRegistered, nlohmann::json::object(),
                    {{"reason", counter == Counter::Documents ? "the device did not give its document counter"
                                                              : "the device did not answer"},
                     {"counter", Describe(-1, query, read)}});
      return;
    }
    if (!before) {
      platform::Trace("fiscal-hub: %s goes without a counter: %s gave none", job.key.c_str(), query.c_str());
    } else if (!store_.SetCounterBefore(job.key, *before)) {
      platform::Trace("fiscal-hub: cannot record the counter of %s: %s", job.key.c_str(), store_.LastError().c_str());
      return;  // left in progress with nothing sent; settled as not registered at the next start
    }
  }
  std::vector<CallResult> results;
  for (size_t i = 0; i < job.steps.size(); ++i) {
    const Step &step = job.steps[i];
    const int index = static_cast<int>(i);
    // Settlement reads the counter, the first step and a closing or voiding step: their intents
    // reach the disk before they go out; the steps between ride along with the next of them.
    const bool durable = i == 0 || step.op == "EndFiscalBon" || step.op == "VoidAll" || step.op == "EndNonFiscalBon";
    if (!store_.StepSending(job.key, index, step.op, step.args, durable)) {
      // Nothing goes to the device that the record does not show first.
      platform::Trace("fiscal-hub: cannot record step %d of %s: %s", index, job.key.c_str(),
                      store_.LastError().c_str());
      if (i > 0) SettleUnknown(job.key, nlohmann::json());
      return;
    }
    const CallResult result = Call(step.op, step.args);
    store_.StepAnswered(job.key, index, result);
    const Effect effect = EffectOf(result);
    if (effect == Effect::Executed) {
      results.push_back(result);
      continue;
    }
    // Settled by the rules of an unknown outcome: a receipt the device refused halfway is voided
    // (or a slip closed), and a document whose every command was refused is not registered.
    SettleUnknown(job.key, effect == Effect::Unknown ? nlohmann::json() : Describe(index, step.op, result));
    return;
  }
  store_.Settle(job.key, DocState::Registered, ResultOf(job, results), nlohmann::json::object());
}

nlohmann::json Device::ResultOf(const Job &job, const std::vector<CallResult> &results) const {
  nlohmann::json result = nlohmann::json::object();
  for (size_t i = 0; i < results.size() && i < job.steps.size(); ++i) {
    const std::string &op = job.steps[i].op;
    const nlohmann::json &out = results[i].out;
    if ((op == "EndFiscalBon" || op == "BeginFiscalBon" || op == "BeginNonFiscalBon") && out.is_object()) {
      if (out.contains("first") && out["first"].is_number()) result["receipt"] = out["first"];
      if (op != "BeginNonFiscalBon" && out.contains("second") && out["second"].is_number()) {
        result["fiscalReceipt"] = out["second"];
      }
    } else if (op == "EndNonFiscalBon" && out.contains("number") && out["number"].is_number()) {
      result["receipt"] = out["number"];
    } else if (op == "Total" && out.contains("amount") && out["amount"].is_number()) {
      const bool paid = out.contains("paymentCode") && out["paymentCode"] == static_cast<int>('D');
      result[paid ? "change" : "due"] = out["amount"];
    } else if (out.contains("text") && out["text"].is_string()) {
      const std::optional<std::string> bytes = ByteStringToBytes(out["text"].get<std::string>());
      result["reply"] = text_.FromDevice(bytes.value_or(std::string()));
    }
  }
  return result;
}

}  // namespace hub
