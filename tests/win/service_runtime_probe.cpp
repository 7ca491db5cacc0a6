// voranexmg's service runtime under the test name VoranexmgProbe: it writes every status
// report and every watchdog call to the log file named by its second argument. The first
// argument steers the watchdog start:
//   normal          the real watchdog, on a system where the watched program always runs
//   thread-fails    the start cannot create the thread
//   slow-stop       the real watchdog, and the handler returns 500 ms after it reported
//                   the stop, long after the dispatcher has returned
//   direct          ServiceMain is called without the dispatcher, as no service can be
#include <windows.h>

#include <boost/thread/exceptions.hpp>
#include <boost/thread/thread.hpp>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>

#include "service/service_record.h"
#include "service/service_runtime.h"
#include "watchdog/watchdog.h"
#include "watchdog/watchdog_platform.h"

namespace {

std::FILE* g_log = nullptr;

void Log(const char* format, unsigned long a = 0, unsigned long b = 0, unsigned long c = 0) {
  std::fprintf(g_log, format, a, b, c);
  std::fflush(g_log);
}

bool g_slowStop = false;

BOOL WINAPI LoggedReport(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status) {
  Log("report %lu %lu %lu\n", status->dwCurrentState, status->dwControlsAccepted,
      status->dwWin32ExitCode);
  const BOOL reported = ::SetServiceStatus(handle, status);
  if (g_slowStop && status->dwCurrentState == SERVICE_STOPPED) {
    ::Sleep(500);
  }
  return reported;
}

// The watched program is always there, so the real watchdog runs no command.
class AlwaysRunningPlatform : public WatchdogPlatform {
 public:
  class Snapshot : public ProcessSnapshot {
   public:
    bool First(ProcessEntry& entry) override {
      entry.exeFile = L"voranexsv.exe";
      entry.processId = 4;
      return true;
    }
    bool Next(ProcessEntry&) override { return false; }
  };
  std::unique_ptr<ProcessSnapshot> SnapshotProcesses() override {
    return std::make_unique<Snapshot>();
  }
  bool CaptureOutput(const char*, std::string&) override { return false; }
  void RunCommand(const std::string&) override {}
  void Pause(const boost::posix_time::time_duration& duration) override {
    boost::this_thread::sleep(duration);
  }
};

AlwaysRunningPlatform g_platform;
bool g_startFails = false;

void LoggedStart() {
  Log(g_startFails ? "watchdog start fails\n" : "watchdog start\n");
  if (g_startFails) {
    throw boost::thread_resource_error();
  }
  StartWatchdogThread();
}

void LoggedStopRequest() {
  Log("watchdog stop request\n");
  RequestWatchdogStop();
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
  if (argc != 3 || _wfopen_s(&g_log, argv[2], L"wb") != 0) {
    return 2;
  }
  CServiceManager manager;
  wcscpy_s(g_serviceRecord.serviceName, kServiceTextSize, L"VoranexmgProbe");
  SetWatchdogPlatform(&g_platform);
  g_setServiceStatus = &LoggedReport;
  g_watchdogCalls = {&LoggedStart, &LoggedStopRequest};
  const std::wstring mode = argv[1];
  g_startFails = mode == L"thread-fails";
  g_slowStop = mode == L"slow-stop";
  if (mode == L"direct") {
    ServiceMain(0, nullptr);
    Log("returned\n");
    return 0;
  }
  const bool dispatched = RunServiceDispatcher();
  Log("dispatcher returned %lu\n", static_cast<unsigned long>(dispatched));
  return dispatched ? 0 : 1;
}
