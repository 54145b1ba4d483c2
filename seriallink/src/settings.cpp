#include "seriallink/settings.h"

#include <string>

#include "platform/mutex.h"
#include "platform/trace.h"

namespace seriallink {
namespace {

struct Settings {
  platform::Mutex mutex;
  Flavour flavour GUARDED_BY(mutex) = Flavour::Pos();
  AlertHook alert GUARDED_BY(mutex);
};

Settings &TheSettings() {
  static Settings settings;
  return settings;
}

}  // namespace

void SetFlavour(const Flavour &flavour) {
  Settings &s = TheSettings();
  platform::MutexLock lock(s.mutex);
  s.flavour = flavour;
}

Flavour CurrentFlavour() {
  Settings &s = TheSettings();
  platform::MutexLock lock(s.mutex);
  return s.flavour;
}

void SetAlertHook(AlertHook hook) {
  Settings &s = TheSettings();
  platform::MutexLock lock(s.mutex);
  s.alert = std::move(hook);
}

void Alert(std::string_view text, std::string_view caption) {
  AlertHook hook;
  {
    Settings &s = TheSettings();
    platform::MutexLock lock(s.mutex);
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
