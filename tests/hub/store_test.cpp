#include "store.h"

#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

namespace hub {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string ReadAll(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = ::testing::TempDir() + "hub-store-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    path_ = (dir_ / "hub.db").string();
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::unique_ptr<Store> OpenOk() {
    std::string error;
    auto store = Store::Open(path_, error);
    EXPECT_TRUE(store) << error;
    return store;
  }
  // A database of another kind, made with SQLite directly.
  void MakeDatabase(const std::string &path, const char *sql) {
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  fs::path dir_;
  std::string path_;
};

const json kRequest = {{"kind", "receipt"}, {"items", {{{"text", "Bread"}, {"price", 1.2}}}}};

TEST_F(StoreTest, ADocumentsLifeSurvivesReopening) {
  {
    auto store = OpenOk();
    ASSERT_TRUE(store);
    ASSERT_EQ(store->Begin("k1", "fp1", "receipt", kRequest, nullptr), Store::Begun::Created);
    ASSERT_EQ(store->Begin("k2", "fp1", "report", json::object(), nullptr), Store::Begun::Created);
    ASSERT_EQ(store->Begin("k3", "fp2", "cash", json::object(), nullptr), Store::Begun::Created);
    EXPECT_TRUE(store->SetCounterBefore("k1", 17));
    EXPECT_TRUE(store->SetCounterBefore("k1", 17));
    EXPECT_FALSE(store->SetCounterBefore("k1", 18));  // the counter read first stands
    ASSERT_TRUE(store->StepSending("k1", 0, "BeginFiscalBon", json::array({1, "0000", 1, ""})));
    ASSERT_TRUE(store->StepAnswered("k1", 0, CallResult{0, {{"first", 18}}, "000000000000"}));
    ASSERT_TRUE(store->StepSending("k1", 1, "EndFiscalBon", json::array()));
    ASSERT_TRUE(store->StepSending("k2", 0, "PrintReport", json::array({0})));
    ASSERT_TRUE(store->Settle("k1", DocState::Registered, {{"receipt", 18}}, {{"counterNow", 18}}));
  }
  auto store = OpenOk();
  ASSERT_TRUE(store);
  const auto doc = store->Get("k1");
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->device, "fp1");
  EXPECT_EQ(doc->kind, "receipt");
  EXPECT_EQ(doc->request, kRequest);
  EXPECT_EQ(doc->state, DocState::Registered);
  EXPECT_EQ(doc->counterBefore, 17);
  EXPECT_EQ(doc->result, json({{"receipt", 18}}));
  EXPECT_EQ(doc->evidence, json({{"counterNow", 18}}));
  ASSERT_EQ(doc->steps.size(), 2u);
  EXPECT_EQ(doc->steps[0].op, "BeginFiscalBon");
  EXPECT_EQ(doc->steps[0].args, json::array({1, "0000", 1, ""}));
  EXPECT_TRUE(doc->steps[0].answered);
  EXPECT_EQ(doc->steps[0].result.out, json({{"first", 18}}));
  EXPECT_EQ(doc->steps[0].result.status, "000000000000");
  EXPECT_EQ(doc->steps[1].index, 1);
  EXPECT_FALSE(doc->steps[1].answered);
  EXPECT_GT(doc->createdMs, 0);
  EXPECT_GE(doc->updatedMs, doc->createdMs);

  const auto unsettled = store->Unsettled("fp1");
  ASSERT_TRUE(unsettled);
  ASSERT_EQ(unsettled->size(), 1u);
  EXPECT_EQ(unsettled->front().key, "k2");
  EXPECT_EQ(unsettled->front().steps.size(), 1u);
  const auto all = store->Recent("", 10);
  ASSERT_TRUE(all);
  ASSERT_EQ(all->size(), 3u);
  EXPECT_EQ(all->at(0).key, "k3");
  EXPECT_EQ(all->at(2).key, "k1");
  const auto fp1 = store->Recent("fp1", 1);
  ASSERT_TRUE(fp1);
  ASSERT_EQ(fp1->size(), 1u);
  EXPECT_EQ(fp1->front().key, "k2");
  std::string error = "x";
  EXPECT_FALSE(store->Get("nothing", &error));
  EXPECT_EQ(error, "");
}

// What the record rests on cannot be rewritten: a settled document, a step out of order, a
// second answer. Each refusal says why and leaves the record as it was.
TEST_F(StoreTest, WritesThatWouldRewriteTheRecordAreRefused) {
  auto store = OpenOk();
  ASSERT_TRUE(store);
  ASSERT_EQ(store->Begin("k", "fp1", "receipt", kRequest, nullptr), Store::Begun::Created);
  ASSERT_TRUE(store->StepSending("k", 2, "Sale", json::array()));
  EXPECT_FALSE(store->StepSending("k", 2, "Sale", json::array()));
  EXPECT_FALSE(store->StepSending("k", 1, "Sale", json::array()));
  EXPECT_FALSE(store->StepAnswered("k", 5, CallResult{}));
  ASSERT_TRUE(store->StepAnswered("k", 2, CallResult{}));
  EXPECT_FALSE(store->StepAnswered("k", 2, CallResult{kNoResponse, {}, ""}));
  EXPECT_FALSE(store->Settle("k", DocState::InProgress, {}, {}));
  EXPECT_FALSE(store->StepSending("missing", 0, "Sale", json::array()));
  EXPECT_NE(store->LastError().find("no document 'missing'"), std::string::npos) << store->LastError();
  ASSERT_TRUE(store->Settle("k", DocState::NotRegistered, {}, {}));
  EXPECT_FALSE(store->Settle("k", DocState::Registered, {}, {}));
  EXPECT_NE(store->LastError().find("settled already"), std::string::npos) << store->LastError();
  EXPECT_FALSE(store->StepSending("k", 3, "Sale", json::array()));
  EXPECT_FALSE(store->SetCounterBefore("k", 1));
  const auto doc = store->Get("k");
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->state, DocState::NotRegistered);
  ASSERT_EQ(doc->steps.size(), 1u);
  EXPECT_EQ(doc->steps[0].result.code, kSuccess);

