// Runs the watchdog as the service does after its start-up, without the SCM around it:
// the discovery, then the watchdog thread, then nothing but sleep. With
// "-cpu SECONDS FILE" it also writes to FILE the CPU time that the whole process spent
// over that many seconds of steady state, and the wall time they took, both in ms.
// With "-pausable" a file "watchdog.pause" in its working folder pauses the watchdog, as
// the service's pause control does, and its removal continues it; "watchdog.paused" is
// there while the pause holds.
#include <windows.h>

#include <cwchar>
#include <string>

#include <boost/thread/exceptions.hpp>

#include "config/watched_service.h"
#include "watchdog/watchdog.h"

namespace {

// Long enough for the first check and for the start-up of the process to be behind.
constexpr DWORD kSettleMs = 5000;

ULONGLONG CpuMs() {
  FILETIME created, exited, kernel, user;
  if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user)) {
    return 0;
  }
  const auto ticks = [](const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  };
  return (ticks(kernel) + ticks(user)) / 10000;
}

int WriteCpuTime(DWORD seconds, const wchar_t* path) {
  ::Sleep(kSettleMs);
  const ULONGLONG cpuBefore = CpuMs();
  const ULONGLONG wallBefore = ::GetTickCount64();
  ::Sleep(seconds * 1000);
  const std::string line = std::to_string(CpuMs() - cpuBefore) + " " +
                           std::to_string(::GetTickCount64() - wallBefore) + "\n";
  // Under another name first, so that a reader never sees half of it.
  const std::wstring partial = std::wstring(path) + L".partial";
  const HANDLE file = ::CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return 1;
  }
  DWORD written = 0;
  const BOOL wrote =
      ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  ::CloseHandle(file);
  return wrote && ::MoveFileExW(partial.c_str(), path, MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}

bool Exists(const wchar_t* file) { return ::GetFileAttributesW(file) != INVALID_FILE_ATTRIBUTES; }

// Answers the pause file until the process is ended.
void FollowPauseFile() {
  bool paused = false;
  for (;;) {
    if (Exists(L"watchdog.pause") != paused) {
      paused = !paused;
      if (paused) {
        RequestWatchdogStop();
        const HANDLE told = ::CreateFileW(L"watchdog.paused", GENERIC_WRITE, 0, nullptr,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (told != INVALID_HANDLE_VALUE) {
          ::CloseHandle(told);
        }
      } else {
        StartWatchdogThread();
        ::DeleteFileW(L"watchdog.paused");
      }
    }
    ::Sleep(50);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  DiscoverWatchedService();
  try {
    StartWatchdogThread();
  } catch (const boost::thread_resource_error&) {
    return 1;
  }
  if (argc == 4 && std::wcscmp(argv[1], L"-cpu") == 0) {
    if (WriteCpuTime(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)), argv[3]) != 0) {
      return 1;
    }
  }
  if (argc == 2 && std::wcscmp(argv[1], L"-pausable") == 0) {
    FollowPauseFile();
  }
  for (;;) {
    ::Sleep(INFINITE);
  }
}
