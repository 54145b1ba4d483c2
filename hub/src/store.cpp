#include "store.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace hub {
namespace {

// The schema this code writes; a file of a later one is left alone.
constexpr int kSchemaVersion = 1;
// Marks the file as this hub's ("FHUB").
constexpr int kApplicationId = 0x46485542;

// Rows are numbered in the order they were begun, which orders documents even when the clock
// jumps. Keys are blobs so that any byte compares and comes back as it went in.
constexpr const char *kSchema = R"(
CREATE TABLE documents (
  id INTEGER PRIMARY KEY,
  key BLOB NOT NULL UNIQUE,
  device TEXT NOT NULL,
  kind TEXT NOT NULL,
  request TEXT NOT NULL,
  state TEXT NOT NULL,
  counter_before INTEGER,
  result TEXT,
  evidence TEXT,
  created_ms INTEGER NOT NULL,
  updated_ms INTEGER NOT NULL
);
CREATE INDEX documents_by_device ON documents (device, state, id);
CREATE TABLE steps (
  document INTEGER NOT NULL REFERENCES documents (id),
  idx INTEGER NOT NULL,
  op TEXT NOT NULL,
  args TEXT NOT NULL,
  answered INTEGER NOT NULL DEFAULT 0,
  code INTEGER,
  out TEXT,
  status TEXT,
  sent_ms INTEGER NOT NULL,
  answered_ms INTEGER,
  PRIMARY KEY (document, idx)
) WITHOUT ROWID;
)";

constexpr const char *kDocumentColumns =
    "id, key, device, kind, request, state, counter_before, result, evidence, created_ms, updated_ms";

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// A key as it may appear in a message: printable ASCII as it is, other bytes as \xNN.
std::string Printable(std::string_view key) {
  std::string text;
  for (const unsigned char c : key) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      text += static_cast<char>(c);
    } else {
      static const char kHex[] = "0123456789abcdef";
      text += {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
    }
  }
  return text;
}

// What the caller asked for must be stored exactly or not at all.
std::optional<std::string> DumpStrict(const nlohmann::json &value) {
  try {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
  } catch (const std::exception &) {
    return std::nullopt;
  }
}

// What a device answered is kept even when a text in it is broken.
std::string DumpLenient(const nlohmann::json &value) {
  try {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  } catch (const std::exception &) {
    return "null";
  }
}

nlohmann::json Parse(const std::string &text) {
  nlohmann::json value = nlohmann::json::parse(text, nullptr, false);
  return value.is_discarded() ? nlohmann::json() : value;
}

