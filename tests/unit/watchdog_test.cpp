// Whole watchdog cycles against a scripted platform: the process list, the listing,
// the commands and the pauses are all the test's, so a cycle takes milliseconds.
#include "watchdog/watchdog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <boost/thread/thread.hpp>

#include "common/event_log.h"
#include "config/watched_service.h"
#include "watchdog/restart_loop.h"
#include "watchdog/watchdog_platform.h"

namespace {

const std::wstring kWatched = L"voranexsv.exe";
const char kKill[] = "taskkill /F /pid ";

// "  TCP    0.0.0.0:<port>    0.0.0.0:0    LISTENING    <pid>\r\n" for each pair.
std::string Listing(const std::vector<std::pair<std::string, std::string>>& portsAndPids) {
  std::string text =
      "\r\nActive Connections\r\n\r\n  Proto  Local Address  Foreign Address  State  PID\r\n";
  for (const auto& row : portsAndPids) {
    text += "  TCP    0.0.0.0:" + row.first + "    0.0.0.0:0    LISTENING    " + row.second + "\n";
  }
  return text;
}

// Each event as "ID [text] [text]...".
struct RecordingLog : EventLog {
  std::vector<std::string> lines;
  void Write(ServiceEvent event, const std::vector<std::string>& texts) override {
    std::string line = std::to_string(static_cast<int>(event));
    for (const std::string& text : texts) {
      line += " [" + text + "]";
    }
    lines.push_back(line);
  }
};

class ScriptedPlatform : public WatchdogPlatform {
 public:
  // What the watchdog sees, and what the test is told.
  std::vector<ProcessEntry> processes;
  std::set<std::uint32_t> survivors;
  std::string listing;
  bool captureFails = false;
  // The pause (counted from 0) during which a stop request arrives; -1 for none.
  int stopAtPause = -1;
  // The process entry (counted from 0 within a walk) before which a stop arrives.
  int stopAtEntry = -1;
  // Pauses from this one on really sleep, so that the test itself can stop them.
  int sleepFromPause = -1;
  // The listener tables, when readable; from pause `listenFromPause` on, the later ones.
  bool tablesReadable = false;
  std::vector<Listener> listeners;
  std::vector<Listener> laterListeners;
  int listenFromPause = -1;
  // What each process runs beside the discovered ImagePath, by PID; the others cannot be
  // inspected.
  std::map<std::uint32_t, ProcessImage> images;
  // The SCM's process for the service, and the ImagePath that the registry holds now
  // (empty: unreadable) with the processes that run its file.
  std::uint32_t serviceProcessId = 0;
  std::string imagePathNow;
  std::set<std::uint32_t> runImagePathNow;
  // Processes that end this many seconds into a wait on them; and the server process that
  // each restart command brings up, if any.
  std::map<std::uint32_t, int> endAfterSeconds;
  bool endedStayListed = false;
  ProcessEntry startedByRestart;
  // What the bounded restart answers, and whether it waits for OpenRestartGate first.
  CommandOutcome restartOutcome;
  bool holdRestart = false;
  boost::posix_time::time_duration restartLimit;

  void OpenRestartGate() {
    const std::lock_guard<std::mutex> lock(mutex_);
    holdRestart = false;
    changed_.notify_all();
  }

  std::vector<std::string> Events() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }

  // Waits until the watchdog thread that this platform served has ended.
  bool WaitForExit() {
    std::unique_lock<std::mutex> lock(mutex_);
    return exited_.wait_for(lock, std::chrono::seconds(10), [this] { return exitCount_ > 0; });
  }
  bool WaitForEvents(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10),
                             [&] { return events_.size() >= count; });
  }

  std::unique_ptr<ProcessSnapshot> SnapshotProcesses() override {
    WatchThread();
    Record("snapshot");
    return std::unique_ptr<ProcessSnapshot>(new Snapshot(*this));
  }

  bool CaptureOutput(const char* command, std::string& output) override {
    Record(std::string("capture ") + command);
    if (captureFails) {
      return false;
    }
    output += listing;
    return true;
  }

  void RunCommand(const std::string& command) override {
    Record("run " + command);
    if (command.compare(0, sizeof(kKill) - 1, kKill) != 0) {
      return;
    }
    const std::string pid = command.substr(sizeof(kKill) - 1);
    for (auto it = processes.begin(); it != processes.end(); ++it) {
      if (std::to_string(it->processId) == pid && survivors.count(it->processId) == 0) {
        processes.erase(it);
        break;
      }
    }
  }

  CommandOutcome RunCommandWithin(const std::string& command,
                                  const boost::posix_time::time_duration& limit) override {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return !holdRestart; });
      restartLimit = limit;
    }
    RunCommand(command);
    if (startedByRestart.processId != 0) {
      processes.push_back(startedByRestart);
    }
    return restartOutcome;
  }

  bool ReadListeners(std::vector<Listener>& out) override {
    const bool later = listenFromPause >= 0 && pauses_ >= listenFromPause;
    out = later ? laterListeners : listeners;
    return tablesReadable;
  }

  ProcessImage InspectProcess(std::uint32_t processId, const std::string& imagePath) override {
    if (imagePath != g_watchedProgramPath) {
      return ProcessImage{imagePath == imagePathNow && runImagePathNow.count(processId) != 0
                              ? ProcessImage::Match::kRegisteredProgram
                              : ProcessImage::Match::kOtherProgram,
                          "", imagePath, 0};
    }
    const auto found = images.find(processId);
    return found == images.end() ? ProcessImage() : found->second;
  }

  std::uint32_t WatchedServiceProcessId() override { return serviceProcessId; }

  bool ReadImagePath(std::string& imagePath) override {
    imagePath = imagePathNow;
    return !imagePathNow.empty();
  }

  // Time passes only in the watchdog's pauses.
  std::chrono::steady_clock::time_point Now() override {
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::chrono::steady_clock::time_point() + paused_;
  }

  bool PauseUntilExit(const ServerProcess& server,
                      const boost::posix_time::time_duration& duration) override {
    const auto ends = endAfterSeconds.find(server.processId);
    if (ends == endAfterSeconds.end()) {
      Pause(duration);
      return false;
    }
    Record("wait " + std::to_string(server.processId) + " ended");
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      paused_ += std::chrono::seconds(ends->second);
    }
    if (!endedStayListed) {
      processes.erase(std::remove_if(processes.begin(), processes.end(),
                                     [&](const ProcessEntry& entry) {
                                       return entry.processId == server.processId;
                                     }),
                      processes.end());
    }
    return true;
  }

  void Pause(const boost::posix_time::time_duration& duration) override {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      paused_ += std::chrono::microseconds(duration.total_microseconds());
    }
    const int index = pauses_++;
    Record("pause " + std::to_string(duration.total_seconds()));
    // A watchdog that never ends must not hang the test run.
    if (index == stopAtPause || index > 50) {
      RequestWatchdogStop();
    }
    if (sleepFromPause >= 0 && index >= sleepFromPause) {
      boost::this_thread::sleep(boost::posix_time::seconds(30));
    }
    boost::this_thread::interruption_point();
  }

 private:
  class Snapshot : public ProcessSnapshot {
   public:
    explicit Snapshot(ScriptedPlatform& platform) : platform_(platform) {}
    bool First(ProcessEntry& entry) override { return At(0, entry); }
    bool Next(ProcessEntry& entry) override { return At(next_, entry); }

   private:
    bool At(std::size_t index, ProcessEntry& entry) {
      if (static_cast<int>(index) == platform_.stopAtEntry) {
        RequestWatchdogStop();
      }
      if (index >= platform_.processes.size()) {
        return false;
      }
      entry = platform_.processes[index];
      next_ = index + 1;
      return true;
    }

    ScriptedPlatform& platform_;
    std::size_t next_ = 0;
  };

  void Record(const std::string& event) {
    const std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
    changed_.notify_all();
  }

  // Signals WaitForExit when the thread that first calls this ends.
  void WatchThread() {
    if (watchedThread_ == boost::this_thread::get_id()) {
      return;
    }
    watchedThread_ = boost::this_thread::get_id();
    boost::this_thread::at_thread_exit([this] {
      const std::lock_guard<std::mutex> lock(mutex_);
      ++exitCount_;
      exited_.notify_all();
    });
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::condition_variable exited_;
  std::vector<std::string> events_;
  int pauses_ = 0;
  std::chrono::microseconds paused_{0};
  int exitCount_ = 0;
  boost::thread::id watchedThread_;
};

class WatchdogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_watchedProgramPath = "C:\\voranex\\voranexsv.exe";
    g_configDirectory.clear();
    SetWatchdogPlatform(&platform_);
    savedCout_ = std::cout.rdbuf(echo_.rdbuf());
  }
  void TearDown() override {
    std::cout.rdbuf(savedCout_);
    SetWatchdogPlatform(nullptr);
  }

  // Runs one watchdog on `platform` until the scripted stop has ended it.
  static std::vector<std::string> RunUntilStopped(ScriptedPlatform& platform) {
    SetWatchdogPlatform(&platform);
    StartWatchdogThread();
    EXPECT_TRUE(platform.WaitForExit()) << "the watchdog did not end";
    return platform.Events();
  }
  std::vector<std::string> RunUntilStopped() { return RunUntilStopped(platform_); }

  // The events that one watchdog on `platform` wrote until the scripted stop.
  static std::vector<std::string> LoggedRun(ScriptedPlatform& platform) {
    RecordingLog log;
    SetEventLog(&log);
    RunUntilStopped(platform);
    SetEventLog(nullptr);
    return log.lines;
  }

  // Starts a watchdog that finds the watched process and then rests in a real,
  // interruptible cycle pause.
  void StartRestingWatchdog() {
    platform_.processes = {{kWatched, 812}};
    platform_.sleepFromPause = 0;
    StartWatchdogThread();
    ASSERT_TRUE(platform_.WaitForEvents(2));
  }

  std::string Restart() const { return "\"" + g_watchedProgramPath + "\" -start"; }

  ScriptedPlatform platform_;
  std::ostringstream echo_;
  std::streambuf* savedCout_ = nullptr;
};

using Events = std::vector<std::string>;

TEST_F(WatchdogTest, WatchedProcessPresentRunsNothing) {
  platform_.processes = {{L"System", 4}, {kWatched, 812}};
  platform_.stopAtPause = 1;
  EXPECT_EQ(RunUntilStopped(), (Events{"snapshot", "pause 10", "snapshot", "pause 10"}));
  EXPECT_EQ(echo_.str(), "");
}

TEST_F(WatchdogTest, OnlyTheExactImageNameCounts) {
  for (const std::wstring name :
       {L"VORANEXSV.EXE", L"voranexsv.exe.old", L"voranexsv.ex", L"C:\\voranex\\voranexsv.exe"}) {
    ScriptedPlatform platform;
    platform.processes = {{name, 812}};
    platform.stopAtPause = 0;
    EXPECT_EQ(RunUntilStopped(platform), (Events{"snapshot", "capture netstat -ano",
                                                 "run " + Restart(), "snapshot", "pause 10"}));
  }
}

TEST_F(WatchdogTest, RecoveryWithoutOwnersOnlyRestarts) {
  struct Case {
    const char* why;
    std::string listing;
    bool captureFails;
  };
  const Case cases[] = {
      {"no listing", "", true},
      {"no TCP row", "  UDP    0.0.0.0:4033    *:*    964\n", false},
      {"owners of other ports only", Listing({{"80", "4"}, {"40330", "9"}}), false},
  };
  for (const Case& c : cases) {
    ScriptedPlatform platform;
    platform.listing = c.listing;
    platform.captureFails = c.captureFails;
    platform.stopAtPause = 0;
    EXPECT_EQ(RunUntilStopped(platform), (Events{"snapshot", "capture netstat -ano",
                                                 "run " + Restart(), "snapshot", "pause 10"}))
        << c.why;
  }
  EXPECT_EQ(echo_.str(), "command : " + Restart() + "\ncommand : " + Restart() +
                             "\ncommand : " + Restart() + "\n");
}

TEST_F(WatchdogTest, OwnersAreKilledAndWaitedForInTextOrder) {
  platform_.processes = {{L"a.exe", 888}, {L"b.exe", 1044}, {L"c.exe", 0}};
  platform_.listing = Listing({{"4033", "888"}, {"4044", "1044"}, {"36039", "0"}, {"4033", "888"}});
  platform_.stopAtPause = 1;
  EXPECT_EQ(RunUntilStopped(),
            (Events{"snapshot", "capture netstat -ano", "run taskkill /F /pid 0",
                    "run taskkill /F /pid 1044", "run taskkill /F /pid 888", "pause 1", "snapshot",
                    "snapshot", "snapshot", "run " + Restart(), "snapshot", "pause 10"}));
  EXPECT_EQ(echo_.str(),
            "command : taskkill /F /pid 0\ncommand : taskkill /F /pid 1044\n"
            "command : taskkill /F /pid 888\ncommand : " +
                Restart() + "\n");
}