  store->Close();
  EXPECT_FALSE(store->Get("k"));
  EXPECT_FALSE(store->Unsettled("fp1"));
  EXPECT_EQ(store->Begin("j", "fp1", "receipt", kRequest, nullptr), Store::Begun::Failed);
  EXPECT_NE(store->LastError().find("closed"), std::string::npos);
}

TEST_F(StoreTest, AKeyAgainIsTheSameDocumentOnlyWithTheSameRequest) {
  auto store = OpenOk();
  ASSERT_TRUE(store);
  ASSERT_EQ(store->Begin("k", "fp1", "receipt", kRequest, nullptr), Store::Begun::Created);
  ASSERT_TRUE(store->StepSending("k", 0, "BeginFiscalBon", json::array()));
  const struct {
    const char *device, *kind;
    json request;
    Store::Begun begun;
  } cases[] = {
      {"fp1", "receipt", kRequest, Store::Begun::Existing},
      {"fp2", "receipt", kRequest, Store::Begun::Conflict},
      {"fp1", "non-fiscal", kRequest, Store::Begun::Conflict},
      {"fp1", "receipt", {{"kind", "receipt"}}, Store::Begun::Conflict},
  };
  for (const auto &c : cases) {
    DocumentRecord existing;
    EXPECT_EQ(store->Begin("k", c.device, c.kind, c.request, &existing), c.begun) << c.device << " " << c.kind;
    EXPECT_EQ(existing.key, "k");
    EXPECT_EQ(existing.request, kRequest);
    EXPECT_EQ(existing.steps.size(), 1u);
  }
}

TEST_F(StoreTest, FilesThatAreNotOursAreRefusedUntouched) {
  const std::string text = dir_ / "text";
  std::ofstream(text) << "not a database at all, but long enough to look like a header";
  const std::string newer = dir_ / "newer.db";
  MakeDatabase(newer, "PRAGMA application_id = 1179145538; PRAGMA user_version = 2;");
  const std::string foreign = dir_ / "foreign.db";
  MakeDatabase(foreign, "CREATE TABLE t (x);");
  const std::string link = dir_ / "link.db";
  fs::create_symlink(newer, link);
  const std::string lockLink = dir_ / "locked.db";
  fs::create_symlink(text, lockLink + ".lock");
  const std::string walLink = dir_ / "wal.db";
  fs::create_symlink(text, walLink + "-wal");
  const std::string folder = dir_ / "folder";
  fs::create_directory(folder);
  const struct {
    std::string path, target;
    const char *error;
  } cases[] = {
      {text, text, "not a database"},        {newer, newer, "schema version 2, newer"},
      {foreign, foreign, "another program"}, {link, newer, "symbolic link"},
      {lockLink, text, "symbolic link"},     {walLink, text, "symbolic link"},
      {folder, text, "not a regular file"},
  };
  for (const auto &c : cases) {
    const std::string before = ReadAll(c.target);
    std::string error;
    EXPECT_FALSE(Store::Open(c.path, error)) << c.path;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.path << ": " << error;
    EXPECT_EQ(ReadAll(c.target), before) << c.path;
  }
  EXPECT_FALSE(fs::exists(lockLink));
  EXPECT_FALSE(fs::exists(walLink));
}

