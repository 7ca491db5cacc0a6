#include "service/service_runtime.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include <boost/thread/exceptions.hpp>

#include "common/event_log.h"
#include "common/windows_event_log.h"
#include "config/watched_service.h"
#include "service/service_record.h"
#include "service/weak_permissions.h"
#include "watchdog/watchdog.h"

WatchdogCalls g_watchdogCalls = {&StartWatchdogThread, &RequestWatchdogStop};
SetServiceStatusFunction g_setServiceStatus = &::SetServiceStatus;

namespace {

constexpr DWORD kKeepAliveIntervalMs = 500;
constexpr DWORD kPausedKeepAliveIntervalMs = 1000;

// Held while a control is handled, so that the process waits for the handler to return.
std::mutex g_controlMutex;

// How the service ends: the handler raises it, and ServiceMain's thread, which waits for
// nothing else, reports the stopped state once the handler has returned. The dispatcher
// lets the process end as soon as that state is reported, and the handler's answer to
// the stop's sender must be on its way by then.
class StopSignal {
 public:
  // `reported`: the stopped state, with its exit code, has been reported already.
  void Raise(bool reported) {
    const std::lock_guard<std::mutex> lock(mutex_);
    raised_ = true;
    reported_ = reported_ || reported;
    changed_.notify_all();
  }
  // Waits until raised; true when the stopped state is still to be reported.
  bool Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return raised_; });
    return !reported_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool raised_ = false;
  bool reported_ = false;
};

StopSignal g_stopSignal;

// Lives as long as the process, so that each weak object is told of once per run.
WeakPermissionAudit g_permissionAudit;

void AuditPermissions() { g_permissionAudit.Run(); }

void WaitUntilNoControlIsHandled() { const std::lock_guard<std::mutex> lock(g_controlMutex); }

// The console run reports against a null handle on purpose, so a failed report is
// expected there and ignored everywhere.
void ReportStatus(DWORD state, DWORD win32ExitCode = NO_ERROR) {
  SERVICE_STATUS status{};
  status.dwServiceType = g_serviceRecord.serviceType;
  status.dwCurrentState = state;
  status.dwControlsAccepted = g_serviceRecord.controlsAccepted;
  status.dwWin32ExitCode = win32ExitCode;
  g_setServiceStatus(g_serviceRecord.statusHandle, &status);
}

// Reports the outcome itself; false when the thread could not be created and the
// service has therefore been reported stopped.
bool StartWatchdog() {
  try {
    g_watchdogCalls.start();
    return true;
  } catch (const boost::thread_resource_error&) {
    WriteEvent(ServiceEvent::kWatchdogNotStarted, std::to_string(kWatchdogStartFailedExitCode));
    ReportStatus(SERVICE_STOPPED, kWatchdogStartFailedExitCode);
    g_stopSignal.Raise(true);
    return false;
  }
}

}  // namespace

DWORD RunServiceMain() {
  CServiceManager manager;
  CServiceUtility utility;
  // The console window alone tells the console run from a start by the SCM. A service
  // has no console to echo to, so it keeps its record in the Event Log instead.
  const bool consoleRun = ::GetConsoleWindow() != nullptr;
  const ScopedServiceEventLog eventLog(consoleRun ? nullptr : g_serviceRecord.serviceName);
  DiscoverWatchedService();

  if (!consoleRun) {
    g_serviceRecord.statusHandle = ::RegisterServiceCtrlHandlerExW(g_serviceRecord.serviceName,
                                                                   ServiceControlHandler, nullptr);
    if (g_serviceRecord.statusHandle == nullptr) {
      return 0;
    }
  }

  ReportStatus(SERVICE_START_PENDING);
  if (!consoleRun) {
    // What the service runs and reads as LocalSystem, checked at start and before every
    // restart; the console run runs as the administrator who started it.
    AuditPermissions();
    SetBeforeRestart(&AuditPermissions);
  }
  g_serviceRecord.controlsAccepted |= SERVICE_ACCEPT_STOP;
  ReportStatus(GetServiceState());
  // Pre-shutdown comes before Windows asks the other services to stop, so the watchdog
  // stands still before the server goes down and never restarts it mid-shutdown.
  g_serviceRecord.controlsAccepted |= SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_PRESHUTDOWN;
  ReportStatus(GetServiceState());
  if (!StartWatchdog()) {
    return kWatchdogStartFailedExitCode;
  }
  ReportStatus(SERVICE_RUNNING);

  if (!consoleRun) {
    // The handler tells of the stop. Asking the SCM for the state instead would send a
    // control of our own, and Wine's SCM ends a process that gets any control between a
    // stop's sending and its stop-pending report.
    if (g_stopSignal.Wait()) {
      WaitUntilNoControlIsHandled();
      ReportStatus(SERVICE_STOPPED);
    }
    return 0;
  }
  // The console run never returns; the installed service's state chooses its pace.
  for (;;) {
    ::Sleep(GetServiceState() == SERVICE_PAUSED ? kPausedKeepAliveIntervalMs
                                                : kKeepAliveIntervalMs);
  }
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  try {
    RunServiceMain();
  } catch (...) {
    ReportStatus(SERVICE_STOPPED, ERROR_EXCEPTION_IN_SERVICE);
  }
}

DWORD WINAPI ServiceControlHandler(DWORD control, DWORD, LPVOID, LPVOID) {
  try {
    const std::lock_guard<std::mutex> handling(g_controlMutex);
    CServiceManager manager;
    switch (control) {
      case SERVICE_CONTROL_STOP:
      case SERVICE_CONTROL_PRESHUTDOWN:
        ReportStatus(SERVICE_STOP_PENDING);
        g_watchdogCalls.requestStop();
        g_stopSignal.Raise(false);
        break;
      case SERVICE_CONTROL_PAUSE:
        ReportStatus(SERVICE_PAUSE_PENDING);
        g_watchdogCalls.requestStop();
        ReportStatus(SERVICE_PAUSED);
        break;
      case SERVICE_CONTROL_CONTINUE:
        ReportStatus(SERVICE_CONTINUE_PENDING);
        if (StartWatchdog()) {
          ReportStatus(SERVICE_RUNNING);
        }
        break;
      default:
        break;
    }
  } catch (...) {
    ReportStatus(SERVICE_STOPPED, ERROR_EXCEPTION_IN_SERVICE);
    g_stopSignal.Raise(true);
  }
  return NO_ERROR;
}

bool RunServiceDispatcher() {
  SERVICE_TABLE_ENTRYW table[] = {{g_serviceRecord.serviceName, ServiceMain}, {nullptr, nullptr}};
  const bool dispatched = ::StartServiceCtrlDispatcherW(table) != FALSE;
  WaitUntilNoControlIsHandled();
  return dispatched;
}