// Each command goes to the event log as it was echoed, right after its echo line.
TEST_F(WatchdogTest, EveryEchoedCommandIsAlsoAnEvent) {
  RecordingLog log;
  platform_.processes = {{L"a.exe", 888}, {L"b.exe", 1044}};
  platform_.listing = Listing({{"4033", "888"}, {"4044", "1044"}});
  platform_.stopAtPause = 1;
  SetEventLog(&log);
  RunUntilStopped();
  SetEventLog(nullptr);
  EXPECT_EQ(log.lines, (Events{"1000 [taskkill /F /pid 1044]", "1000 [taskkill /F /pid 888]",
                               "1001 [" + Restart() + "]"}));
  EXPECT_EQ(echo_.str(),
            "command : taskkill /F /pid 1044\ncommand : taskkill /F /pid 888\n"
            "command : " +
                Restart() + "\n");
}

TEST_F(WatchdogTest, ASurvivorCostsOneTenSecondPause) {
  platform_.processes = {{L"a.exe", 888}, {L"stubborn.exe", 1044}, {L"c.exe", 0}};
  platform_.survivors = {1044};
  platform_.listing = Listing({{"4033", "888"}, {"4044", "1044"}, {"4045", "0"}});
  platform_.stopAtPause = 2;
  EXPECT_EQ(RunUntilStopped(), (Events{"snapshot", "capture netstat -ano", "run taskkill /F /pid 0",
                                       "run taskkill /F /pid 1044", "run taskkill /F /pid 888",
                                       "pause 1", "snapshot", "snapshot", "pause 10", "snapshot",
                                       "run " + Restart(), "snapshot", "pause 10"}));
}

TEST_F(WatchdogTest, RestartCommandQuotesThePathAsRegistered) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "\"\" -start"},
      {"C:\\Program Files\\Voranex\\voranexsv.exe",
       "\"C:\\Program Files\\Voranex\\voranexsv.exe\" -start"},
      {"\"C:\\Program Files\\Voranex\\voranexsv.exe\" -service",
       "\"\"C:\\Program Files\\Voranex\\voranexsv.exe\" -service\" -start"},
  };
  for (const auto& c : cases) {
    ScriptedPlatform platform;
    platform.stopAtPause = 0;
    g_watchedProgramPath = c.first;
    std::ostringstream echo;
    std::cout.rdbuf(echo.rdbuf());
    EXPECT_EQ(RunUntilStopped(platform).at(2), "run " + c.second);
    EXPECT_EQ(echo.str(), "command : " + c.second + "\n");
  }
}

// A stop during a pause ends the thread there: nothing after it runs.
TEST_F(WatchdogTest, StopDuringEachPauseEndsTheThreadAtOnce) {
  const Events full = {"snapshot",
                       "capture netstat -ano",
                       "run taskkill /F /pid 1044",
                       "pause 1",
                       "snapshot",
                       "pause 10",
                       "run " + Restart(),
                       "snapshot",
                       "pause 10"};
  const std::pair<int, std::size_t> stops[] = {{0, 4}, {1, 6}, {2, 9}};
  for (const auto& stop : stops) {
    ScriptedPlatform platform;
    platform.processes = {{L"stubborn.exe", 1044}};
    platform.survivors = {1044};
    platform.listing = Listing({{"4033", "1044"}});
    platform.stopAtPause = stop.first;
    EXPECT_EQ(RunUntilStopped(platform),
              Events(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(stop.second)))
        << "stop at pause " << stop.first;
  }
}

// A stop that cuts the walk short, before the watched entry is reached, must not pass
// for a crash: the healthy server would be killed and left down.
TEST_F(WatchdogTest, StopDuringTheProcessWalkStartsNoRecovery) {
  for (const int entry : {1, 2}) {
    ScriptedPlatform platform;
    platform.processes = {{L"System", 4}, {L"other.exe", 1044}, {kWatched, 812}};
    platform.listing = Listing({{"4033", "1044"}, {"4044", "812"}});
    platform.stopAtEntry = entry;
    EXPECT_EQ(RunUntilStopped(platform), (Events{"snapshot"})) << "stop before entry " << entry;
  }
}

