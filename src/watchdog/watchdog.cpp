#include "watchdog/watchdog.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <boost/lexical_cast.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include "common/event_log.h"
#include "config/port_list.h"
#include "config/registered_command.h"
#include "config/watched_program.h"
#include "config/watched_service.h"
#include "watchdog/listener_check.h"
#include "watchdog/netstat_parser.h"
#include "watchdog/restart_loop.h"
#include "watchdog/server_identity.h"
#include "watchdog/system_platform.h"
#include "watchdog/watchdog_platform.h"

namespace {

const char kListingCommand[] = "netstat -ano";
const char kKillCommandPrefix[] = "taskkill /F /pid ";
const char kEchoPrefix[] = "command : ";

const boost::posix_time::time_duration kKillPause = boost::posix_time::microseconds(1000000);
const boost::posix_time::time_duration kSurvivorPause = boost::posix_time::microseconds(10000000);
const boost::posix_time::time_duration kCyclePause = boost::posix_time::microseconds(10000000);
// Well above the SCM's own 30 seconds for a start, and above the starter's own wait.
const boost::posix_time::time_duration kRestartLimit = boost::posix_time::minutes(2);

// Read by the watchdog between process entries; nothing else is ordered by it.
std::atomic<bool> g_stopRequested{false};

// The control handler and ServiceMain both reach the thread object, so it is only
// touched under this lock; the watchdog takes it only when it leaves its loop. Nobody
// waits while holding it for a thread that may still be inside a command.
boost::mutex g_threadMutex;
boost::thread g_watchdogThread;
// True from the start of the thread until it has decided to end.
bool g_watchdogActive = false;
// A continue that came while the stopped watchdog was still busy: it carries on.
bool g_resumeRequested = false;

WatchdogPlatform* g_platform = nullptr;

// What the watchdog carries from one cycle to the next. It outlives each watchdog thread,
// so that a pause and continue do not hide a loop or tell of the same process twice; only
// the one watchdog that runs cycles touches it.
struct WatchdogState {
  RestartLoopMonitor restartLoop;
  ListenerCheck listenerCheck;
  // Processes of the watched image name that run another program, by PID and start
  // time: each is told of once per run.
  std::set<std::pair<std::uint32_t, std::uint64_t>> toldImpostors;
  bool launcherTold = false;
  // Starts that exit with an error, and starts that cannot be run at all.
  RepeatedFailure failedStarts;
  RepeatedFailure unrunStarts;
  // The server that the last check found, whose end cuts the cycle pause short, and the
  // last one whose end did.
  ServerProcess server;
  ServerProcess ended;
  // When the last recovery ended, if there was one: the next may not start within a
  // cycle pause of it, so that a server that dies at every start is started no more often
  // than one that the watchdog finds gone after a plain pause.
  bool recovered = false;
  std::chrono::steady_clock::time_point lastRecovery;
};
WatchdogState g_state;

void (*g_beforeRestart)() = nullptr;

bool StopRequested() { return g_stopRequested.load(std::memory_order_relaxed); }

WatchdogPlatform* CurrentPlatform() { return g_platform ? g_platform : SystemWatchdogPlatform(); }

// Walks a fresh snapshot until `matches` accepts an entry; a stop request ends the walk
// with the answer that nothing matched. The snapshot is closed before this returns.
template <typename Match>
bool FindProcess(WatchdogPlatform& platform, Match matches) {
  const std::unique_ptr<ProcessSnapshot> snapshot = platform.SnapshotProcesses();
  ProcessEntry entry;
  if (!snapshot || !snapshot->First(entry)) {
    return false;
  }
  for (;;) {
    if (matches(entry)) {
      return true;
    }
    if (!snapshot->Next(entry) || StopRequested()) {
      return false;
    }
  }
}

bool FindServer(WatchdogPlatform& platform, const std::wstring& imageName, ServerProcess& server) {
  const bool launcher = !NamesWatchedImage(g_watchedProgramPath);
  if (launcher && !g_state.launcherTold && !g_watchedProgramPath.empty()) {
    g_state.launcherTold = true;
    WriteEvent(ServiceEvent::kLauncherRegistered, ExecutablePart(g_watchedProgramPath));
  }
  ServerIdentity identity(platform, g_watchedProgramPath, launcher);
  return FindProcess(platform, [&](const ProcessEntry& entry) {
    if (entry.exeFile != imageName) {
      return false;
    }
    const ProcessImage image = platform.InspectProcess(entry.processId, g_watchedProgramPath);
    if (identity.IsServer(entry.processId, image)) {
      server = ServerProcess{entry.processId, image.startTime};
      return true;
    }
    if (g_state.toldImpostors.insert({entry.processId, image.startTime}).second) {
      WriteEvent(ServiceEvent::kImpostorProcess,
                 std::vector<std::string>{std::to_string(entry.processId), image.path,
                                          image.registeredPath});
    }
    return false;
  });
}

// The event log gets the same text as the echo, so that a search finds it in both.
void Echo(const std::string& command, ServiceEvent event) {
  std::cout << kEchoPrefix << command << std::endl;
  WriteEvent(event, command);
}

void RunAndEcho(WatchdogPlatform& platform, const std::string& command, ServiceEvent event) {
  platform.RunCommand(command);
  Echo(command, event);
}

// The identifiers are pasted into a line for the command interpreter, so anything but
// plain digits ("812\r", "1&del x") must never reach it.
bool IsDecimalNumber(const std::string& text) {
  if (text.empty()) {
    return false;
  }
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return false;
    }
  }
  return true;
}

