// The hub's write-ahead record of documents, in one SQLite file. A step's intent is committed
// before the step goes to the device and its outcome after, so that after any interruption the
// record tells what may have reached the device (see reconcile.h for how that is settled).
//
// One Store serves every thread of the hub: each method takes the store's lock and runs as one
// transaction. Nothing throws out of it; writes answer false and LastError() tells why.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "device_port.h"
#include "platform/mutex.h"

struct sqlite3;

namespace hub {

enum class DocState { InProgress, Registered, NotRegistered, NeedsAttention };
// "in-progress", "registered", "not-registered", "needs-attention"
std::string_view StateName(DocState state);
std::optional<DocState> StateFromName(std::string_view name);

struct StepRecord {
  int index = 0;
  std::string op;
  nlohmann::json args;
  bool answered = false;  // false: the intent is recorded, the outcome is not
  CallResult result;      // valid when answered
};

struct DocumentRecord {
  std::string key, device, kind;
  nlohmann::json request;  // as the caller sent it
  DocState state = DocState::InProgress;
  // The device's counter read before the first step: the document counter for a receipt, the
  // number of the last Z report for a Z report, a cash sum in hundredths for cash (reconcile.h).
  std::optional<int64_t> counterBefore;
  nlohmann::json result;                 // what the caller gets back (receipt numbers, change ...)
  nlohmann::json evidence;               // how an unknown outcome was settled
  std::vector<StepRecord> steps;         // in order of index
  int64_t createdMs = 0, updatedMs = 0;  // Unix time in ms
};

class Store {
 public:
  // The key's length bound, in bytes; any byte may be in it.
  static constexpr size_t kMaxKeyBytes = 200;

  // Opens or creates the database at `path`; nothing and `error` set when it cannot. A new file
  // is created exclusively with mode 0600, and a link at `path` is refused rather than followed.
  // A file that is not this hub's database, or one of a newer schema, is refused untouched.
  // While a Store is open, `path` + ".lock" holds a lock that keeps a second hub out.
  static std::unique_ptr<Store> Open(const std::string &path, std::string &error);
  ~Store();
  Store(const Store &) = delete;
  Store &operator=(const Store &) = delete;

  // Ends the store's use; every later call fails ("closed"). The hub's shutdown calls it.
  void Close();

  enum class Begun {
    Created,   // a new document, in progress
    Existing,  // the key exists with the same device, kind and request: *existing holds it
    Conflict,  // the key exists with another device, kind or request: *existing holds it
    Failed,    // bad key or request, or the write failed: LastError() tells
  };
  // `existing` may be null.
  Begun Begin(const std::string &key, const std::string &device, const std::string &kind, const nlohmann::json &request,
              DocumentRecord *existing);

  // The writes below answer false when the document is missing or no longer in progress, for bad
  // input, or when the write failed. A settled document is never changed again.
  bool SetCounterBefore(const std::string &key, int64_t counter);
  // Committed durably before step `index` is sent. Indexes rise: `index` must be above every
  // step recorded for the document.
  // `durable` false leaves the disk write to the next durable commit: for a step whose intent no
  // settlement reads (a sale between the opening and the closing of a receipt).
  bool StepSending(const std::string &key, int index, const std::string &op, const nlohmann::json &args,
                   bool durable = true);
  // Once per step, for a step whose intent is recorded.
  bool StepAnswered(const std::string &key, int index, const CallResult &result);
  // `state` is one of the settled states.
  bool Settle(const std::string &key, DocState state, const nlohmann::json &result, const nlohmann::json &evidence);

  // Nothing when the key is unknown or the read failed; `error` (may be null) tells the two
  // apart: empty when the key is unknown.
  std::optional<DocumentRecord> Get(const std::string &key, std::string *error = nullptr);
  // The device's documents in progress, oldest first; nothing when the read failed.
  std::optional<std::vector<DocumentRecord>> Unsettled(const std::string &device, std::string *error = nullptr);
  // The latest `limit` documents of `device` ("" for every device), newest first; nothing when
  // the read failed.
  std::optional<std::vector<DocumentRecord>> Recent(const std::string &device, size_t limit,
                                                    std::string *error = nullptr);

  // The last failure of any thread's call.
  std::string LastError() const;

 private:
  Store(sqlite3 *db, int lockFd);
  bool Failed(const std::string &message) REQUIRES(mutex_);
  bool Usable() REQUIRES(mutex_);

  mutable platform::Mutex mutex_;
  sqlite3 *db_ GUARDED_BY(mutex_);
  // The lock file's descriptor; its flock is what keeps a second hub out.
  int lockFd_ GUARDED_BY(mutex_);
  std::string lastError_ GUARDED_BY(mutex_);
};

}  // namespace hub
