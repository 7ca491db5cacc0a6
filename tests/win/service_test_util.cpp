#include "service_test_util.h"

#include "common/win_handles.h"
#include "win_test_util.h"

namespace {

UniqueServiceHandle OpenTestService(const wchar_t* name, UniqueServiceHandle& manager) {
  manager.Reset(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  return UniqueServiceHandle(manager ? ::OpenServiceW(manager.Get(), name, SERVICE_ALL_ACCESS)
                                     : nullptr);
}

UniqueRegistryKey OpenServiceKey(const wchar_t* name) {
  const std::wstring path = std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\") + name;
  UniqueRegistryKey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS) {
    key.Release();
  }
  return key;
}

}  // namespace

bool QueryStatus(const wchar_t* name, SERVICE_STATUS_PROCESS& status) {
  UniqueServiceHandle manager;
  const UniqueServiceHandle service = OpenTestService(name, manager);
  DWORD needed = 0;
  return service &&
         ::QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO,
                                reinterpret_cast<BYTE*>(&status), sizeof(status), &needed);
}

DWORD QueryState(const wchar_t* name) {
  SERVICE_STATUS_PROCESS status{};
  return QueryStatus(name, status) ? status.dwCurrentState : 0;
}

DWORD ServiceProcessId(const wchar_t* name) {
  SERVICE_STATUS_PROCESS status{};
  return QueryStatus(name, status) ? status.dwProcessId : 0;
}

bool WaitForState(const wchar_t* name, DWORD state, DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (QueryState(name) != state) {
    if (::GetTickCount64() > deadline) {
      return false;
    }
    ::Sleep(100);
  }
  return true;
}

bool SendControl(const wchar_t* name, DWORD control) {
  UniqueServiceHandle manager;
  const UniqueServiceHandle service = OpenTestService(name, manager);
  SERVICE_STATUS status{};
  return service && ::ControlService(service.Get(), control, &status);
}

bool StartTestService(const wchar_t* name) {
  DWORD error = ERROR_SUCCESS;
  {
    UniqueServiceHandle manager;
    const UniqueServiceHandle service = OpenTestService(name, manager);
    if (service && ::StartServiceW(service.Get(), 0, nullptr)) {
      return true;
    }
    error = ::GetLastError();
  }
  // For the caller's message: closing the handles may have overwritten it.
  ::SetLastError(error);
  return false;
}

void RemoveService(const wchar_t* name) {
  const DWORD state = QueryState(name);
  if (state == 0) {
    return;
  }
  if (state != SERVICE_STOPPED) {
    SendControl(name, SERVICE_CONTROL_STOP);
    if (!WaitForState(name, SERVICE_STOPPED, 10000)) {
      Kill(ServiceProcessId(name));
      WaitForState(name, SERVICE_STOPPED, 10000);
    }
  }
  {
    UniqueServiceHandle manager;
    const UniqueServiceHandle service = OpenTestService(name, manager);
    if (service) {
      ::DeleteService(service.Get());
    }
  }
  // The SCM only marks the service for deletion while a handle to it is open, as the
  // ending service process's own are; a service of the same name cannot be made till then.
  WaitUntil([name] { return QueryState(name) == 0; }, 10000);
}

bool CreateTestService(const wchar_t* name, const std::wstring& commandLine) {
  const UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  const UniqueServiceHandle service(
      manager
          ? ::CreateServiceW(manager.Get(), name, name, SERVICE_ALL_ACCESS,
                             SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                             commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr)
          : nullptr);
  return static_cast<bool>(service);
}

bool SetServiceCommandLine(const wchar_t* name, const std::wstring& commandLine) {
  UniqueServiceHandle manager;
  const UniqueServiceHandle service = OpenTestService(name, manager);
  return service && ::ChangeServiceConfigW(service.Get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                           SERVICE_NO_CHANGE, commandLine.c_str(), nullptr, nullptr,
                                           nullptr, nullptr, nullptr, nullptr);
}

std::vector<DWORD> ProcessIds(const wchar_t* image) {
  std::vector<DWORD> ids;
  const UniqueSnapshot snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = snapshot && ::Process32FirstW(snapshot.Get(), &entry); more;
       more = ::Process32NextW(snapshot.Get(), &entry)) {
    if (image == nullptr || std::wstring(entry.szExeFile) == image) {
      ids.push_back(entry.th32ProcessID);
    }
  }
  return ids;
}

bool WaitForExit(DWORD processId, DWORD timeoutMs) {
  const UniqueKernelHandle process(::OpenProcess(SYNCHRONIZE, FALSE, processId));
  return !process || ::WaitForSingleObject(process.Get(), timeoutMs) == WAIT_OBJECT_0;
}

void Kill(DWORD processId) {
  const UniqueKernelHandle process(::OpenProcess(PROCESS_TERMINATE, FALSE, processId));
  if (process) {
    ::TerminateProcess(process.Get(), 1);
  }
  WaitForExit(processId, 5000);
}

std::wstring ServiceValueText(const wchar_t* name, const wchar_t* value) {
  const UniqueRegistryKey key = OpenServiceKey(name);
  wchar_t buffer[1024] = {};
  DWORD bytes = sizeof(buffer) - sizeof(wchar_t);
  if (!key || ::RegQueryValueExW(key.Get(), value, nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(buffer), &bytes) != ERROR_SUCCESS) {
    return L"(missing)";
  }
  return buffer;
}

DWORD ServiceValueNumber(const wchar_t* name, const wchar_t* value) {
  const UniqueRegistryKey key = OpenServiceKey(name);
  DWORD number = 0xFFFFFFFF;
  DWORD bytes = sizeof(number);
  if (key) {
    ::RegQueryValueExW(key.Get(), value, nullptr, nullptr, reinterpret_cast<BYTE*>(&number),
                       &bytes);
  }
  return number;
}
