// The control handler in this process, with its reports and watchdog calls recorded, and
// ServiceMain under Wine's real SCM through the probe service.
#include <gtest/gtest.h>

#include <atomic>
#include <boost/thread/thread.hpp>
#include <memory>
#include <string>
#include <vector>

#include "service/service_record.h"
#include "service/service_runtime.h"
#include "service_test_util.h"
#include "watchdog/watchdog.h"
#include "watchdog/watchdog_platform.h"
#include "win_test_util.h"

namespace {

std::vector<std::string> g_events;

BOOL WINAPI RecordReport(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS status) {
  g_events.push_back("report " + std::to_string(status->dwCurrentState) + " " +
                     std::to_string(status->dwControlsAccepted) + " " +
                     std::to_string(status->dwWin32ExitCode));
  return FALSE;
}

void RecordStart() { g_events.push_back("start"); }
void FailStart() {
  g_events.push_back("start fails");
  throw boost::thread_resource_error();
}
void RecordStopRequest() { g_events.push_back("stop request"); }

class ControlHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CServiceManager manager;
    g_serviceRecord.controlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;
    g_setServiceStatus = &RecordReport;
    g_watchdogCalls = {&RecordStart, &RecordStopRequest};
    g_events.clear();
  }
  void TearDown() override {
    g_setServiceStatus = &::SetServiceStatus;
    g_watchdogCalls = {&StartWatchdogThread, &RequestWatchdogStop};
    g_serviceRecord.controlsAccepted = 0;
  }
};

TEST_F(ControlHandlerTest, ReportsPendingBeforeTheWatchdogIsTouchedAndNothingForOtherCodes) {
  struct Case {
    DWORD control;
    void (*start)();
    std::vector<std::string> events;
  };
  const Case cases[] = {
      // The stopped state is ServiceMain's to report, once the handler has returned.
      {SERVICE_CONTROL_STOP, &RecordStart, {"report 3 3 0", "stop request"}},
      {SERVICE_CONTROL_PRESHUTDOWN, &RecordStart, {"report 3 3 0", "stop request"}},
      {SERVICE_CONTROL_PAUSE, &RecordStart, {"report 6 3 0", "stop request", "report 7 3 0"}},
      {SERVICE_CONTROL_CONTINUE, &RecordStart, {"report 5 3 0", "start", "report 4 3 0"}},
      // No thread for the watchdog: the service ends, with a code that says why.
      {SERVICE_CONTROL_CONTINUE, &FailStart, {"report 5 3 0", "start fails", "report 1 3 164"}},
      {SERVICE_CONTROL_INTERROGATE, &RecordStart, {}},
      {SERVICE_CONTROL_SHUTDOWN, &RecordStart, {}},
      {SERVICE_CONTROL_PARAMCHANGE, &RecordStart, {}},
      {128, &RecordStart, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.control);
    g_events.clear();
    g_watchdogCalls.start = c.start;
    EXPECT_EQ(ServiceControlHandler(c.control, 0, nullptr, nullptr), static_cast<DWORD>(NO_ERROR));
    EXPECT_EQ(g_events, c.events);
  }
}

// Counts the process walks of the real watchdog thread; the watched program always runs.
class CountingPlatform : public WatchdogPlatform {
 public:
  std::atomic<int> walks{0};

  class Snapshot : public ProcessSnapshot {
   public:
    bool First(ProcessEntry& entry) override {
      entry.exeFile = L"voranexsv.exe";
      return true;
    }
    bool Next(ProcessEntry&) override { return false; }
  };
  std::unique_ptr<ProcessSnapshot> SnapshotProcesses() override {
    ++walks;
    return std::make_unique<Snapshot>();
  }
  bool CaptureOutput(const char*, std::string&) override { return false; }
  void RunCommand(const std::string&) override {}
  void Pause(const boost::posix_time::time_duration& duration) override {
    boost::this_thread::sleep(duration);
  }

  bool WaitForWalks(int count) {
    for (int i = 0; i < 500 && walks < count; ++i) {
      ::Sleep(10);
    }
    return walks >= count;
  }
};

// A stop or pause can be accepted before ServiceMain has started the watchdog; it must
// find no thread, and the start that follows must still bring one up.
TEST(EarlyControlTest, StopOrPauseBeforeTheWatchdogStartsLeavesItStartable) {
  static CountingPlatform platform;
  SetWatchdogPlatform(&platform);
  CServiceManager manager;
  for (const DWORD control : {DWORD{SERVICE_CONTROL_STOP}, DWORD{SERVICE_CONTROL_PAUSE}}) {
    SCOPED_TRACE(control);
    const int before = platform.walks;
    EXPECT_EQ(ServiceControlHandler(control, 0, nullptr, nullptr), static_cast<DWORD>(NO_ERROR));
    ::Sleep(100);
    EXPECT_EQ(platform.walks, before) << "a stop request started a watchdog";

    StartWatchdogThread();
    EXPECT_TRUE(platform.WaitForWalks(before + 1)) << "no watchdog after the early control";
    // Continue replaces the stopped thread, whose first look comes at once.
    ServiceControlHandler(SERVICE_CONTROL_PAUSE, 0, nullptr, nullptr);
    ServiceControlHandler(SERVICE_CONTROL_CONTINUE, 0, nullptr, nullptr);
    EXPECT_TRUE(platform.WaitForWalks(before + 2));
    ServiceControlHandler(SERVICE_CONTROL_STOP, 0, nullptr, nullptr);
  }
  // The next start waits for the stopped thread, so no watchdog outlives the test.
  StartWatchdogThread();
  RequestWatchdogStop();
}

