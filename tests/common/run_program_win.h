// Runs a program of the build the way a script or a technician's shortcut starts it on Windows,
// its standard output and error gathered through one pipe.
#pragma once

#include <windows.h>

#include <atomic>
#include <chrono>
#include <string>

namespace fiscal_test {

struct Outcome {
  DWORD exitCode = 0xFFFFFFFF;
  std::string output;
  bool timedOut = false;
};

// `program` with `arguments`, for at most `limit`; a program still running then is ended with
// exit code 99 and `timedOut` set.
//
// The output is read until the program has ended and its pipe has run dry, not until every
// writer has closed it: a process the program starts may hold the pipe long after it ended (wine
// starts its desktop process from the first GUI program that needs one, with that program's
// standard error), and waiting for that would hang the test. So the pipe is a named one, read
// with overlapped reads that can wait on the program and time out.
inline Outcome RunProgram(const wchar_t *program, const std::wstring &arguments, std::chrono::milliseconds limit) {
  using Clock = std::chrono::steady_clock;
  // After the program ended, what it wrote is in the pipe already; a pause this long means the
  // rest comes from someone else.
  constexpr DWORD kDrainPause = 500;
  static std::atomic<unsigned> serial{0};
  Outcome outcome;
  const std::wstring name = L"\\\\.\\pipe\\fiscal-test-output-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                            std::to_wstring(serial++);
  HANDLE readEnd = ::CreateNamedPipeW(name.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                      PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 0, 65536, 0, nullptr);
  if (readEnd == INVALID_HANDLE_VALUE) return outcome;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE writeEnd = ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr);
  HANDLE readDone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (writeEnd == INVALID_HANDLE_VALUE || readDone == nullptr) {
    if (writeEnd != INVALID_HANDLE_VALUE) ::CloseHandle(writeEnd);
    if (readDone != nullptr) ::CloseHandle(readDone);
    ::CloseHandle(readEnd);
    return outcome;
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  std::wstring commandLine = L"\"" + std::wstring(program) + L"\" " + arguments;
  PROCESS_INFORMATION process{};
  const BOOL started = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                        &startup, &process);
  ::CloseHandle(writeEnd);
  if (!started) {
    ::CloseHandle(readDone);
    ::CloseHandle(readEnd);
    return outcome;
  }

  const Clock::time_point deadline = Clock::now() + limit;
  bool ended = false;
  // Waits for the program to end, at most until the deadline, then ends it.
  const auto awaitEnd = [&](DWORD milliseconds) {
    if (ended) return;
    if (::WaitForSingleObject(process.hProcess, milliseconds) != WAIT_OBJECT_0) {
      outcome.timedOut = true;
      ::TerminateProcess(process.hProcess, 99);
      ::WaitForSingleObject(process.hProcess, INFINITE);
    }
    ended = true;
  };
  const auto msLeft = [&] {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<DWORD>(left > 0 ? left : 0);
  };
  char buffer[4096];
  for (;;) {
    OVERLAPPED read{};
    read.hEvent = readDone;
    ::ResetEvent(readDone);
    if (!::ReadFile(readEnd, buffer, sizeof buffer, nullptr, &read) && ::GetLastError() != ERROR_IO_PENDING) break;
    bool completed = false;
    while (!completed) {
      if (ended) {
        completed = ::WaitForSingleObject(readDone, kDrainPause) == WAIT_OBJECT_0;
        break;
      }
      const HANDLE both[2] = {readDone, process.hProcess};
      const DWORD waited = ::WaitForMultipleObjects(2, both, FALSE, msLeft());
      if (waited == WAIT_OBJECT_0) {
        completed = true;
      } else {
        awaitEnd(waited == WAIT_OBJECT_0 + 1 ? INFINITE : 0);  // ended, or out of time
      }
    }
    DWORD got = 0;
    if (!completed) {
      // Dry after the end: the read is taken back before its buffer goes.
      ::CancelIo(readEnd);
      if (::GetOverlappedResult(readEnd, &read, &got, TRUE)) outcome.output.append(buffer, got);
      break;
    }
    if (!::GetOverlappedResult(readEnd, &read, &got, FALSE)) break;  // every writer has closed it
    outcome.output.append(buffer, got);
  }
  awaitEnd(msLeft());  // the pipe may close before the program ends
  ::GetExitCodeProcess(process.hProcess, &outcome.exitCode);
  ::CloseHandle(readDone);
  ::CloseHandle(readEnd);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return outcome;
}

}  // namespace fiscal_test
