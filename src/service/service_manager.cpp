#include <windows.h>

#include <cwchar>
#include <iterator>
#include <mutex>
#include <string>

#include "common/win_handles.h"
#include "common/windows_event_log.h"
#include "service/command_line.h"
#include "service/service_record.h"

ServiceRecord g_serviceRecord;
ChangeServiceConfig2Function g_changeServiceConfig2 = &::ChangeServiceConfig2W;

namespace {

constexpr DWORD kWaitPolls = 29;
constexpr DWORD kWaitPollIntervalMs = 1000;

SC_ACTION g_restartActions[] = {
    {SC_ACTION_RESTART, kRestartDelaysMs[0]},
    {SC_ACTION_RESTART, kRestartDelaysMs[1]},
    {SC_ACTION_RESTART, kRestartDelaysMs[2]},
};

std::once_flag g_recordFilled;

void FillRecord() {
  ServiceRecord& record = g_serviceRecord;
  std::wmemset(record.serviceName, L'\0', kServiceTextSize);
  std::wmemset(record.displayName, L'\0', kServiceTextSize);
  std::wmemset(record.description, L'\0', kServiceDescriptionSize);
  std::wmemset(record.executablePath, L'\0', kServiceTextSize);
  std::wmemset(record.loadOrderGroup, L'\0', kServiceTextSize);
  std::wmemset(record.dependencies, L'\0', kServiceTextSize);
  std::wmemset(record.accountName, L'\0', kServiceTextSize);
  std::wmemset(record.password, L'\0', kServiceTextSize);
  // A path cut at the buffer's end comes back unterminated before Windows 10.
  ::GetModuleFileNameW(nullptr, record.executablePath, kServiceTextSize - 1);
  record.desiredAccess = SERVICE_ALL_ACCESS;
  record.serviceType = SERVICE_WIN32_OWN_PROCESS;
  record.startType = SERVICE_AUTO_START;
  record.errorControl = SERVICE_ERROR_NORMAL;
  record.failureActions = SERVICE_FAILURE_ACTIONSW{};
  record.failureActions.dwResetPeriod = kFailureResetSeconds;
  record.failureActions.lpsaActions = g_restartActions;
  record.statusHandle = nullptr;
  record.controlsAccepted = 0;
  record.requestedOperation = kOperationNone;
}

UniqueServiceHandle OpenManager(DWORD access) {
  return UniqueServiceHandle(::OpenSCManagerW(nullptr, nullptr, access));
}

// The manager and this program's service, each operation's own; the members close in
// reverse order, the service handle first.
struct OwnService {
  UniqueServiceHandle manager;
  UniqueServiceHandle service;
  // ERROR_INVALID_HANDLE when the manager could not be opened.
  DWORD error = 0;
};

OwnService OpenOwnService() {
  OwnService own;
  own.manager = OpenManager(SC_MANAGER_ALL_ACCESS);
  if (!own.manager) {
    own.error = ERROR_INVALID_HANDLE;
    return own;
  }
  own.service.Reset(
      ::OpenServiceW(own.manager.Get(), g_serviceRecord.serviceName, SERVICE_ALL_ACCESS));
  if (!own.service) {
    own.error = ::GetLastError();
  }
  return own;
}

struct Interrogation {
  DWORD error;
  DWORD state;
};

Interrogation Interrogate() {
  const OwnService own = OpenOwnService();
  if (own.error != 0) {
    return {own.error, 0};
  }
  SERVICE_STATUS status{};
  if (!::ControlService(own.service.Get(), SERVICE_CONTROL_INTERROGATE, &status)) {
    const DWORD error = ::GetLastError();
    // A stopped service has no handler left to ask; the SCM answers for it with 1062.
    if (error == ERROR_SERVICE_NOT_ACTIVE) {
      return {0, SERVICE_STOPPED};
    }
    return {error, 0};
  }
  return {0, status.dwCurrentState};
}

bool RequestStart(SC_HANDLE service) { return ::StartServiceW(service, 0, nullptr) != FALSE; }

bool RequestStop(SC_HANDLE service) {
  SERVICE_STATUS status{};
  return ::ControlService(service, SERVICE_CONTROL_STOP, &status) != FALSE;
}

DWORD RequestAndWait(DWORD targetState, bool (*request)(SC_HANDLE)) {
  const Interrogation first = Interrogate();
  if (first.error != 0) {
    return first.error;
  }
  if (first.state == targetState) {
    return 0;
  }
  {
    const OwnService own = OpenOwnService();
    if (own.error != 0) {
      return own.error;
    }
    if (!request(own.service.Get())) {
      const DWORD error = ::GetLastError();
      return error;
    }
  }
  // A poll that fails leaves the last known state, which is never the target here.
  for (DWORD poll = 0; poll < kWaitPolls; ++poll) {
    const Interrogation now = Interrogate();
    if (now.error == 0 && now.state == targetState) {
      return 0;
    }
    ::Sleep(kWaitPollIntervalMs);
  }
  return WAIT_TIMEOUT;
}

// Unquoted, a path such as C:\Program Files\... lets the SCM try C:\Program.exe first.
std::wstring QuotedCommandLine(const wchar_t* path) { return L"\"" + std::wstring(path) + L"\""; }

const wchar_t* NullWhenEmpty(const wchar_t* text) { return text[0] == L'\0' ? nullptr : text; }

}  // namespace

