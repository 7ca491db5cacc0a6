// Measures, under Wine, the watchdog's CPU share in steady state and the time from the
// stand-in's death to its new process. Not a ctest test: run through the
// recovery_measurements target, which gives it a prefix of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "recovery_scenario_support.h"
#include "win_test_util.h"

namespace {

constexpr DWORD kCpuWindowSeconds = 60;
constexpr int kRuns = 5;

// A recovery comes no sooner than ten seconds after the last one ended, so killing at
// these offsets after one spreads the wait for that pace evenly over its range.
constexpr DWORD kKillOffsetsMs[kRuns] = {1000, 3000, 5000, 7000, 9000};

struct Restart {
  DWORD newProcess = 0;
  ULONGLONG deathToNewMs = 0;
  ULONGLONG deathToHolderGoneMs = 0;
};

Restart KillAndWaitForRestart(RecoveryScenario& scenario, unsigned short port) {
  Restart restart;
  ChildProcess holder;
  const DWORD holderId = scenario.StartPortHolder(port, holder);
  EXPECT_NE(holderId, 0u);
  scenario.WriteListing(
      {{"TCP", "0.0.0.0:" + std::to_string(port), "0.0.0.0:0", "LISTENING", holderId}});
  const DWORD original = WatchedServiceProcess();
  ULONGLONG deathMs = 0;
  if (!scenario.KillService(original, &deathMs)) {
    ADD_FAILURE() << "cannot kill " << original;
    return restart;
  }
  bool holderGone = false;
  // The SCM's word, not the process list: "voranexsv.exe -start", which asks the SCM
  // for the restart, has the same image name and comes first.
  const bool restarted = WaitUntil(
      [&] {
        if (!holderGone && holder.WaitForExit(0)) {
          holderGone = true;
          restart.deathToHolderGoneMs = NowMs() - deathMs;
        }
        restart.newProcess = WatchedServiceProcess();
        return restart.newProcess != 0 && restart.newProcess != original;
      },
      60000);
  restart.deathToNewMs = NowMs() - deathMs;
  EXPECT_TRUE(restarted) << "no new process within a minute";
  EXPECT_TRUE(ProcessListed(restart.newProcess));
  return restart;
}

TEST(RecoveryMeasurement, SteadyStateCpuAndTimeToRestart) {
  RecoveryScenario scenario;
  const unsigned short port = PickFreePort();
  ASSERT_NE(port, 0);
  scenario.WriteListing({});
  const std::wstring cpuFile = scenario.WorkFolder() + L"\\cpu.txt";
  ASSERT_EQ(scenario.InstallAndWatch(
                port, L"-cpu " + std::to_wstring(kCpuWindowSeconds) + L" \"" + cpuFile + L"\""),
            "");

  // Polling the file meanwhile would load the same two cores, and the Wine server.
  ::Sleep((kCpuWindowSeconds + 5) * 1000);
  std::string cpu;
  ASSERT_TRUE(WaitUntil(
      [&] {
        cpu = ReadWholeFile(cpuFile);
        return !cpu.empty();
      },
      (kCpuWindowSeconds + 60) * 1000));
  unsigned long long cpuMs = 0;
  unsigned long long wallMs = 0;
  std::istringstream(cpu) >> cpuMs >> wallMs;
  ASSERT_GT(wallMs, 0u) << cpu;
  std::printf("steady state: %llu ms CPU in %llu ms, %.4f%% of one core\n", cpuMs, wallMs,
              100.0 * static_cast<double>(cpuMs) / static_cast<double>(wallMs));
  EXPECT_EQ(scenario.EchoedCommands(), std::vector<std::string>{});

  // The first restart only sets the phase of the watchdog's checks.
  KillAndWaitForRestart(scenario, port);
  std::vector<ULONGLONG> times;
  for (int run = 0; run < kRuns; ++run) {
    ::Sleep(kKillOffsetsMs[run]);
    const Restart restart = KillAndWaitForRestart(scenario, port);
    std::printf(
        "run %d: killed %lu ms after the last restart; holder gone after %llu ms, "
        "new process after %llu ms\n",
        run + 1, kKillOffsetsMs[run], restart.deathToHolderGoneMs, restart.deathToNewMs);
    times.push_back(restart.deathToNewMs);
  }
  std::sort(times.begin(), times.end());
  std::printf("death to new process: median %llu ms, min %llu ms, max %llu ms\n", times[kRuns / 2],
              times.front(), times.back());
}

}  // namespace
