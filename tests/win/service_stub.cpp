// A service that starts but never reports running, until it is told to stop.
#include <windows.h>

namespace {

SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stopped = nullptr;

void Report(DWORD state) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
  status.dwWaitHint = 60000;
  ::SetServiceStatus(g_status, &status);
}

DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID) {
  if (control == SERVICE_CONTROL_STOP) {
    ::SetEvent(g_stopped);
  }
  return NO_ERROR;
}

void WINAPI StubMain(DWORD, LPWSTR*) {
  g_status = ::RegisterServiceCtrlHandlerExW(L"", Handler, nullptr);
  if (g_status == nullptr) {
    return;
  }
  Report(SERVICE_START_PENDING);
  ::WaitForSingleObject(g_stopped, INFINITE);
  Report(SERVICE_STOPPED);
}

}  // namespace

int wmain() {
  g_stopped = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  wchar_t name[] = L"";
  SERVICE_TABLE_ENTRYW table[] = {{name, StubMain}, {nullptr, nullptr}};
  return ::StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
