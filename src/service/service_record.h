// What voranexmg knows about its own Windows service, and the SCM operations that act on it.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kServiceTextSize = 260;
inline constexpr std::size_t kServiceDescriptionSize = 1024;

struct ServiceRecord {
  wchar_t serviceName[kServiceTextSize];
  wchar_t displayName[kServiceTextSize];
  wchar_t description[kServiceDescriptionSize];
  wchar_t executablePath[kServiceTextSize];
  wchar_t loadOrderGroup[kServiceTextSize];
  DWORD desiredAccess;
  DWORD serviceType;
  DWORD startType;
  DWORD errorControl;
  wchar_t dependencies[kServiceTextSize];
  wchar_t accountName[kServiceTextSize];
  wchar_t password[kServiceTextSize];
  SERVICE_FAILURE_ACTIONSW failureActions;
  SERVICE_STATUS_HANDLE statusHandle;
  // Raised by the service-main thread while the handler may already read it.
  std::atomic<DWORD> controlsAccepted;
  std::int32_t requestedOperation;
};

extern ServiceRecord g_serviceRecord;

// The SCM restarts the service after each of its first three failures within a day.
inline constexpr DWORD kFailureResetSeconds = 24 * 60 * 60;
inline constexpr DWORD kRestartDelaysMs[] = {5 * 1000, 15 * 1000, 60 * 1000};

// Constructing one fills the record, the first time in the process only.
class CServiceManager {
 public:
  CServiceManager();
  virtual ~CServiceManager();
};

class CServiceUtility {
 public:
  virtual ~CServiceUtility();
};

// Each returns 0 or a Win32 error code and works on the service named in the record.
DWORD InstallService();
DWORD UninstallService();
DWORD StartServiceAndWait();
DWORD StopServiceAndWait();
// SERVICE_STOPPED to SERVICE_PAUSED, or 0 when the state cannot be learned.
DWORD GetServiceState();

// The call through which install applies the description and the failure actions; tests
// put a recorder here, since Wine stores no failure actions that could be read back.
using ChangeServiceConfig2Function = BOOL(WINAPI*)(SC_HANDLE, DWORD, LPVOID);
extern ChangeServiceConfig2Function g_changeServiceConfig2;
