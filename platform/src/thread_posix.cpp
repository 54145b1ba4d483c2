#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "platform/thread.h"

namespace platform {
namespace {

// Linux keeps a nice value per thread; "one step above normal" is one nice step down.
thread_local bool t_raised = false;
thread_local int t_savedNice = 0;

pid_t ThreadId() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

}  // namespace

void SetCurrentThreadName(const char *name) {
  char shortName[16] = {};
  for (size_t i = 0; i < sizeof shortName - 1 && name[i] != '\0'; ++i) shortName[i] = name[i];
  ::pthread_setname_np(::pthread_self(), shortName);
}

bool RaiseCurrentThreadPriority() {
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(ThreadId()));
  if (errno != 0) return false;
  if (::setpriority(PRIO_PROCESS, static_cast<id_t>(ThreadId()), nice - 1) != 0) return false;
  t_raised = true;
  t_savedNice = nice;
  return true;
}

void RestoreCurrentThreadPriority() {
  if (!t_raised) return;
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(ThreadId()), t_savedNice);
  t_raised = false;
}

void KeepModuleLoaded() {}

}  // namespace platform