PidSet FindOwnersOfWatchedPorts(WatchdogPlatform& platform) {
  PortSet ports = MakeDefaultPortSet();
  AddConfiguredPorts(ports, g_configDirectory);

  CNetstatParser parser;
  if (platform.CaptureOutput(kListingCommand, parser.output) && parser.TrimToFirstTcp()) {
    parser.Parse();
  }
  return parser.FindPortOwners(ports);
}

void KillAndWait(WatchdogPlatform& platform, const PidSet& owners) {
  std::vector<std::string> killed;
  for (const std::string& pid : owners) {
    if (IsDecimalNumber(pid)) {
      RunAndEcho(platform, kKillCommandPrefix + pid, ServiceEvent::kPortOwnerKilled);
      killed.push_back(pid);
    }
  }
  if (killed.empty()) {
    return;
  }
  platform.Pause(kKillPause);

  for (const std::string& pid : killed) {
    std::uint32_t processId = 0;
    try {
      processId = boost::lexical_cast<std::uint32_t>(pid);
    } catch (const boost::bad_lexical_cast&) {
      // Beyond 32 bits: no process can carry it.
      continue;
    }
    const bool survived = FindProcess(
        platform, [processId](const ProcessEntry& entry) { return entry.processId == processId; });
    if (survived) {
      platform.Pause(kSurvivorPause);
    }
  }
}

// The count of such failures since the last record goes last.
void TellFailedStart(RepeatedFailure& failures, bool failed,
                     std::chrono::steady_clock::time_point now, ServiceEvent event,
                     std::vector<std::string> texts) {
  if (!failed) {
    failures.Reset();
    return;
  }
  const int count = failures.OnFailure(now);
  if (count > 0) {
    texts.push_back(std::to_string(count));
    WriteEvent(event, texts);
  }
}

// The server's own starter is the one command that may never return; a watchdog stuck in
// it would look for nothing and restart nothing again.
void RunRecoveryCycle(WatchdogPlatform& platform) {
  KillAndWait(platform, FindOwnersOfWatchedPorts(platform));
  const std::string restart = "\"" + g_watchedProgramPath + "\"" + kRestartSuffix;
  if (g_beforeRestart != nullptr) {
    g_beforeRestart();
  }
  const CommandOutcome outcome = platform.RunCommandWithin(restart, kRestartLimit);
  Echo(restart, ServiceEvent::kServerRestarted);
  const auto now = platform.Now();
  if (outcome.status == CommandOutcome::Status::kTimedOut) {
    WriteEvent(ServiceEvent::kRestartTimedOut,
               std::vector<std::string>{restart, std::to_string(kRestartLimit.total_seconds())});
  }
  TellFailedStart(g_state.failedStarts,
                  outcome.status == CommandOutcome::Status::kEnded && outcome.exitCode != 0, now,
                  ServiceEvent::kRestartFailed, {restart, std::to_string(outcome.exitCode)});
  TellFailedStart(g_state.unrunStarts, outcome.status == CommandOutcome::Status::kNotStarted, now,
                  ServiceEvent::kRestartNotRun, {restart, outcome.error});
  g_state.restartLoop.OnRestart(now, restart);
}