TEST_F(WatchdogTest, StartLeavesARunningWatchdogAlone) {
  ASSERT_NO_FATAL_FAILURE(StartRestingWatchdog());
  StartWatchdogThread();
  StartWatchdogThread();
  boost::this_thread::sleep(boost::posix_time::milliseconds(200));
  EXPECT_EQ(platform_.Events(), (Events{"snapshot", "pause 10"}));

  RequestWatchdogStop();
  EXPECT_TRUE(platform_.WaitForExit());
}

// Continue after a stop looks at once, whether the stopped thread has ended already or
// carries on as the new watchdog.
TEST_F(WatchdogTest, ContinueChecksAtOnceAndTheOldWatchdogRunsNoMore) {
  ASSERT_NO_FATAL_FAILURE(StartRestingWatchdog());
  RequestWatchdogStop();

  ScriptedPlatform next;
  next.processes = platform_.processes;
  next.sleepFromPause = 0;
  SetWatchdogPlatform(&next);
  const auto started = std::chrono::steady_clock::now();
  StartWatchdogThread();
  ASSERT_TRUE(next.WaitForEvents(1));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(platform_.Events(), (Events{"snapshot", "pause 10"}));

  RequestWatchdogStop();
  EXPECT_TRUE(next.WaitForExit());
  EXPECT_TRUE(platform_.WaitForExit());
}

// A starter that hangs holds the watchdog inside its command. Pause and continue are still
// answered at once; once the command ends, exactly one watchdog goes on, unless a stop
// came after the continue.
TEST_F(WatchdogTest, PauseAndContinueDuringAHungRestartLeaveOneWatchdogOrAStopWins) {
  const std::string restart = "run " + Restart();
  for (const bool stopLast : {false, true}) {
    ScriptedPlatform platform;
    platform.holdRestart = true;
    platform.sleepFromPause = 0;
    SetWatchdogPlatform(&platform);
    StartWatchdogThread();
    ASSERT_TRUE(platform.WaitForEvents(2));  // snapshot, capture: then the held restart
    const auto before = std::chrono::steady_clock::now();
    RequestWatchdogStop();
    StartWatchdogThread();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1));
    // The watchdog that carries on looks at once, but the next recovery waits out the
    // cycle pause after the last one.
    Events expected = {"snapshot", "capture netstat -ano", restart};
    if (stopLast) {
      RequestWatchdogStop();
    } else {
      expected.insert(expected.end(), {"snapshot", "pause 10"});
    }
    platform.OpenRestartGate();
    if (!stopLast) {
      ASSERT_TRUE(platform.WaitForEvents(expected.size()));
      RequestWatchdogStop();
    }
    EXPECT_TRUE(platform.WaitForExit());
    EXPECT_EQ(platform.Events(), expected) << (stopLast ? "stop last" : "continue last");
  }
}

// The restart is bounded at two minutes; one that had to be ended is echoed as usual,
// recorded as an error with its command and the time waited, and the cycle goes on.
TEST_F(WatchdogTest, ARestartThatOutlivesItsBoundIsRecordedAndTheCycleGoesOn) {
  RecordingLog log;
  platform_.restartOutcome.status = CommandOutcome::Status::kTimedOut;
  platform_.stopAtPause = 0;
  SetEventLog(&log);
  const Events events = RunUntilStopped();
  SetEventLog(nullptr);
  EXPECT_EQ(events, (Events{"snapshot", "capture netstat -ano", "run " + Restart(), "snapshot",
                            "pause 10"}));
  EXPECT_EQ(platform_.restartLimit, boost::posix_time::minutes(2));
  EXPECT_EQ(log.lines, (Events{"1001 [" + Restart() + "]", "1004 [" + Restart() + "] [120]"}));
  EXPECT_EQ(echo_.str(), "command : " + Restart() + "\n");
}

