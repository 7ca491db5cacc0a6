#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <iostream>
#include <string>

#include "common/console_text.h"
#include "common/event_log.h"
#include "common/narrow_text.h"
#include "common/win_handles.h"
#include "config/watched_program.h"
#include "config/watched_service.h"

namespace {

constexpr DWORD kValueBufferUnits = MAX_PATH;

// The value's type is not asked for: whatever comes back is taken as UTF-16 text, up
// to its first NUL and never beyond what was read. A value too long for the buffer
// fails to read, and its text is then empty.
std::wstring ReadValueText(HKEY key, const wchar_t* name) {
  wchar_t buffer[kValueBufferUnits] = {};
  DWORD bytes = sizeof(buffer);
  const LSTATUS status =
      ::RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &bytes);
  if (status != ERROR_SUCCESS) {
    return std::wstring();
  }
  const std::size_t unitsRead = (bytes + 1) / sizeof(wchar_t);
  return std::wstring(
      buffer, ::wcsnlen(buffer, unitsRead < kValueBufferUnits ? unitsRead : kValueBufferUnits));
}

UniqueRegistryKey OpenMachineKey(const wchar_t* path, REGSAM view = 0) {
  UniqueRegistryKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | view, key.Put()) != ERROR_SUCCESS) {
    key.Release();
  }
  return key;
}

// A 32-bit server's installer writes the product key into the 32-bit view
// (SOFTWARE\WOW6432Node), which this 64-bit process does not see by default. The own
// view is asked first and wins; the services key is shared by both views.
UniqueRegistryKey OpenProductKey() {
  UniqueRegistryKey key = OpenMachineKey(kProductKey);
  if (!key) {
    key = OpenMachineKey(kProductKey, KEY_WOW64_32KEY);
  }
  return key;
}

}  // namespace

bool ReadImagePath(std::wstring& imagePath) {
  const UniqueRegistryKey serviceKey = OpenMachineKey(kWatchedServiceKey);
  if (!serviceKey) {
    return false;
  }
  imagePath = ReadValueText(serviceKey.Get(), kWatchedImagePathValue);
  return true;
}

bool ReadConfigPath(std::wstring& configPath) {
  const UniqueRegistryKey productKey = OpenProductKey();
  if (!productKey) {
    return false;
  }
  configPath = ReadValueText(productKey.Get(), kConfigPathValue);
  return true;
}

void DiscoverWatchedService() {
  std::wstring imagePath;
  std::string narrowPath;
  {
    if (!ReadImagePath(imagePath)) {
      std::cout << "voraam RegOpen Error." << std::endl;
      WriteEvent(ServiceEvent::kServerKeyMissing,
                 "HKEY_LOCAL_MACHINE\\" + ToNarrow(CP_THREAD_ACP, kWatchedServiceKey));
    } else {
      narrowPath = ToNarrow(CP_THREAD_ACP, imagePath);
      g_watchedProgramPath = narrowPath;
    }
    // The C runtime's wide printing starts in the "C" locale and stops at the first
    // character beyond ASCII; a file gets the same ANSI text that the restart will use.
    WriteStandardOutput(L"voraiot path : " + imagePath + L"\n\n",
                        "voraiot path : " + narrowPath + "\n\n");
    // Redirected to a file, stdout is fully buffered; the echo should not wait there
    // for the watchdog's first line.
    std::fflush(stdout);
  }

  std::wstring configPath;
  if (ReadConfigPath(configPath)) {
    g_configDirectory = ToNarrow(CP_THREAD_ACP, configPath);
  }
}
