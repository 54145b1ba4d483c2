// Under wine a test program that crashes ends without a word: its standard output sits unflushed
// in a buffer and wine's own report is switched off (WINEDEBUG=-all). A crash seen once in a CI
// log as "Failed 0.02 sec" and nothing else could not be mended from that. This flushes what the
// test printed, and names the test, the exception and its address before the program ends.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// Written by the main thread only, read by the filter when a crash has stopped everything.
char g_test_name[512] = "(before the first test)";

LONG WINAPI ReportCrash(EXCEPTION_POINTERS *info) {
  const EXCEPTION_RECORD *record = info != nullptr ? info->ExceptionRecord : nullptr;
  std::fflush(stdout);
  std::fprintf(stderr, "crash: %s: exception 0x%08lx at %p on thread %lu\n", g_test_name,
               record != nullptr ? record->ExceptionCode : 0ul, record != nullptr ? record->ExceptionAddress : nullptr,
               GetCurrentThreadId());
  HMODULE module = nullptr;
  char path[MAX_PATH] = "";
  if (record != nullptr &&
      GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         static_cast<LPCSTR>(record->ExceptionAddress), &module) &&
      GetModuleFileNameA(module, path, sizeof path) > 0) {
    std::fprintf(stderr, "crash: in %s at offset 0x%llx\n", path,
                 static_cast<unsigned long long>(static_cast<const char *>(record->ExceptionAddress) -
                                                 reinterpret_cast<const char *>(module)));
  }
  std::fflush(stderr);
  return EXCEPTION_EXECUTE_HANDLER;  // ends the program with the exception's code
}

class CrashNamer final : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo &test) override {
    const std::string name = std::string(test.test_suite_name()) + "." + test.name();
    std::snprintf(g_test_name, sizeof g_test_name, "%s", name.c_str());
    std::fflush(stdout);  // what came before the test is not lost with a crash in it
  }
};

const bool kRegistered = [] {
  SetUnhandledExceptionFilter(ReportCrash);
  ::testing::UnitTest::GetInstance()->listeners().Append(new CrashNamer);
  return true;
}();

}  // namespace