// A process of the server's name counts only when it runs the registered program, or
// when what it runs cannot be read. One that runs another file is told of once, however
// many cycles find it, and the walk goes on past it.
TEST_F(WatchdogTest, OnlyTheRegisteredProgramCountsAsTheServer) {
  using Match = ProcessImage::Match;
  const ProcessImage impostor{Match::kOtherProgram, "C:\\Users\\Public\\voranexsv.exe",
                              "C:\\voranex\\voranexsv.exe", 77};
  const std::string told =
      "1008 [900] [C:\\Users\\Public\\voranexsv.exe] [C:\\voranex\\voranexsv.exe]";
  const std::string restarted = "1001 [" + Restart() + "]";
  struct Case {
    const char* why;
    std::vector<ProcessEntry> processes;
    Match serverMatch;
    Events log;
  };
  const Case cases[] = {
      {"another file only", {{kWatched, 900}}, Match::kUnknown, {told, restarted, restarted}},
      {"another file, then the server",
       {{kWatched, 900}, {kWatched, 812}},
       Match::kRegisteredProgram,
       {told}},
      {"the same file", {{kWatched, 812}}, Match::kRegisteredProgram, {}},
      {"an image that cannot be read", {{kWatched, 812}}, Match::kUnknown, {}},
  };
  for (const Case& c : cases) {
    ScriptedPlatform platform;
    platform.processes = c.processes;
    platform.images[900] = impostor;
    if (c.serverMatch != Match::kUnknown) {
      platform.images[812] = ProcessImage{c.serverMatch, "", "", 5};
    }
    platform.stopAtPause = 1;
    EXPECT_EQ(LoggedRun(platform), c.log) << c.why;
  }
}

// Beside the discovered file, the SCM's own process for the service counts, and so does
// a process of the file that ImagePath names now (an upgrade into another folder). When
// ImagePath names a launcher, every process of the name counts, and that is told once.
// A process of neither file is still another program.
TEST_F(WatchdogTest, TheServicesProcessTheCurrentImagePathAndALauncherCount) {
  const std::string upgraded = "\"C:\\voranex-2\\voranexsv.exe\" -service";
  const std::string launcher = "\"C:\\voranex\\start.exe\" -service";
  const std::string restarted = "1001 [" + Restart() + "]";
  struct Case {
    const char* why;
    std::string discovered;
    std::uint32_t serviceProcess;
    std::string imagePathNow;
    bool runsIt;
    Events log;
  };
  const Case cases[] = {
      {"the SCM's process", g_watchedProgramPath, 900, "", false, {}},
      {"the file that ImagePath names now", g_watchedProgramPath, 0, upgraded, true, {}},
      {"a launcher", launcher, 0, "", false, {"1013 [C:\\voranex\\start.exe]"}},
      {"neither file",
       g_watchedProgramPath,
       812,
       upgraded,
       false,
       {"1008 [900] [C:\\Users\\Public\\voranexsv.exe] [C:\\voranex\\voranexsv.exe]", restarted,
        restarted}},
  };
  const std::string saved = g_watchedProgramPath;
  for (const Case& c : cases) {
    g_watchedProgramPath = c.discovered;
    ScriptedPlatform platform;
    platform.processes = {{kWatched, 900}};
    platform.images[900] =
        ProcessImage{ProcessImage::Match::kOtherProgram, "C:\\Users\\Public\\voranexsv.exe",
                     "C:\\voranex\\voranexsv.exe", 77};
    platform.serviceProcessId = c.serviceProcess;
    platform.imagePathNow = c.imagePathNow;
    if (c.runsIt) {
      platform.runImagePathNow = {900};
    }
    platform.stopAtPause = 1;
    EXPECT_EQ(LoggedRun(platform), c.log) << c.why;
    g_watchedProgramPath = saved;
  }
}

// The starter's exit code is read: a failed start, or an interpreter that cannot be
// started at all, is an error of its own after the usual record. A start that fails at
// every cycle is told at its first failure, not at each.
TEST_F(WatchdogTest, AStartThatFailsSaysSoOnce) {
  const std::string restarted = "1001 [" + Restart() + "]";
  platform_.restartOutcome.exitCode = 3;
  platform_.stopAtPause = 9;
  const Events log = LoggedRun(platform_);
  EXPECT_EQ(std::count(log.begin(), log.end(), restarted), 10);
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& line) { return line.compare(0, 4, "1009") == 0; }),
            1);
  EXPECT_EQ(log[1], "1009 [" + Restart() + "] [3] [1]");
  ScriptedPlatform notRun;
  notRun.restartOutcome.status = CommandOutcome::Status::kNotStarted;
  notRun.restartOutcome.error = "No such file.";
  notRun.stopAtPause = 0;
  EXPECT_EQ(LoggedRun(notRun), (Events{restarted, "1010 [" + Restart() + "] [No such file.] [1]"}));
}

