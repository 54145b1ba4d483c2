#include "seriallink/settings.h"

#include <mutex>
#include <string>

#include "platform/trace.h"

namespace seriallink {
namespace {

struct Settings {
  std::mutex mutex;
  Flavour flavour = Flavour::Pos();  // guarded by mutex
  AlertHook alert;                   // guarded by mutex
};

Settings &TheSettings() {
  static Settings settings;
  return settings;
}

}  // namespace

void SetFlavour(const Flavour &flavour) {
  Settings &s = TheSettings();
  std::lock_guard lock(s.mutex);
  s.flavour = flavour;
}

Flavour CurrentFlavour() {
  Settings &s = TheSettings();
  std::lock_guard lock(s.mutex);
  return s.flavour;
}

void SetAlertHook(AlertHook hook) {
  Settings &s = TheSettings();
  std::lock_guard lock(s.mutex);
  s.alert = std::move(hook);
}

void Alert(std::string_view text, std::string_view caption) {
  AlertHook hook;
  {
    Settings &s = TheSettings();
    std::lock_guard lock(s.mutex);
    hook = s.alert;
  }
  if (hook) {
    hook(text, caption);
    return;
  }
  platform::Trace("seriallink: %.*s: %.*s", static_cast<int>(caption.size()), caption.data(),
                  static_cast<int>(text.size()), text.data());
}

}  // namespace seriallink
