// A small Service Control Manager tool for the tests and the demo: Wine's sc.exe knows
// only a few commands, and a script needs plain exit codes and one-word answers.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "common/win_handles.h"

namespace {

constexpr DWORD kDefaultWaitSeconds = 30;
constexpr DWORD kPollMs = 100;

struct StateName {
  DWORD state;
  const wchar_t* name;
};

constexpr StateName kStateNames[] = {
    {SERVICE_STOPPED, L"STOPPED"},
    {SERVICE_START_PENDING, L"START_PENDING"},
    {SERVICE_STOP_PENDING, L"STOP_PENDING"},
    {SERVICE_RUNNING, L"RUNNING"},
    {SERVICE_CONTINUE_PENDING, L"CONTINUE_PENDING"},
    {SERVICE_PAUSE_PENDING, L"PAUSE_PENDING"},
    {SERVICE_PAUSED, L"PAUSED"},
};

const wchar_t* NameOfState(DWORD state) {
  for (const StateName& entry : kStateNames) {
    if (entry.state == state) {
      return entry.name;
    }
  }
  return L"UNKNOWN";
}

bool StateOfName(const wchar_t* name, DWORD& state) {
  for (const StateName& entry : kStateNames) {
    if (::_wcsicmp(entry.name, name) == 0) {
      state = entry.state;
      return true;
    }
  }
  return false;
}

DWORD Usage() {
  std::fwprintf(
      stderr,
      L"usage: svcctl create NAME BINPATH [DISPLAY]\n"
      L"       svcctl delete|start|stop|pause|continue|state|interrogate|pid|config NAME\n"
      L"       svcctl wait NAME STATE [SECONDS]\n");
  return ERROR_INVALID_PARAMETER;
}

DWORD Fail(const wchar_t* what, DWORD error) {
  std::fwprintf(stderr, L"svcctl: %ls failed: %lu\n", what, error);
  return error;
}

// Opens the manager and then the service; the manager handle is declared first so
// that the service handle is closed before it.
struct OpenedService {
  UniqueServiceHandle manager;
  UniqueServiceHandle service;
  DWORD error = ERROR_SUCCESS;
};

OpenedService Open(const wchar_t* name, DWORD access) {
  OpenedService opened;
  opened.manager.Reset(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!opened.manager) {
    opened.error = ::GetLastError();
    return opened;
  }
  opened.service.Reset(::OpenServiceW(opened.manager.Get(), name, access));
  if (!opened.service) {
    opened.error = ::GetLastError();
  }
  return opened;
}

DWORD Create(const wchar_t* name, const wchar_t* binaryPath, const wchar_t* display) {
  UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (!manager) {
    return Fail(L"OpenSCManagerW", ::GetLastError());
  }
  UniqueServiceHandle service(::CreateServiceW(manager.Get(), name, display, SERVICE_ALL_ACCESS,
                                               SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                               SERVICE_ERROR_NORMAL, binaryPath, nullptr, nullptr,
                                               nullptr, nullptr, nullptr));
  if (!service) {
    return Fail(L"CreateServiceW", ::GetLastError());
  }
  return ERROR_SUCCESS;
}

DWORD Delete(const wchar_t* name) {
  OpenedService opened = Open(name, DELETE);
  if (opened.error != ERROR_SUCCESS) {
    return Fail(L"OpenServiceW", opened.error);
  }
  if (!::DeleteService(opened.service.Get())) {
    return Fail(L"DeleteService", ::GetLastError());
  }
  return ERROR_SUCCESS;
}

DWORD Start(const wchar_t* name) {
  OpenedService opened = Open(name, SERVICE_START);
  if (opened.error != ERROR_SUCCESS) {
    return Fail(L"OpenServiceW", opened.error);
  }
  if (!::StartServiceW(opened.service.Get(), 0, nullptr)) {
    return Fail(L"StartServiceW", ::GetLastError());
  }
  return ERROR_SUCCESS;
}

DWORD Control(const wchar_t* name, DWORD control, DWORD access, SERVICE_STATUS& status) {
  OpenedService opened = Open(name, access);
  if (opened.error != ERROR_SUCCESS) {
    return Fail(L"OpenServiceW", opened.error);
  }
  if (!::ControlService(opened.service.Get(), control, &status)) {
    return Fail(L"ControlService", ::GetLastError());
  }
  return ERROR_SUCCESS;
}

DWORD QueryStatus(const wchar_t* name, SERVICE_STATUS_PROCESS& status, bool quiet) {
  OpenedService opened = Open(name, SERVICE_QUERY_STATUS);
  if (opened.error != ERROR_SUCCESS) {
    return quiet ? opened.error : Fail(L"OpenServiceW", opened.error);
  }
  DWORD needed = 0;
  if (!::QueryServiceStatusEx(opened.service.Get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<LPBYTE>(&status), sizeof(status), &needed)) {
    const DWORD error = ::GetLastError();
    return quiet ? error : Fail(L"QueryServiceStatusEx", error);
  }
  return ERROR_SUCCESS;
}

DWORD PrintState(const wchar_t* name) {
  SERVICE_STATUS_PROCESS status = {};
  const DWORD error = QueryStatus(name, status, false);
  if (error == ERROR_SUCCESS) {
    std::wprintf(L"%ls\n", NameOfState(status.dwCurrentState));
  }
  return error;
}

DWORD PrintProcessId(const wchar_t* name) {
  SERVICE_STATUS_PROCESS status = {};
  const DWORD error = QueryStatus(name, status, false);
  if (error == ERROR_SUCCESS) {
    std::wprintf(L"%lu\n", status.dwProcessId);
  }
  return error;
}

// What the SCM reports of the service's registration, one "field value" line each.
DWORD PrintConfig(const wchar_t* name) {
  OpenedService opened = Open(name, SERVICE_QUERY_CONFIG);
  if (opened.error != ERROR_SUCCESS) {
    return Fail(L"OpenServiceW", opened.error);
  }
  DWORD needed = 0;
  ::QueryServiceConfigW(opened.service.Get(), nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (!::QueryServiceConfigW(opened.service.Get(), config, needed, &needed)) {
    return Fail(L"QueryServiceConfigW", ::GetLastError());
  }
  ::QueryServiceConfig2W(opened.service.Get(), SERVICE_CONFIG_DESCRIPTION, nullptr, 0, &needed);
  std::vector<BYTE> descriptionBuffer(needed + sizeof(SERVICE_DESCRIPTIONW));
  auto* description = reinterpret_cast<SERVICE_DESCRIPTIONW*>(descriptionBuffer.data());
  if (!::QueryServiceConfig2W(opened.service.Get(), SERVICE_CONFIG_DESCRIPTION,
                              descriptionBuffer.data(),
                              static_cast<DWORD>(descriptionBuffer.size()), &needed)) {
    return Fail(L"QueryServiceConfig2W", ::GetLastError());
  }
  std::wprintf(
      L"type %lu\nstart %lu\nerror %lu\naccount %ls\ndisplay %ls\ndescription %ls\npath %ls\n",
      config->dwServiceType, config->dwStartType, config->dwErrorControl,
      config->lpServiceStartName, config->lpDisplayName,
      description->lpDescription != nullptr ? description->lpDescription : L"",
      config->lpBinaryPathName);
  return ERROR_SUCCESS;
}

// Polls until the service reports the state, so that scripts need no sleeps of their own.
DWORD WaitForState(const wchar_t* name, const wchar_t* stateName, const wchar_t* secondsText) {
  DWORD wanted = 0;
  if (!StateOfName(stateName, wanted)) {
    return Usage();
  }
  const DWORD seconds = secondsText != nullptr
                            ? static_cast<DWORD>(std::wcstoul(secondsText, nullptr, 10))
                            : kDefaultWaitSeconds;
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(seconds) * 1000;
  SERVICE_STATUS_PROCESS status = {};
  for (;;) {
    const DWORD error = QueryStatus(name, status, true);
    if (error == ERROR_SUCCESS && status.dwCurrentState == wanted) {
      return ERROR_SUCCESS;
    }
    if (::GetTickCount64() >= deadline) {
      std::fwprintf(stderr, L"svcctl: %ls is %ls, not %ls\n", name,
                    error == ERROR_SUCCESS ? NameOfState(status.dwCurrentState) : L"unknown",
                    stateName);
      return ERROR_TIMEOUT;
    }
    ::Sleep(kPollMs);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    return static_cast<int>(Usage());
  }
  const std::wstring command = argv[1];
  const wchar_t* name = argv[2];
  SERVICE_STATUS status = {};
  DWORD result = ERROR_SUCCESS;
  if (command == L"create" && (argc == 4 || argc == 5)) {
    result = Create(name, argv[3], argc == 5 ? argv[4] : name);
  } else if (command == L"delete" && argc == 3) {
    result = Delete(name);
  } else if (command == L"start" && argc == 3) {
    result = Start(name);
  } else if (command == L"stop" && argc == 3) {
    result = Control(name, SERVICE_CONTROL_STOP, SERVICE_STOP, status);
  } else if (command == L"pause" && argc == 3) {
    result = Control(name, SERVICE_CONTROL_PAUSE, SERVICE_PAUSE_CONTINUE, status);
  } else if (command == L"continue" && argc == 3) {
    result = Control(name, SERVICE_CONTROL_CONTINUE, SERVICE_PAUSE_CONTINUE, status);
  } else if (command == L"interrogate" && argc == 3) {
    // Answered by the service's own handler; a stopped service fails with 1062.
    result = Control(name, SERVICE_CONTROL_INTERROGATE, SERVICE_INTERROGATE, status);
    if (result == ERROR_SUCCESS) {
      std::wprintf(L"%ls\n", NameOfState(status.dwCurrentState));
    }
  } else if (command == L"state" && argc == 3) {
    result = PrintState(name);
  } else if (command == L"pid" && argc == 3) {
    result = PrintProcessId(name);
  } else if (command == L"config" && argc == 3) {
    result = PrintConfig(name);
  } else if (command == L"wait" && (argc == 4 || argc == 5)) {
    result = WaitForState(name, argv[3], argc == 5 ? argv[4] : nullptr);
  } else {
    result = Usage();
  }
  return static_cast<int>(result);
}
