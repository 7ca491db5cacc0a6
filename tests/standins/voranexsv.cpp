// Stands in for the watched program in the tests. Started by the SCM it runs as the
// service voranexsv and holds a TCP and a UDP port (4033, or the one given with
// "-port N" in its ImagePath) until it is stopped or killed; run with "-start" it asks
// the SCM to start the voranexsv service and returns, as the real program does, unless a
// file "voranexsv.hang" lies beside it: then it hangs, as a starter that waits for
// something that never comes. A file "voranexsv.deaf" beside it makes the service hold
// no port at all, as a server that never opens its listener.
// First: winsock2.h has to come before windows.h, which may bring the older winsock.h.
#include "socket_handle.h"

#include <cstdio>
#include <cwchar>
#include <string>

#include "common/win_handles.h"
#include "config/watched_program.h"

namespace {

constexpr unsigned short kDefaultPort = 4033;

unsigned short g_port = kDefaultPort;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
HANDLE g_stopEvent = nullptr;

void Report(DWORD state, DWORD exitCode = NO_ERROR) {
  SERVICE_STATUS status = {};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  status.dwWin32ExitCode = exitCode;
  ::SetServiceStatus(g_statusHandle, &status);
}

DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID) {
  if (control == SERVICE_CONTROL_STOP) {
    Report(SERVICE_STOP_PENDING);
    ::SetEvent(g_stopEvent);
  }
  return NO_ERROR;
}

bool MarkerBesideMe(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return false;
  }
  std::wstring marker(path, length);
  marker = marker.substr(0, marker.find_last_of(L'\\') + 1) + name;
  return ::GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  g_statusHandle = ::RegisterServiceCtrlHandlerExW(kWatchedServiceName, Handler, nullptr);
  if (g_statusHandle == nullptr) {
    return;
  }
  UniqueKernelHandle stopEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!stopEvent) {
    Report(SERVICE_STOPPED, ::GetLastError());
    return;
  }
  g_stopEvent = stopEvent.Get();
  HeldPort held;
  // A port that another process holds does not keep the stand-in from running: the
  // tests look at the service and its process, not at its sockets.
  if (!MarkerBesideMe(L"voranexsv.deaf")) {
    HoldPort(g_port, held);
  }
  Report(SERVICE_RUNNING);
  ::WaitForSingleObject(stopEvent.Get(), INFINITE);
  held = HeldPort();
  Report(SERVICE_STOPPED);
}

DWORD StartOwnService() {
  if (MarkerBesideMe(L"voranexsv.hang")) {
    ::Sleep(INFINITE);
  }
  UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    return ::GetLastError();
  }
  UniqueServiceHandle service(::OpenServiceW(manager.Get(), kWatchedServiceName, SERVICE_START));
  if (!service) {
    return ::GetLastError();
  }
  if (!::StartServiceW(service.Get(), 0, nullptr)) {
    return ::GetLastError();
  }
  return ERROR_SUCCESS;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"-start") == 0) {
      return static_cast<int>(StartOwnService());
    }
    if (std::wcscmp(argv[i], L"-port") == 0 && i + 1 < argc && ParsePort(argv[i + 1], g_port)) {
      ++i;
    }
  }
  wchar_t name[] = L"voranexsv";
  const SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  if (!::StartServiceCtrlDispatcherW(table)) {
    const DWORD error = ::GetLastError();
    std::fwprintf(stderr, L"voranexsv: runs only as a service (%lu)\n", error);
    return static_cast<int>(error);
  }
  return 0;
}