class Statement {
 public:
  Statement(sqlite3 *db, const std::string &sql) : db_(db) {
    rc_ = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt_, nullptr);
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement &) = delete;
  Statement &operator=(const Statement &) = delete;

  Statement &Text(int i, std::string_view text) {
    return Check(sqlite3_bind_text64(stmt_, i, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
  }
  Statement &Blob(int i, std::string_view bytes) {
    // An empty blob binds as a zero-length blob, not NULL, given a non-null pointer.
    return Check(sqlite3_bind_blob64(stmt_, i, bytes.empty() ? "" : bytes.data(), bytes.size(), SQLITE_TRANSIENT));
  }
  Statement &Int(int i, int64_t value) { return Check(sqlite3_bind_int64(stmt_, i, value)); }
  Statement &Null(int i) { return Check(sqlite3_bind_null(stmt_, i)); }

  // SQLITE_ROW, SQLITE_DONE or an error; a failed prepare or bind answers its own error.
  int Step() {
    if (rc_ != SQLITE_OK) return rc_;
    return sqlite3_step(stmt_);
  }
  bool Done() { return Step() == SQLITE_DONE; }

  std::string ColumnText(int i) {
    const auto *data = static_cast<const char *>(sqlite3_column_blob(stmt_, i));
    const int size = sqlite3_column_bytes(stmt_, i);
    return data ? std::string(data, static_cast<size_t>(size)) : std::string();
  }
  int64_t ColumnInt(int i) { return sqlite3_column_int64(stmt_, i); }
  bool ColumnNull(int i) { return sqlite3_column_type(stmt_, i) == SQLITE_NULL; }
  std::string Error() const { return sqlite3_errmsg(db_); }

 private:
  Statement &Check(int rc) {
    if (rc_ == SQLITE_OK) rc_ = rc;
    return *this;
  }
  sqlite3 *db_;
  sqlite3_stmt *stmt_ = nullptr;
  int rc_;
};

bool Exec(sqlite3 *db, const char *sql, std::string &error) {
  char *message = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
  error = message ? message : sqlite3_errmsg(db);
  sqlite3_free(message);
  return false;
}

// BEGIN IMMEDIATE takes the write lock up front, so a write never fails half-way on it.
class Transaction {
 public:
  explicit Transaction(sqlite3 *db, std::string &error) : db_(db) { began_ = Exec(db, "BEGIN IMMEDIATE", error); }
  ~Transaction() {
    // A failed COMMIT (a full disk) may have rolled back already.
    if (began_ && sqlite3_get_autocommit(db_) == 0) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  Transaction(const Transaction &) = delete;
  Transaction &operator=(const Transaction &) = delete;
  bool Began() const { return began_; }
  bool Commit(std::string &error) { return Exec(db_, "COMMIT", error); }

 private:
  sqlite3 *db_;
  bool began_;
};

// A write that need not reach the disk on its own: the WAL keeps commits in order, so it is made
// durable by the next full commit (the next step's intent, or the settlement), and a write lost
// with the power before that one only leaves the record as reconciliation reads it anyway.
class Relaxed {
 public:
  explicit Relaxed(sqlite3 *db) : db_(db) {
    sqlite3_exec(db_, "PRAGMA synchronous = NORMAL", nullptr, nullptr, nullptr);
  }
  ~Relaxed() { sqlite3_exec(db_, "PRAGMA synchronous = FULL", nullptr, nullptr, nullptr); }
  Relaxed(const Relaxed &) = delete;
  Relaxed &operator=(const Relaxed &) = delete;

 private:
  sqlite3 *db_;
};

std::optional<int64_t> PragmaInt(sqlite3 *db, const char *pragma, std::string &error) {
  Statement s(db, pragma);
  if (s.Step() != SQLITE_ROW) {
    error = s.Error();
    return std::nullopt;
  }
  return s.ColumnInt(0);
}

DocumentRecord ReadDocument(Statement &s) {
  DocumentRecord d;
  d.key = s.ColumnText(1);
  d.device = s.ColumnText(2);
  d.kind = s.ColumnText(3);
  d.request = Parse(s.ColumnText(4));
  // A state this code does not know is not taken for settled.
  d.state = StateFromName(s.ColumnText(5)).value_or(DocState::NeedsAttention);
  if (!s.ColumnNull(6)) d.counterBefore = s.ColumnInt(6);
  if (!s.ColumnNull(7)) d.result = Parse(s.ColumnText(7));
  if (!s.ColumnNull(8)) d.evidence = Parse(s.ColumnText(8));
  d.createdMs = s.ColumnInt(9);
  d.updatedMs = s.ColumnInt(10);
  return d;
}

bool ReadSteps(sqlite3 *db, int64_t id, DocumentRecord &d, std::string &error) {
  Statement s(db, "SELECT idx, op, args, answered, code, out, status FROM steps WHERE document = ?1 ORDER BY idx");
  s.Int(1, id);
  int rc;
  while ((rc = s.Step()) == SQLITE_ROW) {
    StepRecord step;
    step.index = static_cast<int>(s.ColumnInt(0));
    step.op = s.ColumnText(1);
    step.args = Parse(s.ColumnText(2));
    step.answered = s.ColumnInt(3) != 0;
    if (step.answered) {
      step.result.code = static_cast<int32_t>(s.ColumnInt(4));
      step.result.out = Parse(s.ColumnText(5));
      if (!step.result.out.is_object()) step.result.out = nlohmann::json::object();
      step.result.status = s.ColumnText(6);
    }
    d.steps.push_back(std::move(step));
  }
  if (rc == SQLITE_DONE) return true;
  error = s.Error();
  return false;
}

// Runs a SELECT of kDocumentColumns and reads each document with its steps.
std::optional<std::vector<DocumentRecord>> ReadDocuments(sqlite3 *db, Statement &s, std::string &error) {
  std::vector<std::pair<int64_t, DocumentRecord>> rows;
  int rc;
  while ((rc = s.Step()) == SQLITE_ROW) rows.emplace_back(s.ColumnInt(0), ReadDocument(s));
  if (rc != SQLITE_DONE) {
    error = s.Error();
    return std::nullopt;
  }
  std::vector<DocumentRecord> documents;
  for (auto &[id, d] : rows) {
    if (!ReadSteps(db, id, d, error)) return std::nullopt;
    documents.push_back(std::move(d));
  }
  return documents;
}

// The document's row id while it is in progress; `error` says why not otherwise.
std::optional<int64_t> InProgressId(sqlite3 *db, const std::string &key, std::string &error) {
  Statement s(db, "SELECT id, state FROM documents WHERE key = ?1");
  s.Blob(1, key);
  const int rc = s.Step();
  if (rc == SQLITE_ROW) {
    if (s.ColumnText(1) == StateName(DocState::InProgress)) return s.ColumnInt(0);
    error = "document '" + Printable(key) + "' is settled already (" + s.ColumnText(1) + ")";
  } else if (rc == SQLITE_DONE) {
    error = "no document '" + Printable(key) + "'";
  } else {
    error = s.Error();
  }
  return std::nullopt;
}

bool Touch(sqlite3 *db, int64_t id, std::string &error) {
  Statement s(db, "UPDATE documents SET updated_ms = ?1 WHERE id = ?2");
  s.Int(1, NowMs()).Int(2, id);
  if (s.Done()) return true;
  error = s.Error();
  return false;
}

}  // namespace

std::string_view StateName(DocState state) {
  switch (state) {
    case DocState::InProgress:
      return "in-progress";
    case DocState::Registered:
      return "registered";
    case DocState::NotRegistered:
      return "not-registered";
    case DocState::NeedsAttention:
      return "needs-attention";
  }
  return "needs-attention";
}

std::optional<DocState> StateFromName(std::string_view name) {
  for (const DocState state :
       {DocState::InProgress, DocState::Registered, DocState::NotRegistered, DocState::NeedsAttention}) {
    if (StateName(state) == name) return state;
  }
  return std::nullopt;
}

}  // namespace hub