TEST_F(StoreTest, TheFileIsPrivateAndASecondHubIsKeptOut) {
  ::umask(0);
  auto store = OpenOk();
  ::umask(022);
  ASSERT_TRUE(store);
  ASSERT_EQ(store->Begin("k", "fp1", "receipt", kRequest, nullptr), Store::Begun::Created);
  for (const std::string &name : {path_, path_ + ".lock", path_ + "-wal"}) {
    struct stat st {};
    ASSERT_EQ(::stat(name.c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
  }
  std::string error;
  EXPECT_FALSE(Store::Open(path_, error));
  EXPECT_NE(error.find("in use"), std::string::npos) << error;
  store.reset();
  store = OpenOk();
  ASSERT_TRUE(store);
  EXPECT_TRUE(store->Get("k"));
}

// Keys and device texts travel as bytes: whatever went in comes out, and a key is exactly its
// bytes (a NUL inside it does not end it).
TEST_F(StoreTest, OddKeysAndByteStringsRoundTrip) {
  auto store = OpenOk();
  ASSERT_TRUE(store);
  const std::string byteString = "\xc3\xbf\xc2\x80 \x01\x7f";  // U+00FF U+0080 ... as a byte string
  const std::string keys[] = {std::string("a\0b", 3), std::string("a\0c", 3), "\xff\xfe'; DROP TABLE x;--",
                              std::string(Store::kMaxKeyBytes, 'k')};
  for (const std::string &key : keys) {
    const json args = json::array({byteString, key.size()});
    ASSERT_EQ(store->Begin(key, "fp1", "command", json::object(), nullptr), Store::Begun::Created);
    ASSERT_TRUE(store->StepSending(key, 0, "PrintNonFiscalText", args)) << store->LastError();
    ASSERT_TRUE(store->StepAnswered(key, 0, CallResult{0, {{"text", byteString}}, ""}));
  }
  for (const std::string &key : keys) {
    const auto doc = store->Get(key);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->key, key);
    ASSERT_EQ(doc->steps.size(), 1u);
    EXPECT_EQ(doc->steps[0].args, json::array({byteString, key.size()}));
    EXPECT_EQ(doc->steps[0].result.out["text"], byteString);
  }
  EXPECT_EQ(store->Begin("", "fp1", "command", json::object(), nullptr), Store::Begun::Failed);
  EXPECT_EQ(store->Begin(std::string(Store::kMaxKeyBytes + 1, 'k'), "fp1", "command", json::object(), nullptr),
            Store::Begun::Failed);
  EXPECT_EQ(store->Begin("bad", "fp1", "command", json::array({"\xff"}), nullptr), Store::Begun::Failed);
  EXPECT_NE(store->LastError().find("not UTF-8"), std::string::npos) << store->LastError();
  EXPECT_FALSE(store->StepSending(keys[0], 1, "PrintNonFiscalText", json::array({"\xc3"})));
  EXPECT_FALSE(store->Get("bad"));
}

TEST_F(StoreTest, ConcurrentWritersLoseNothing) {
  auto store = OpenOk();
  ASSERT_TRUE(store);
  constexpr int kThreads = 4, kDocuments = 10;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&store, t] {
      const std::string device = "fp" + std::to_string(t);
      for (int i = 0; i < kDocuments; ++i) {
        const std::string key = device + "-" + std::to_string(i);
        EXPECT_EQ(store->Begin(key, device, "receipt", kRequest, nullptr), Store::Begun::Created);
        EXPECT_TRUE(store->SetCounterBefore(key, i));
        for (int s = 0; s < 3; ++s) {
          EXPECT_TRUE(store->StepSending(key, s, "Sale", json::array({s})));
          EXPECT_TRUE(store->StepAnswered(key, s, CallResult{}));
        }
        if (i % 2) {
          EXPECT_TRUE(store->Settle(key, DocState::Registered, {{"receipt", i}}, {}));
        }
        EXPECT_TRUE(store->Recent("", 5));
      }
    });
  }
  for (auto &thread : threads) thread.join();
  const auto all = store->Recent("", 1000);
  ASSERT_TRUE(all);
  EXPECT_EQ(all->size(), size_t{kThreads * kDocuments});
  for (const auto &doc : *all) EXPECT_EQ(doc.steps.size(), 3u) << doc.key;
  for (int t = 0; t < kThreads; ++t) {
    const auto unsettled = store->Unsettled("fp" + std::to_string(t));
    ASSERT_TRUE(unsettled);
    EXPECT_EQ(unsettled->size(), size_t{kDocuments - kDocuments / 2});
  }
}

}  // namespace
}  // namespace hub