// Called as the thread leaves its loop: true when a continue came meanwhile, and the
// thread then carries on as the new watchdog, with the stop request behind it.
bool CarryOnAfterStop() {
  const boost::lock_guard<boost::mutex> lock(g_threadMutex);
  if (!g_resumeRequested) {
    g_watchdogActive = false;
    return false;
  }
  g_resumeRequested = false;
  g_stopRequested.store(false, std::memory_order_relaxed);
  // The stop's interruption may still be pending when the loop ended at its top.
  try {
    boost::this_thread::interruption_point();
  } catch (const boost::thread_interrupted&) {
  }
  return true;
}

void WatchdogThreadEntry() {
  do {
    try {
      WatchdogLoop();
    } catch (const boost::thread_interrupted&) {
      // The stop request: the loop ends here, quietly.
    } catch (...) {
      // Nothing may leave a thread's entry; the watchdog then simply ends.
    }
  } while (CarryOnAfterStop());
}

}  // namespace

bool IsProcessRunning(std::wstring name) {
  WatchdogPlatform* platform = CurrentPlatform();
  return platform != nullptr && FindProcess(*platform, [&name](const ProcessEntry& entry) {
           return entry.exeFile == name;
         });
}

void WatchdogLoop() {
  WatchdogPlatform* platform = CurrentPlatform();
  if (platform == nullptr) {
    return;
  }
  const std::wstring imageName = kWatchedImageName;
  while (!StopRequested()) {
    if (FindServer(*platform, imageName, g_state.server)) {
      const auto now = platform->Now();
      g_state.restartLoop.OnServerFound(now);
      g_state.listenerCheck.OnServerFound(*platform, now, g_state.server);
      // The server's end wakes the watchdog, so that a crash is met at once. A list that
      // still shows a process that has ended must not make it spin.
      if (g_state.server == g_state.ended) {
        platform->Pause(kCyclePause);
      } else if (platform->PauseUntilExit(g_state.server, kCyclePause)) {
        g_state.ended = g_state.server;
      }
      continue;
    }
    // A stop that cuts the walk short also makes it answer "absent"; a recovery then
    // would kill the healthy server that holds its own ports.
    if (StopRequested()) {
      continue;
    }
    const auto floor =
        g_state.lastRecovery + std::chrono::microseconds(kCyclePause.total_microseconds());
    const auto now = platform->Now();
    if (g_state.recovered && now < floor) {
      // Then look again: a server that was slow to come up may be there by now.
      platform->Pause(boost::posix_time::microseconds(
          std::chrono::duration_cast<std::chrono::microseconds>(floor - now).count()));
      continue;
    }
    RunRecoveryCycle(*platform);
    g_state.recovered = true;
    g_state.lastRecovery = platform->Now();
  }
}

void StartWatchdogThread() {
  const boost::lock_guard<boost::mutex> lock(g_threadMutex);
  if (g_watchdogActive) {
    // A stopped watchdog that is still inside a command would keep a continue waiting for
    // as long as the command runs; it carries on instead, at its next pause or cycle.
    if (StopRequested()) {
      g_resumeRequested = true;
    }
    return;
  }
  if (g_watchdogThread.joinable()) {
    // It has left its loop already, so this wait is short.
    g_watchdogThread.join();
  }
  g_stopRequested.store(false, std::memory_order_relaxed);
  g_resumeRequested = false;
  g_watchdogThread = boost::thread(&WatchdogThreadEntry);
  g_watchdogActive = true;
}

void RequestWatchdogStop() {
  const boost::lock_guard<boost::mutex> lock(g_threadMutex);
  if (g_watchdogThread.joinable()) {
    g_stopRequested.store(true, std::memory_order_relaxed);
    // A stop or pause after a continue that is still pending wins.
    g_resumeRequested = false;
    g_watchdogThread.interrupt();
  }
}

void SetBeforeRestart(void (*check)()) { g_beforeRestart = check; }

void SetWatchdogPlatform(WatchdogPlatform* platform) {
  g_platform = platform;
  // Another platform brings another clock and other processes.
  g_state = WatchdogState();
}