CServiceManager::CServiceManager() { std::call_once(g_recordFilled, FillRecord); }

CServiceManager::~CServiceManager() = default;

CServiceUtility::~CServiceUtility() = default;

DWORD InstallService() {
  ServiceRecord& record = g_serviceRecord;
  const UniqueServiceHandle manager = OpenManager(SC_MANAGER_CREATE_SERVICE);
  if (!manager) {
    return ERROR_INVALID_HANDLE;
  }
  const std::wstring commandLine = QuotedCommandLine(record.executablePath);
  const UniqueServiceHandle service(
      ::CreateServiceW(manager.Get(), record.serviceName, record.displayName, record.desiredAccess,
                       record.serviceType, record.startType, record.errorControl,
                       commandLine.c_str(), record.loadOrderGroup, nullptr, record.dependencies,
                       NullWhenEmpty(record.accountName), NullWhenEmpty(record.password)));
  if (!service) {
    const DWORD error = ::GetLastError();
    return error;
  }
  SERVICE_DESCRIPTIONW description{record.description};
  g_changeServiceConfig2(service.Get(), SERVICE_CONFIG_DESCRIPTION, &description);
  record.failureActions.cActions = static_cast<DWORD>(std::size(g_restartActions));
  g_changeServiceConfig2(service.Get(), SERVICE_CONFIG_FAILURE_ACTIONS, &record.failureActions);
  // The service is installed either way; without the source its events go unrecorded.
  RegisterEventLogSource(record.serviceName, record.executablePath);
  return 0;
}

DWORD UninstallService() {
  const OwnService own = OpenOwnService();
  if (own.error != 0) {
    return own.error;
  }
  const Interrogation current = Interrogate();
  if (current.error != 0) {
    return current.error;
  }
  if (current.state != SERVICE_STOPPED) {
    const DWORD error = StopServiceAndWait();
    if (error != 0) {
      return error;
    }
  }
  if (!::DeleteService(own.service.Get())) {
    const DWORD error = ::GetLastError();
    return error;
  }
  RemoveEventLogSource(g_serviceRecord.serviceName);
  return 0;
}

DWORD StartServiceAndWait() { return RequestAndWait(SERVICE_RUNNING, &RequestStart); }

DWORD StopServiceAndWait() { return RequestAndWait(SERVICE_STOPPED, &RequestStop); }

DWORD GetServiceState() {
  const Interrogation now = Interrogate();
  return now.error == 0 ? now.state : 0;
}
