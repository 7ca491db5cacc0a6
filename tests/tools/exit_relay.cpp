// Runs one Windows test program with this process's standard handles and writes its whole
// exit code and its run time to a report file. Wine hands a Unix parent only the low byte
// of an exit code, and that cannot tell a crash (0xC0000005) from a failed test (5).
// Usage: exit_relay REPORT_FILE PROGRAM [ARGUMENT...]
#include <windows.h>

#include <cstdio>
#include <string>

#include "common/win_handles.h"

namespace {

// Quotes one argument so that the child's command-line parser gives it back unchanged.
std::wstring Quoted(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) {
    return argument;
  }
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    quoted += c;
    backslashes = 0;
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L'"';
}

// The child gets exactly these handles, so they must be inheritable.
HANDLE Inheritable(DWORD which) {
  const HANDLE handle = ::GetStdHandle(which);
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
    ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  }
  return handle;
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
  if (argc < 3) {
    std::fputs("usage: exit_relay REPORT_FILE PROGRAM [ARGUMENT...]\n", stderr);
    return 2;
  }
  std::wstring commandLine = Quoted(argv[2]);
  for (int i = 3; i < argc; ++i) {
    commandLine += L' ' + Quoted(argv[i]);
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = Inheritable(STD_INPUT_HANDLE);
  startup.hStdOutput = Inheritable(STD_OUTPUT_HANDLE);
  startup.hStdError = Inheritable(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info = {};
  const ULONGLONG started = ::GetTickCount64();
  if (!::CreateProcessW(argv[2], &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &info)) {
    const DWORD error = ::GetLastError();
    std::fprintf(stderr, "exit_relay: the program could not be started: Win32 error %lu\n",
                 static_cast<unsigned long>(error));
    return 127;
  }
  const UniqueKernelHandle process(info.hProcess);
  const UniqueKernelHandle thread(info.hThread);
  ::WaitForSingleObject(process.Get(), INFINITE);
  DWORD exitCode = 0;
  ::GetExitCodeProcess(process.Get(), &exitCode);
  const ULONGLONG elapsedMs = ::GetTickCount64() - started;

  std::FILE* report = nullptr;
  if (_wfopen_s(&report, argv[1], L"w") == 0) {
    std::fprintf(report, "%lu %llu\n", static_cast<unsigned long>(exitCode), elapsedMs);
    std::fclose(report);
  }
  return static_cast<int>(exitCode);
}