// A found server has 60 s to listen on a port of its set; after that one warning names
// the ports and whoever else holds them. An owner that cannot be told (0), a child of the
// server and the server itself all serve.
TEST_F(WatchdogTest, AServerThatListensOnNoneOfItsPortsIsToldOfOnce) {
  const std::string ports = "36039, 36523, 4033, 4044, 4045, 4046, 4523, 4524, 4525, 4526";
  const std::string warned = "1011 [812] [60] [" + ports + "] [-]";
  struct Case {
    const char* why;
    std::vector<Listener> listeners;
    int stopAtPause;
    Events log;
  };
  const Case cases[] = {
      {"nothing listens, within the grace", {{80, 812}}, 5, {}},
      {"nothing listens", {{80, 812}}, 9, {warned}},
      {"the server on one port", {{4033, 812}}, 9, {}},
      {"an owner that cannot be told", {{4044, 0}}, 9, {}},
      {"a kernel listener, which System (PID 4) owns", {{4044, 4}}, 9, {}},
      {"a child of the server", {{4045, 813}}, 9, {}},
      {"another process holds a port",
       {{4033, 900}, {4033, 900}},
       9,
       {"1011 [812] [60] [" + ports + "] [port 4033: PID 900, C:\\Other\\other.exe]"}},
  };
  for (const Case& c : cases) {
    ScriptedPlatform platform;
    platform.processes = {{kWatched, 812, 4}, {L"child.exe", 813, 812}, {L"other.exe", 900, 4}};
    platform.images[900] =
        ProcessImage{ProcessImage::Match::kUnknown, "C:\\Other\\other.exe", "", 0};
    platform.tablesReadable = true;
    platform.listeners = c.listeners;
    platform.stopAtPause = c.stopAtPause;
    EXPECT_EQ(LoggedRun(platform), c.log) << c.why;
  }
}

// A warned server that starts to listen is told of once; one that stops listening after
// it served gets the warning, once.
TEST_F(WatchdogTest, AServerThatStartsOrStopsListeningIsToldOfOnce) {
  const std::string ports = "36039, 36523, 4033, 4044, 4045, 4046, 4523, 4524, 4525, 4526";
  for (const bool startsListening : {true, false}) {
    ScriptedPlatform platform;
    platform.processes = {{kWatched, 812}};
    platform.tablesReadable = true;
    (startsListening ? platform.laterListeners : platform.listeners) = {{4033, 812}};
    platform.listenFromPause = 8;
    platform.stopAtPause = 12;
    EXPECT_EQ(LoggedRun(platform),
              startsListening ? (Events{"1011 [812] [60] [" + ports + "] [-]", "1012 [812] [4033]"})
                              : (Events{"1011 [812] [80] [" + ports + "] [-]"}));
  }
}

// A server that dies right after each start: the third start within ten minutes is a
// loop, told once with the count, the span and the command; two starts are not.
TEST_F(WatchdogTest, TheThirdRestartWithinTenMinutesIsALoop) {
  for (const int stopAt : {1, 4}) {
    ScriptedPlatform platform;
    platform.stopAtPause = stopAt;
    RecordingLog log;
    SetEventLog(&log);
    RunUntilStopped(platform);
    SetEventLog(nullptr);
    const std::string restarted = "1001 [" + Restart() + "]";
    Events expected(static_cast<std::size_t>(stopAt + 1), restarted);
    if (stopAt == 4) {
      expected.insert(expected.begin() + 3, "1005 [3] [20] [" + Restart() + "]");
    }
    EXPECT_EQ(log.lines, expected) << stopAt + 1 << " restarts";
  }
}

// Told at the first failure, then hourly with the failures since; a start that went
// well makes the next failure a first one.
// The server's end cuts the cycle pause short: the recovery follows it at once, not when
// the pause would have run out. A server that then dies two seconds after each start is
// started again only once the cycle pause after the last recovery has run out.
TEST_F(WatchdogTest, TheServersEndIsMetAtOnceButRecoveriesKeepTheirPace) {
  platform_.processes = {{kWatched, 812}};
  platform_.endAfterSeconds = {{812, 2}, {900, 2}};
  platform_.startedByRestart = {kWatched, 900};
  platform_.stopAtPause = 0;
  EXPECT_EQ(RunUntilStopped(),
            (Events{"snapshot", "wait 812 ended", "snapshot", "capture netstat -ano",
                    "run " + Restart(), "snapshot", "wait 900 ended", "snapshot", "pause 8"}));

  // A process list that still shows an ended process gets the plain pause, not a spin.
  ScriptedPlatform stale;
  stale.processes = {{kWatched, 812}};
  stale.endAfterSeconds[812] = 2;
  stale.endedStayListed = true;
  stale.stopAtPause = 0;
  EXPECT_EQ(RunUntilStopped(stale), (Events{"snapshot", "wait 812 ended", "snapshot", "pause 10"}));
}

