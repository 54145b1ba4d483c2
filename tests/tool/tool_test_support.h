// Test doubles for the tool's dialogs: a link that records what goes out and answers from a
// script, and a prompter that answers questions and runs child dialogs from a script.
#pragma once

#include <QDialog>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/link.h"
#include "core/prompter.h"

namespace tooltest {

// Creates the offscreen application once for the whole test program.
void EnsureApplication();

// Runs the event loop until `done` holds or the time-out ran out; the final answer of `done`.
bool WaitFor(const std::function<bool()> &done, int timeoutMs);

struct Sent {
  uint16_t code;
  std::string data;
  bool operator==(const Sent &) const = default;
};

class RecordingLink final : public tillwright::ILink {
 public:
  struct Answer {
    int result = 0;
    std::string reply;
  };
  // Decides each answer; by default every command succeeds with an empty reply.
  std::function<Answer(uint16_t code, const std::string &data)> device;

  std::vector<Sent> sent;
  std::vector<std::string> connects;
  int disconnects = 0;
  std::map<std::string, int> connectResults;  // ports missing here fail to connect
  std::atomic<int> usb{0};
  std::atomic<int> tests{0};
  std::string lastStatus;

  int TestConnection() override {
    ++tests;
    return usb;
  }
  int SendCommand(std::string &reply, std::string &data, uint16_t code) override {
    sent.push_back({code, data});
    Answer a = device ? device(code, data) : Answer{};
    reply = a.reply;
    return a.result;
  }
  int SerialConnect(const std::string &port, uint32_t, uint16_t, uint16_t, uint16_t) override {
    connects.push_back(port);
    const auto it = connectResults.find(port);
    return it == connectResults.end() ? 10001 : it->second;
  }
  int SerialSetWindow(int32_t) override { return 0; }
  void SerialDisconnect() override { ++disconnects; }
  std::string LastStatus() const override { return lastStatus; }

  // The commands sent with one code.
  std::vector<std::string> DataOf(uint16_t code) const;
};

class ScriptedPrompter final : public tillwright::IPrompter {
 public:
  std::deque<bool> answers;  // for AskOkCancel, in order; a question beyond them is a failure
  std::vector<std::string> asked;
  std::vector<std::string> informed;
  // Each child dialog run takes the next function; none left: the dialog is cancelled.
  std::deque<std::function<int(QDialog &)>> dialogs;
  std::vector<std::string> dialogsRun;  // their class names
  int waitDepth = 0;
  int waitsShown = 0;

  bool AskOkCancel(std::string_view text) override;
  void Inform(std::string_view text) override { informed.emplace_back(text); }
  void BeginWait() override {
    ++waitDepth;
    ++waitsShown;
  }
  void EndWait() override { --waitDepth; }
  int Run(QDialog &dialog) override;
};

}  // namespace tooltest