constexpr wchar_t kProbe[] = L"VoranexmgProbe";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

class ProbeServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveService(kProbe);
    logPath_ = TempFileName(L"prb");
  }
  void TearDown() override {
    RemoveService(kProbe);
    ::DeleteFileW(logPath_.c_str());
  }

  bool InstallProbe(const wchar_t* mode) {
    return CreateTestService(kProbe, L"\"" + ProgramFolder() + L"\\service_runtime_probe.exe\" " +
                                         mode + L" " + logPath_);
  }

  // The log once the probe's process has ended, which it says in its last line.
  std::vector<std::string> FinalLog() {
    for (int i = 0; i < 100; ++i) {
      const std::string log = ReadWholeFile(logPath_);
      if (log.find("dispatcher returned") != std::string::npos) {
        return Lines(log);
      }
      ::Sleep(100);
    }
    ADD_FAILURE() << "the probe did not end:\n" << ReadWholeFile(logPath_);
    return Lines(ReadWholeFile(logPath_));
  }

  std::wstring logPath_;
};

// The SCM will not interrogate a service that is still start pending, so the two reports
// of the queried state carry state 0, and the SCM rejects them.
TEST_F(ProbeServiceTest, ReportsEveryStepOfStartPauseContinueAndStop) {
  ASSERT_TRUE(InstallProbe(L"normal"));
  ASSERT_TRUE(StartTestService(kProbe)) << "StartService: " << ::GetLastError();
  ASSERT_TRUE(WaitForState(kProbe, SERVICE_RUNNING, 10000));
  SERVICE_STATUS_PROCESS running{};
  ASSERT_TRUE(QueryStatus(kProbe, running));
  EXPECT_EQ(running.dwControlsAccepted,
            static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE |
                               SERVICE_ACCEPT_PRESHUTDOWN));
  EXPECT_TRUE(SendControl(kProbe, SERVICE_CONTROL_INTERROGATE));
  ASSERT_TRUE(SendControl(kProbe, SERVICE_CONTROL_PAUSE));
  ASSERT_TRUE(WaitForState(kProbe, SERVICE_PAUSED, 10000));
  ASSERT_TRUE(SendControl(kProbe, SERVICE_CONTROL_CONTINUE));
  ASSERT_TRUE(WaitForState(kProbe, SERVICE_RUNNING, 10000));
  ASSERT_TRUE(SendControl(kProbe, SERVICE_CONTROL_STOP));
  EXPECT_TRUE(WaitForState(kProbe, SERVICE_STOPPED, 10000));

  const std::vector<std::string> expected = {
      "report 2 0 0",          "report 0 1 0",   "report 0 259 0",        "watchdog start",
      "report 4 259 0",        "report 6 259 0", "watchdog stop request", "report 7 259 0",
      "report 5 259 0",        "watchdog start", "report 4 259 0",        "report 3 259 0",
      "watchdog stop request", "report 1 259 0", "dispatcher returned 1",
  };
  EXPECT_EQ(FinalLog(), expected);
}

// The stop's sender must get its answer even when the handler returns after the
// dispatcher has: the process may not end while a control is being handled.
TEST_F(ProbeServiceTest, StopIsAnsweredWhenTheHandlerReturnsLate) {
  ASSERT_TRUE(InstallProbe(L"slow-stop"));
  ASSERT_TRUE(StartTestService(kProbe)) << "StartService: " << ::GetLastError();
  ASSERT_TRUE(WaitForState(kProbe, SERVICE_RUNNING, 10000));
  EXPECT_TRUE(SendControl(kProbe, SERVICE_CONTROL_STOP)) << "ControlService: " << ::GetLastError();
  EXPECT_EQ(FinalLog().back(), "dispatcher returned 1");
}

TEST_F(ProbeServiceTest, WatchdogThatCannotStartEndsTheServiceWithAnExitCode) {
  ASSERT_TRUE(InstallProbe(L"thread-fails"));
  ASSERT_TRUE(StartTestService(kProbe)) << "StartService: " << ::GetLastError();
  EXPECT_TRUE(WaitForState(kProbe, SERVICE_STOPPED, 10000));
  SERVICE_STATUS_PROCESS status{};
  ASSERT_TRUE(QueryStatus(kProbe, status));
  EXPECT_EQ(status.dwWin32ExitCode, kWatchdogStartFailedExitCode);
  const std::vector<std::string> expected = {
      "report 2 0 0",         "report 0 1 0",     "report 0 259 0",
      "watchdog start fails", "report 1 259 164", "dispatcher returned 1",
  };
  EXPECT_EQ(FinalLog(), expected);
}

// Outside the SCM the handler cannot be registered: ServiceMain gives up before any
// report, and no watchdog starts.
TEST_F(ProbeServiceTest, ServiceMainWithoutTheScmEndsAtOnce) {
  const std::wstring probe = L"\"" + ProgramFolder() + L"\\service_runtime_probe.exe\"";
  const ProcessResult run = RunCaptured(probe + L" direct " + logPath_, 10000);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(ReadWholeFile(logPath_), "returned\n");
}

}  // namespace
