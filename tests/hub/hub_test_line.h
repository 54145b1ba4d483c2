// What the hub's unit tests share: a device's answers, a line that gives them from a script, and
// a record in a folder of its own.
#pragma once

#include <stdlib.h>

#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "device_port.h"
#include "store.h"

namespace hub::test {

inline CallResult Ok(const char *text = nullptr) {
  CallResult result{kSuccess, nlohmann::json::object(), "000000000000"};
  if (text) result.out["text"] = text;
  return result;
}
inline CallResult Refused() { return CallResult{kSuccess, nlohmann::json::object(), "220000000000"}; }
inline CallResult NoAnswer() { return CallResult{kNoResponse, nlohmann::json::object(), ""}; }
inline CallResult NotSent() { return CallResult{kNotConnected, nlohmann::json::object(), ""}; }

using Script = std::map<std::string, std::deque<CallResult>>;

// The ops a line was asked, in order; readable while a device's thread holds the line.
class SentOps {
 public:
  void Add(std::string_view op) {
    const std::lock_guard<std::mutex> lock(mutex_);
    ops_.emplace_back(op);
  }
  std::vector<std::string> Ops() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return ops_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> ops_;
};

// Answers each op from its script in turn; an op without one gets no answer.
class ScriptedPort : public DevicePort {
 public:
  explicit ScriptedPort(Script script, std::shared_ptr<SentOps> sent = std::make_shared<SentOps>())
      : script_(std::move(script)), sent_(std::move(sent)) {}
  CallResult Call(std::string_view op, const nlohmann::json &) override {
    sent_->Add(op);
    auto &answers = script_[std::string(op)];
    if (answers.empty()) return NoAnswer();
    CallResult result = answers.front();
    answers.pop_front();
    return result;
  }
  std::vector<std::string> Sent() const { return sent_->Ops(); }

 private:
  Script script_;
  const std::shared_ptr<SentOps> sent_;
};

// The fields of `expected` are in `actual` with the same values (objects compared field by field).
inline void ExpectFields(const nlohmann::json &actual, const nlohmann::json &expected, const std::string &where) {
  for (const auto &[name, value] : expected.items()) {
    ASSERT_TRUE(actual.contains(name)) << where << ": no " << name << " in " << actual;
    if (value.is_object() && actual[name].is_object()) {
      ExpectFields(actual[name], value, where + "." + name);
    } else {
      EXPECT_EQ(actual[name], value) << where << "." << name;
    }
  }
}

// A record in a new folder under the test's temporary folder; both go with this object.
class TempRecord {
 public:
  TempRecord() {
    std::string pattern = ::testing::TempDir() + "hub-record-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      ADD_FAILURE() << "cannot make " << pattern;
      return;
    }
    dir_ = pattern;
    std::string error;
    store_ = Store::Open((dir_ / "hub.db").string(), error);
    if (!store_) ADD_FAILURE() << error;
  }
  ~TempRecord() {
    store_.reset();
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  TempRecord(const TempRecord &) = delete;
  TempRecord &operator=(const TempRecord &) = delete;

  Store &store() { return *store_; }
  bool ok() const { return store_ != nullptr; }

 private:
  std::filesystem::path dir_;
  std::unique_ptr<Store> store_;
};

}  // namespace hub::test