namespace hub {
namespace {

std::string SystemError(const std::string &what) { return what + ": " + std::strerror(errno); }

// SQLite opens the database and its companions by name; a link or a device file at any of
// those names is refused before anything is opened.
bool CheckPaths(const std::string &path, bool &exists, std::string &error) {
  exists = false;
  for (const char *suffix : {"", "-wal", "-shm", "-journal"}) {
    const std::string name = path + suffix;
    struct stat st {};
    if (::lstat(name.c_str(), &st) != 0) {
      if (errno == ENOENT) continue;
      error = SystemError(name);
      return false;
    }
    if (S_ISLNK(st.st_mode)) {
      error = name + " is a symbolic link; the store does not follow links";
      return false;
    }
    if (!S_ISREG(st.st_mode)) {
      error = name + " is not a regular file";
      return false;
    }
    if (*suffix == '\0') exists = true;
  }
  return true;
}

// The lock is held for the store's life: a second hub on the same file would interleave its
// documents with ours and settle ours as its own.
int TakeLock(const std::string &path, std::string &error) {
  const std::string name = path + ".lock";
  const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = errno == ELOOP ? name + " is a symbolic link; the store does not follow links" : SystemError(name);
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = name + " is not a regular file";
  } else if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = errno == EWOULDBLOCK ? path + " is in use by another hub" : SystemError(name);
  } else {
    return fd;
  }
  ::close(fd);
  return -1;
}

bool CreateExclusively(const std::string &path, std::string &error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = SystemError(path);
    return false;
  }
  // The mode is exact whatever the umask.
  bool ok = ::fchmod(fd, 0600) == 0;
  if (!ok) error = SystemError(path);
  ::close(fd);
  // The new name must outlive a power loss as much as the first step written under it.
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return ok;
}

