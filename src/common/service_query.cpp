#include "common/service_query.h"

#include <vector>

#include "common/win_handles.h"

ServiceView QueryServiceView(const wchar_t* name, bool withCommandLine) {
  ServiceView view;
  // The manager first, so that the service's handle is closed before it.
  const UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    view.error = ::GetLastError();
    return view;
  }
  const UniqueServiceHandle service(::OpenServiceW(
      manager.Get(), name, SERVICE_QUERY_STATUS | (withCommandLine ? SERVICE_QUERY_CONFIG : 0)));
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!service ||
      !::QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<LPBYTE>(&status), sizeof(status), &needed)) {
    view.error = ::GetLastError();
    return view;
  }
  view.state = status.dwCurrentState;
  view.processId = status.dwProcessId;
  if (!withCommandLine) {
    return view;
  }
  // The size is asked first; the configuration holds several strings behind its fields.
  ::QueryServiceConfigW(service.Get(), nullptr, 0, &needed);
  std::vector<unsigned char> buffer(
      needed > sizeof(QUERY_SERVICE_CONFIGW) ? needed : sizeof(QUERY_SERVICE_CONFIGW));
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (::QueryServiceConfigW(service.Get(), config, static_cast<DWORD>(buffer.size()), &needed) &&
      config->lpBinaryPathName != nullptr) {
    view.commandLine = config->lpBinaryPathName;
  }
  return view;
}
