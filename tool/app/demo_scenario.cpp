#include "app/demo_scenario.h"

#include "app/tillwright_dlg.h"
#include "core/code_page.h"
#include "core/command_codes.h"
#include "core/connection_monitor.h"
#include "core/messages.h"
#include "settings/settings.h"

namespace tillwright {
namespace {

constexpr std::chrono::milliseconds kLabelStep{100};

// One line at a time, flushed: whoever watches the run sees each step as it happens.
void Say(std::ostream &stream, const std::string &line) { stream << "tillwright: " << line << '\n' << std::flush; }

// "Connected", or "Connected on <path>" when the device answered on a device path.
bool SaysConnected(const std::string &label) {
  return label == msg::kConnected || label.rfind(msg::kConnectedOn, 0) == 0;
}

bool ReadHeaderLines(ILink &link, std::ostream &out, std::ostream &err) {
  for (size_t line = 0; line < kHeaderTextLines; ++line) {
    std::string reply;
    std::string request = TextLineReadData(line);
    if (link.SendCommand(reply, request, cmd::kTextLine) != 0) {
      Say(err, "line " + std::to_string(line) + " not read: " + reply);
      return false;
    }
    Say(out, "line " + std::to_string(line) + ": " + WidgetCodePage().ToWidget(reply));
  }
  return true;
}

}  // namespace

std::string MainDialogDemoHost::Text(ui::ControlId id) { return view_.Text(id); }

unsigned MainDialogDemoHost::ConnectionChecks() {
  return dialog_.Monitor() != nullptr ? dialog_.Monitor()->Passes() : 0;
}

int RunDemoScenario(IDemoHost &host, ILink &link, const std::string &picturePath, std::ostream &out,
                    std::ostream &err) {
  // Before Connect the label says what the monitor's first check found on its own: a USB device,
  // or the COM port the system names for it.
  for (auto waited = std::chrono::milliseconds::zero(); host.ConnectionChecks() == 0 && waited < kDemoLabelPatience;
       waited += kLabelStep) {
    host.Pause(kLabelStep);
  }
  host.Pause(kLabelStep);  // the check's word is posted to the window
  const std::string before = host.Text(CTillwrightDlg::kStatusLabel);
  Say(out, "label before Connect: " + before);

  host.Click(CTillwrightDlg::kConnectButton);
  const std::string result = host.Text(CTillwrightDlg::kResultField);
  // A device reached on its own serves the commands: Connect then has nothing to do and says
  // nothing.
  const bool already = SaysConnected(before) && result.empty();
  Say(out, "Connect: " + (already ? std::string("not needed, already connected") : result));
  const bool found = already || result == msg::kDone;
  if (!found) Say(err, "the device was not found");
  const bool linesRead = found && ReadHeaderLines(link, out, err);

  // The scan sets the label itself, but a check of the connection monitor that began before the
  // scan ended may still bring an older word: it has landed once a period has passed.
  if (found) host.Pause(ConnectionMonitor::kPeriod);
  std::string label = host.Text(CTillwrightDlg::kStatusLabel);
  for (auto waited = std::chrono::milliseconds::zero(); found && !SaysConnected(label) && waited < kDemoLabelPatience;
       waited += kLabelStep) {
    host.Pause(kLabelStep);
    label = host.Text(CTillwrightDlg::kStatusLabel);
  }
  Say(out, "label: " + label);
  if (found && !SaysConnected(label)) {
    Say(err, "the label did not say " + std::string(msg::kConnected) + " within " +
                 std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kDemoLabelPatience).count()) + " s");
  }

  const bool saved = host.SavePicture(picturePath);
  if (saved) {
    Say(out, "screenshot saved to " + picturePath);
  } else {
    Say(err, "cannot save " + picturePath);
  }
  host.Click(CTillwrightDlg::kQuitButton);
  return found && linesRead && SaysConnected(label) && saved ? 0 : 1;
}

}  // namespace tillwright