// Reads before it writes, so that a file found not to be ours is left as it was.
bool Prepare(sqlite3 *db, const std::string &path, std::string &error) {
  const auto version = PragmaInt(db, "PRAGMA user_version", error);
  const auto application = version ? PragmaInt(db, "PRAGMA application_id", error) : std::nullopt;
  const auto objects = application ? PragmaInt(db, "SELECT count(*) FROM sqlite_master", error) : std::nullopt;
  if (!objects) {
    error = path + ": " + error;
    return false;
  }
  if (*version > kSchemaVersion) {
    error = path + " has schema version " + std::to_string(*version) + ", newer than this hub's (" +
            std::to_string(kSchemaVersion) + "); use a newer hub";
    return false;
  }
  if ((*application != 0 && *application != kApplicationId) || (*version == 0 && *objects != 0) ||
      (*version != 0 && *application != kApplicationId)) {
    error = path + " is a database of another program";
    return false;
  }
  sqlite3_busy_timeout(db, 2000);
  {
    Statement wal(db, "PRAGMA journal_mode = WAL");
    if (wal.Step() != SQLITE_ROW || wal.ColumnText(0) != "wal") {
      error = path + ": cannot use a write-ahead log: " + wal.Error();
      return false;
    }
  }
  // A step's intent must survive a power loss: every commit reaches the disk.
  if (!Exec(db, "PRAGMA synchronous = FULL", error)) return false;
  if (*version == kSchemaVersion) return true;
  Transaction tx(db, error);
  const std::string setup = std::string(kSchema) + "PRAGMA application_id = " + std::to_string(kApplicationId) +
                            ";\nPRAGMA user_version = " + std::to_string(kSchemaVersion) + ";";
  if (tx.Began() && Exec(db, setup.c_str(), error) && tx.Commit(error)) return true;
  error = path + ": cannot create the tables: " + error;
  return false;
}

template <typename Body>
bool WriteDocument(sqlite3 *db, const std::string &key, std::string &error, Body body) {
  Transaction tx(db, error);
  if (!tx.Began()) return false;
  const auto id = InProgressId(db, key, error);
  return id && body(*id) && Touch(db, *id, error) && tx.Commit(error);
}

bool DoneOrError(Statement &s, std::string &error) {
  if (s.Done()) return true;
  error = s.Error();
  return false;
}

}  // namespace

std::unique_ptr<Store> Store::Open(const std::string &path, std::string &error) {
  error.clear();
  bool exists = false;
  if (path.empty()) {
    error = "no path for the store";
    return nullptr;
  }
  if (!CheckPaths(path, exists, error)) return nullptr;
  const int lockFd = TakeLock(path, error);
  if (lockFd < 0) return nullptr;
  sqlite3 *db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX;
  if ((exists || CreateExclusively(path, error)) && sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    error = path + ": " + (db ? sqlite3_errmsg(db) : "cannot open");
  }
  if (error.empty() && Prepare(db, path, error)) return std::unique_ptr<Store>(new Store(db, lockFd));
  sqlite3_close_v2(db);
  // A file made here and refused is removed again; one found here is left as it was.
  if (!exists && db) ::unlink(path.c_str());
  ::close(lockFd);
  return nullptr;
}

Store::Store(sqlite3 *db, int lockFd) : db_(db), lockFd_(lockFd) {}

Store::~Store() { Close(); }

void Store::Close() {
  platform::MutexLock lock(mutex_);
  if (!db_) return;
  sqlite3_close_v2(db_);
  db_ = nullptr;
  // Only after SQLite let go of the file: the lock keeps others out until then.
  ::close(lockFd_);
  lockFd_ = -1;
}

bool Store::Failed(const std::string &message) {
  lastError_ = message;
  return false;
}

bool Store::Usable() { return db_ != nullptr || Failed("the store is closed"); }

std::string Store::LastError() const {
  platform::MutexLock lock(mutex_);
  return lastError_;
}