TEST(RepeatedFailureTest, IsToldHourlyWithItsCountAndAfreshAfterASuccess) {
  using namespace std::chrono;
  RepeatedFailure failure;
  const RepeatedFailure::Clock::time_point start;
  std::vector<int> told;
  for (seconds now{0}; now <= hours(1) + seconds(11); now += seconds(11)) {
    if (const int count = failure.OnFailure(start + now)) {
      told.push_back(count);
    }
  }
  EXPECT_EQ(told, (std::vector<int>{1, 328}));
  failure.Reset();
  EXPECT_EQ(failure.OnFailure(start + hours(2)), 1);
}

TEST(RestartLoopMonitorTest, ALoopIsToldAgainHourlyAndItsEndOnce) {
  using namespace std::chrono;
  RestartLoopMonitor monitor;
  RecordingLog log;
  SetEventLog(&log);
  const RestartLoopMonitor::Clock::time_point start;
  seconds now{0};
  for (; now <= hours(1) + seconds(40); now += seconds(20)) {
    monitor.OnRestart(start + now, "r");
  }
  EXPECT_EQ(log.lines, (Events{"1005 [3] [40] [r]", "1005 [183] [3640] [r]"}));
  // The server found running at every check: the loop is over after ten minutes, once.
  for (const seconds up = now; now - up < minutes(10); now += seconds(10)) {
    monitor.OnServerFound(start + now);
  }
  EXPECT_EQ(log.lines.size(), 2u) << "over too early";
  monitor.OnServerFound(start + now);
  monitor.OnServerFound(start + now + seconds(10));
  SetEventLog(nullptr);
  EXPECT_EQ(log.lines.back(), "1006 [183]");
  EXPECT_EQ(log.lines.size(), 3u);
}

TEST_F(WatchdogTest, StopBeforeAnyStartIsHarmless) {
  RequestWatchdogStop();
  platform_.processes = {{kWatched, 812}};
  platform_.stopAtPause = 0;
  EXPECT_EQ(RunUntilStopped(), (Events{"snapshot", "pause 10"}));
}

// Identifiers reach the command interpreter, so only digits are killed; digits keep
// their text in the command and convert as numbers for the wait.
TEST_F(WatchdogTest, OnlyDigitIdentifiersAreKilledAndWaitedFor) {
  platform_.processes = {{L"a.exe", 44}};
  platform_.survivors = {44};
  platform_.listing =
      "  TCP    0.0.0.0:4033    0.0.0.0:0    LISTENING    812\r\n"
      "  TCP    0.0.0.0:4044    0.0.0.0:0    LISTENING    1&del\n"
      "  TCP    0.0.0.0:4045    0.0.0.0:0    LISTENING    +5\n"
      "  TCP    0.0.0.0:4046    0.0.0.0:0    LISTENING \n"
      "  TCP    0.0.0.0:4523    0.0.0.0:0    LISTENING    0044\n"
      "  TCP    0.0.0.0:4524    0.0.0.0:0    LISTENING    4294967296\n";
  platform_.stopAtPause = 2;
  EXPECT_EQ(RunUntilStopped(),
            (Events{"snapshot", "capture netstat -ano", "run taskkill /F /pid 0044",
                    "run taskkill /F /pid 4294967296", "pause 1", "snapshot", "pause 10",
                    "run " + Restart(), "snapshot", "pause 10"}));
  EXPECT_EQ(echo_.str(),
            "command : taskkill /F /pid 0044\ncommand : taskkill /F /pid 4294967296\n"
            "command : " +
                Restart() + "\n");

  ScriptedPlatform noDigits;
  noDigits.listing = "  TCP    0.0.0.0:4033    0.0.0.0:0    LISTENING    812\r\n";
  noDigits.stopAtPause = 0;
  EXPECT_EQ(RunUntilStopped(noDigits), (Events{"snapshot", "capture netstat -ano",
                                               "run " + Restart(), "snapshot", "pause 10"}));
}

}  // namespace
