// Runs a program of the build the way a script or a technician's shortcut starts it on Windows,
// its standard output and error gathered through one pipe.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

namespace fiscal_test {

struct Outcome {
  DWORD exitCode = 0xFFFFFFFF;
  std::string output;
  bool timedOut = false;
};

// `program` with `arguments`, for at most `limit`; a program still running then is ended with
// exit code 99 and `timedOut` set.
inline Outcome RunProgram(const wchar_t *program, const std::wstring &arguments, std::chrono::milliseconds limit) {
  Outcome outcome;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return outcome;
  ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

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
    ::CloseHandle(readEnd);
    return outcome;
  }
  // The output is read on its own thread, so that a full pipe never holds the program up.
  std::thread reader([&] {
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) outcome.output.append(buffer, got);
  });
  if (::WaitForSingleObject(process.hProcess, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) {
    outcome.timedOut = true;
    ::TerminateProcess(process.hProcess, 99);
    ::WaitForSingleObject(process.hProcess, INFINITE);
  }
  ::GetExitCodeProcess(process.hProcess, &outcome.exitCode);
  reader.join();
  ::CloseHandle(readEnd);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return outcome;
}

}  // namespace fiscal_test
