// The program running as a service: ServiceMain, its control handler and the console run.
#pragma once

#include <windows.h>

// What a failed watchdog start reports as the service's Win32 exit code.
inline constexpr DWORD kWatchdogStartFailedExitCode = ERROR_MAX_THRDS_REACHED;

// The entry that the dispatcher calls.
void WINAPI ServiceMain(DWORD argc, LPWSTR* argv);

// The body of ServiceMain, also run directly by the console run: it returns 0, or
// kWatchdogStartFailedExitCode when the watchdog thread could not be created.
DWORD RunServiceMain();

DWORD WINAPI ServiceControlHandler(DWORD control, DWORD eventType, LPVOID eventData,
                                   LPVOID context);

// Runs the service dispatcher for the record's service name until the service has
// stopped; false when it cannot run (outside the SCM). It returns only once no control
// is being handled: the dispatcher returns as soon as the stop is reported, Wine's runs
// the handler on a thread of its own, and a process that ended then would take the
// handler's answer with it, so that the sender's ControlService fails.
bool RunServiceDispatcher();

// The watchdog calls of the runtime, replaceable so that tests can reach the paths where
// the thread cannot be created or a control comes before the watchdog runs.
struct WatchdogCalls {
  void (*start)();
  void (*requestStop)();
};
extern WatchdogCalls g_watchdogCalls;

// The call that every status report goes through; tests put a recorder here, since the
// SCM keeps only the last state that it was told.
using SetServiceStatusFunction = BOOL(WINAPI*)(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS);
extern SetServiceStatusFunction g_setServiceStatus;