Store::Begun Store::Begin(const std::string &key, const std::string &device, const std::string &kind,
                          const nlohmann::json &request, DocumentRecord *existing) {
  platform::MutexLock lock(mutex_);
  if (!Usable()) return Begun::Failed;
  if (key.empty() || key.size() > kMaxKeyBytes) {
    Failed("a key is 1 to " + std::to_string(kMaxKeyBytes) + " bytes");
    return Begun::Failed;
  }
  const auto text = DumpStrict(request);
  if (!text) {
    Failed("the request of '" + Printable(key) + "' holds a text that is not UTF-8");
    return Begun::Failed;
  }
  std::string error;
  // Nothing is sent before the first step's intent, whose full commit takes this along.
  const Relaxed relaxed(db_);
  Transaction tx(db_, error);
  if (tx.Began()) {
    Statement find(db_, std::string("SELECT ") + kDocumentColumns + " FROM documents WHERE key = ?1");
    find.Blob(1, key);
    const int rc = find.Step();
    if (rc == SQLITE_ROW) {
      DocumentRecord found = ReadDocument(find);
      const bool same = found.device == device && found.kind == kind && find.ColumnText(4) == *text;
      if (!ReadSteps(db_, find.ColumnInt(0), found, error)) {
        Failed(error);
        return Begun::Failed;
      }
      if (existing) *existing = std::move(found);
      return same ? Begun::Existing : Begun::Conflict;
    }
    if (rc != SQLITE_DONE) error = find.Error();
  }
  if (error.empty()) {
    const int64_t now = NowMs();
    Statement insert(db_,
                     "INSERT INTO documents (key, device, kind, request, state, created_ms, updated_ms) "
                     "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?6)");
    insert.Blob(1, key).Text(2, device).Text(3, kind).Text(4, *text).Text(5, StateName(DocState::InProgress));
    insert.Int(6, now);
    if (DoneOrError(insert, error) && tx.Commit(error)) return Begun::Created;
  }
  Failed("cannot begin '" + Printable(key) + "': " + error);
  return Begun::Failed;
}

bool Store::SetCounterBefore(const std::string &key, int64_t counter) {
  platform::MutexLock lock(mutex_);
  if (!Usable()) return false;
  std::string error;
  sqlite3 *db = db_;
  const Relaxed relaxed(db);  // made durable with the first step's intent
  const bool ok = WriteDocument(db, key, error, [&](int64_t id) {
    // Once read, the counter is what every later decision rests on: it is not replaced.
    Statement s(db, "UPDATE documents SET counter_before = ?1 WHERE id = ?2 AND coalesce(counter_before, ?1) = ?1");
    s.Int(1, counter).Int(2, id);
    if (!DoneOrError(s, error)) return false;
    if (sqlite3_changes(db) == 1) return true;
    error = "another counter is recorded already";
    return false;
  });
  return ok || Failed("cannot record the counter of '" + Printable(key) + "': " + error);
}

bool Store::StepSending(const std::string &key, int index, const std::string &op, const nlohmann::json &args,
                        bool durable) {
  platform::MutexLock lock(mutex_);
  if (!Usable()) return false;
  const auto text = DumpStrict(args);
  if (index < 0 || op.empty() || !text) {
    return Failed("step " + std::to_string(index) + " of '" + Printable(key) +
                  "': a step needs an index from 0, an operation and arguments in UTF-8");
  }
  std::string error;
  sqlite3 *db = db_;
  std::optional<Relaxed> relaxed;
  if (!durable) relaxed.emplace(db);
  const bool ok = WriteDocument(db, key, error, [&](int64_t id) {
    Statement last(db, "SELECT max(idx) FROM steps WHERE document = ?1");
    last.Int(1, id);
    if (last.Step() != SQLITE_ROW) {
      error = last.Error();
      return false;
    }
    if (!last.ColumnNull(0) && last.ColumnInt(0) >= index) {
      error = "step " + std::to_string(last.ColumnInt(0)) + " is recorded already";
      return false;
    }
    Statement s(db, "INSERT INTO steps (document, idx, op, args, sent_ms) VALUES (?1, ?2, ?3, ?4, ?5)");
    s.Int(1, id).Int(2, index).Text(3, op).Text(4, *text).Int(5, NowMs());
    return DoneOrError(s, error);
  });
  return ok || Failed("cannot record step " + std::to_string(index) + " of '" + Printable(key) + "': " + error);
}

