// What the host program chooses once at start-up: the flavour of the engine and where its two
// set-up alerts go.
#pragma once

#include <chrono>
#include <functional>
#include <string_view>

namespace seriallink {

using Millis = std::chrono::milliseconds;

// The printer library and the service tool run the same engine with different pacing.
struct Flavour {
  // One wait for a reply; the frame is written at most five times.
  Millis replyTimeout{2500};
  // The receive thread's rest after each pass over the received bytes.
  Millis pauseAfterPass{0};

  static constexpr Flavour Pos() { return {Millis(2500), Millis(0)}; }
  static constexpr Flavour Tool() { return {Millis(500), Millis(1)}; }
};

// The reply time-out applies from the next command on, the pause from the next port opened.
void SetFlavour(const Flavour &flavour);
Flavour CurrentFlavour();

inline constexpr std::string_view kThreadSetupFailed = "Failed to create event for thread!";
inline constexpr std::string_view kGlobalErrorCaption = "Global Error!";

// A library must not show windows of its own: the host decides what an alert becomes (the tool
// shows a message box, the printer library leaves it to the trace). May be called from the
// receive thread. An empty hook restores the default, which traces the alert.
using AlertHook = std::function<void(std::string_view text, std::string_view caption)>;
void SetAlertHook(AlertHook hook);
void Alert(std::string_view text, std::string_view caption);

}  // namespace seriallink
