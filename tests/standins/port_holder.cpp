// Holds a port for a test, as a stray process that the watchdog has to kill would:
// "port_holder <port> [pidfile]" binds the port, then writes its PID and sleeps.
// First: winsock2.h has to come before windows.h, which may bring the older winsock.h.
#include "socket_handle.h"

#include <cstdio>
#include <string>

#include "common/win_handles.h"

namespace {

// Written under another name and then renamed, so that a test waiting for the file
// never reads it half-written.
DWORD WritePidFile(const std::wstring& path) {
  const std::wstring partial = path + L".partial";
  {
    UniqueKernelHandle file(::CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      file.Release();
      return error;
    }
    const std::string text = std::to_string(::GetCurrentProcessId());
    DWORD written = 0;
    if (!::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
      const DWORD error = ::GetLastError();
      return error;
    }
  }
  if (!::MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    const DWORD error = ::GetLastError();
    return error;
  }
  return ERROR_SUCCESS;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  unsigned short port = 0;
  if (argc < 2 || argc > 3 || !ParsePort(argv[1], port)) {
    std::fwprintf(stderr, L"usage: port_holder <port> [pidfile]\n");
    return ERROR_INVALID_PARAMETER;
  }
  HeldPort held;
  const int bindError = HoldPort(port, held);
  if (bindError != 0) {
    std::fwprintf(stderr, L"port_holder: cannot hold port %u: %d\n", static_cast<unsigned>(port),
                  bindError);
    return bindError;
  }
  // The PID file appears only once the port is held, so a test can wait for it.
  if (argc == 3) {
    const DWORD error = WritePidFile(argv[2]);
    if (error != ERROR_SUCCESS) {
      std::fwprintf(stderr, L"port_holder: cannot write %ls: %lu\n", argv[2], error);
      return static_cast<int>(error);
    }
  }
  ::Sleep(INFINITE);
  return 0;
}
