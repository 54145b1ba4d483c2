#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "platform/port_names.h"
#include "platform/thread.h"
#include "platform/trace.h"

namespace platform {
namespace {

TEST(PortNamesWinTest, NamesPassThroughUnchanged) {
  // Windows resolves COMn itself; no variable of the Linux alias scheme has any say.
  _putenv_s("FISCAL_COM_DIR", "C:\\nowhere");
  for (const char *name : {"COM1", "com7", "COM20", "\\\\.\\COM12", "COM0", "ttyUSB0", "/dev/ttyS0"}) {
    std::string refusal = "left over";
    EXPECT_EQ(ResolvePortName(name, &refusal), name);
    EXPECT_EQ(refusal, "");  // nothing is ever refused
  }
  EXPECT_EQ(PortAliasDir(), "");
  EXPECT_EQ(PortAliasDirFault(), "");
  _putenv_s("FISCAL_COM_DIR", "");
}

TEST(TraceWinTest, TheDebuggerOutputAlwaysListens) {
  EXPECT_TRUE(TraceEnabled());
  Trace("platform test: a trace with no capture reaches the debugger output");
  TraceCapture capture;
  Trace("captured %d", 1);
  EXPECT_EQ(capture.Lines().size(), 1u);
}

TEST(ThreadWinTest, PriorityIsRaisedOneStepAndRestored) {
  std::thread t([] {
    SetCurrentThreadName("platform-test");  // no effect where the system lacks thread names
    ASSERT_TRUE(RaiseCurrentThreadPriority());
    EXPECT_EQ(::GetThreadPriority(::GetCurrentThread()), THREAD_PRIORITY_ABOVE_NORMAL);
    RestoreCurrentThreadPriority();
    EXPECT_EQ(::GetThreadPriority(::GetCurrentThread()), THREAD_PRIORITY_NORMAL);
  });
  t.join();
}

}  // namespace
}  // namespace platform
