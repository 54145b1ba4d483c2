// The service tool's splitting of reply fields, alone and as the report pre-check reads the
// device's answer with it.
//
// Input: byte 0 is a separator, byte 1 scripts the pre-check (bit 0: the query fails, bits 1..3:
// the person's answers to the questions, in turn); the rest is the reply text.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/fields.h"
#include "core/link.h"
#include "dialogs/prompter.h"
#include "programming/report_precheck.h"

namespace {

using namespace tillwright;

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

// Fields are the maximal runs of bytes other than the separator, in order.
void CheckSplit(std::string_view text, char separator) {
  const std::vector<std::string> fields = SplitFields(text, separator);
  std::vector<std::string> runs;
  bool inRun = false;
  for (char c : text) {
    if (c == separator) {
      inRun = false;
      continue;
    }
    if (!inRun) runs.emplace_back();
    runs.back() += c;
    inRun = true;
  }
  Require(fields == runs);
}

class ScriptedLink final : public ILink {
 public:
  ScriptedLink(std::string reply, bool queryFails) : reply_(std::move(reply)), queryFails_(queryFails) {}

  int TestConnection() override { return 0; }
  int SendCommand(std::string &reply, std::string &, uint16_t code) override {
    codes.push_back(code);
    if (codes.size() == 1) {
      reply = reply_;
      return queryFails_ ? 1 : 0;
    }
    reply.clear();
    return 0;
  }
  int SerialConnect(const std::string &, uint32_t, uint16_t, uint16_t, uint16_t) override { return 0; }
  int SerialSetWindow(int32_t) override { return 0; }
  void SerialDisconnect() override {}
  std::string LastStatus() const override { return {}; }

  std::vector<uint16_t> codes;

 private:
  std::string reply_;
  bool queryFails_;
};

class ScriptedPrompter final : public ui::IPrompter {
 public:
  explicit ScriptedPrompter(uint8_t answers) : answers_(answers) {}

  bool AskOkCancel(std::string_view, std::string_view, ui::Icon) override {
    lastAnswer = ((answers_ >> asked++) & 1) != 0;
    return lastAnswer;
  }
  bool AskYesNo(std::string_view, std::string_view, ui::Icon) override { return false; }
  void Inform(std::string_view, std::string_view, ui::Icon) override {}
  void BeginWait() override {}
  void EndWait() override {}
  std::optional<std::string> OpenFile(std::string_view, std::string_view) override { return std::nullopt; }
  std::optional<std::string> SaveFile(std::string_view, std::string_view, std::string_view) override {
    return std::nullopt;
  }
  void BeginProgress(std::string_view, int, bool) override {}
  void SetProgress(int, std::string_view) override {}
  bool Stopped() const override { return false; }
  void WaitProgress() override {}
  void EndProgress() override {}
  int Run(ui::Dialog &) override { return 0; }

  int asked = 0;
  bool lastAnswer = true;

 private:
  uint8_t answers_;
};

void CheckPreCheck(std::string reply, uint8_t script) {
  ScriptedLink link(std::move(reply), (script & 1) != 0);
  ScriptedPrompter prompter(static_cast<uint8_t>(script >> 1));
  const bool goAhead = ReportPreCheck(link, prompter);

  // One query, then only the three reports, each at most once and each after a question.
  Require(!link.codes.empty() && link.codes[0] == 196);
  Require(link.codes.size() <= 3 && static_cast<size_t>(prompter.asked) <= 2);
  for (size_t i = 1; i < link.codes.size(); ++i) {
    const uint16_t code = link.codes[i];
    Require(code == 105 || code == 108 || code == 111);
    for (size_t j = 1; j < i; ++j) Require(link.codes[j] != code);
  }
  Require(link.codes.size() - 1 <= static_cast<size_t>(prompter.asked));
  Require(goAhead || (prompter.asked > 0 && !prompter.lastAnswer));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2) return 0;
  const std::string_view text(reinterpret_cast<const char *>(data + 2), size - 2);
  CheckSplit(text, static_cast<char>(data[0]));
  CheckSplit(text, ',');
  CheckPreCheck(std::string(text), data[1]);
  return 0;
}
