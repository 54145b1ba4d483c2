// Test doubles for the tool's dialog logic: a link that records what goes out and answers from a
// script. Dialogs run against tests/dialogs' FakeView and ScriptedPrompter; nothing here knows a
// toolkit.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/link.h"
#include "dialogs/dialog.h"
#include "fake_view.h"

namespace tooltest {

using tillwright::testing::FakeView;
using tillwright::testing::ScriptedPrompter;

struct Sent {
  uint16_t code;
  std::string data;
  bool operator==(const Sent &) const = default;
};

inline std::ostream &operator<<(std::ostream &out, const Sent &s) { return out << s.code << " \"" << s.data << '"'; }

// Every call but TestConnection comes from one thread at a time (the user-interface thread, or
// the port scan's worker while that thread waits), as ILink promises; TestConnection comes from
// the connection monitor.
class RecordingLink final : public tillwright::ILink {
 public:
  struct Answer {
    int result = 0;
    std::string reply;
  };
  // Decides each answer; by default every command succeeds with an empty reply.
  std::function<Answer(uint16_t code, const std::string &data)> device;
  // Called as each port is connected, before its result is decided.
  std::function<void(const std::string &port)> onConnect;

  std::vector<Sent> sent;
  std::vector<std::string> connects;
  int disconnects = 0;
  std::map<std::string, int> connectResults;  // ports missing here fail to connect
  std::vector<int32_t> windows;
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
    if (onConnect) onConnect(port);
    const auto it = connectResults.find(port);
    return it == connectResults.end() ? 10001 : it->second;
  }
  int SerialSetWindow(int32_t window) override {
    windows.push_back(window);
    return 0;
  }
  void SerialDisconnect() override { ++disconnects; }
  std::string LastStatus() const override { return lastStatus; }
  void ClearLastStatus() override { lastStatus.clear(); }

  // The commands sent with one code.
  std::vector<std::string> DataOf(uint16_t code) const {
    std::vector<std::string> out;
    for (const Sent &s : sent)
      if (s.code == code) out.push_back(s.data);
    return out;
  }
};

// Every control the logic touched (or the test set as the person would) is one the dialog
// declares, so that the hosts' template checks cover it.
inline void ExpectDeclaredControls(const FakeView &view, const tillwright::ui::Dialog &dialog) {
  const auto declared = dialog.Controls();
  for (const auto &[id, state] : view.Known())
    EXPECT_TRUE(std::binary_search(declared.begin(), declared.end(), id))
        << dialog.TemplateName() << " reaches control " << id << " without declaring it";
}

// A dialog open over a fake view for as long as this lives, as a host runs it: attached and
// initialised now; at the end closed, destroyed, checked for undeclared controls and detached.
class OpenDialog {
 public:
  OpenDialog(FakeView &view, tillwright::ui::Dialog &dialog, tillwright::ui::IPrompter &prompter)
      : view_(view), dialog_(dialog) {
    dialog.Attach(view, prompter);
    dialog.OnInitDialog();
  }
  ~OpenDialog() {
    view_.Close();
    dialog_.OnDestroy();
    ExpectDeclaredControls(view_, dialog_);
    dialog_.Detach();
  }
  OpenDialog(const OpenDialog &) = delete;
  OpenDialog &operator=(const OpenDialog &) = delete;

 private:
  FakeView &view_;
  tillwright::ui::Dialog &dialog_;
};

// A child dialog run as the person would: `person` acts on it over a fresh fake view.
template <typename D>
std::function<int(tillwright::ui::Dialog &)> Child(ScriptedPrompter &prompter,
                                                   std::function<void(FakeView &, D &)> person) {
  return [&prompter, person](tillwright::ui::Dialog &dialog) {
    return tillwright::testing::RunOn(dialog, prompter, [&](FakeView &view, tillwright::ui::Dialog &d) {
      person(view, dynamic_cast<D &>(d));
      ExpectDeclaredControls(view, d);
    });
  };
}

}  // namespace tooltest