bool Store::StepAnswered(const std::string &key, int index, const CallResult &result) {
  platform::MutexLock lock(mutex_);
  if (!Usable()) return false;
  std::string error;
  sqlite3 *db = db_;
  // Lost with the power, the answer leaves the step unknown, which reconciliation settles.
  const Relaxed relaxed(db);
  const bool ok = WriteDocument(db, key, error, [&](int64_t id) {
    Statement s(db,
                "UPDATE steps SET answered = 1, code = ?1, out = ?2, status = ?3, answered_ms = ?4 "
                "WHERE document = ?5 AND idx = ?6 AND answered = 0");
    s.Int(1, result.code).Text(2, DumpLenient(result.out)).Text(3, result.status).Int(4, NowMs());
    s.Int(5, id).Int(6, index);
    if (!DoneOrError(s, error)) return false;
    if (sqlite3_changes(db) == 1) return true;
    error = "the step is not recorded as sent, or is answered already";
    return false;
  });
  return ok ||
         Failed("cannot record the answer to step " + std::to_string(index) + " of '" + Printable(key) + "': " + error);
}

bool Store::Settle(const std::string &key, DocState state, const nlohmann::json &result,
                   const nlohmann::json &evidence) {
  platform::MutexLock lock(mutex_);
  if (!Usable()) return false;
  if (state == DocState::InProgress) return Failed("'" + Printable(key) + "' cannot be settled as in progress");
  std::string error;
  sqlite3 *db = db_;
  const bool ok = WriteDocument(db, key, error, [&](int64_t id) {
    Statement s(db, "UPDATE documents SET state = ?1, result = ?2, evidence = ?3 WHERE id = ?4");
    s.Text(1, StateName(state)).Text(2, DumpLenient(result)).Text(3, DumpLenient(evidence)).Int(4, id);
    return DoneOrError(s, error);
  });
  return ok || Failed("cannot settle '" + Printable(key) + "': " + error);
}

std::optional<DocumentRecord> Store::Get(const std::string &key, std::string *error) {
  platform::MutexLock lock(mutex_);
  std::string message;
  if (Usable()) {
    Statement s(db_, std::string("SELECT ") + kDocumentColumns + " FROM documents WHERE key = ?1");
    s.Blob(1, key);
    auto documents = ReadDocuments(db_, s, message);
    if (documents) {
      if (error) error->clear();
      if (documents->empty()) return std::nullopt;
      return std::move(documents->front());
    }
    Failed("cannot read '" + Printable(key) + "': " + message);
  }
  if (error) *error = lastError_;
  return std::nullopt;
}

std::optional<std::vector<DocumentRecord>> Store::Unsettled(const std::string &device, std::string *error) {
  platform::MutexLock lock(mutex_);
  std::string message;
  if (Usable()) {
    Statement s(db_, std::string("SELECT ") + kDocumentColumns +
                         " FROM documents WHERE device = ?1 AND state = ?2 ORDER BY id");
    s.Text(1, device).Text(2, StateName(DocState::InProgress));
    auto documents = ReadDocuments(db_, s, message);
    if (documents) return documents;
    Failed("cannot read the documents in progress: " + message);
  }
  if (error) *error = lastError_;
  return std::nullopt;
}

std::optional<std::vector<DocumentRecord>> Store::Recent(const std::string &device, size_t limit, std::string *error) {
  platform::MutexLock lock(mutex_);
  std::string message;
  if (Usable()) {
    Statement s(db_, std::string("SELECT ") + kDocumentColumns +
                         " FROM documents WHERE ?1 = '' OR device = ?1 ORDER BY id DESC LIMIT ?2");
    s.Text(1, device).Int(2, static_cast<int64_t>(std::min<size_t>(limit, INT64_MAX)));
    auto documents = ReadDocuments(db_, s, message);
    if (documents) return documents;
    Failed("cannot read the latest documents: " + message);
  }
  if (error) *error = lastError_;
  return std::nullopt;
}

}  // namespace hub
