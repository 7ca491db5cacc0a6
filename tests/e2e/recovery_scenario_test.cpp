// The whole recovery under Wine: the stand-in runs as the watched service, is killed,
// and the watchdog frees the configured port and brings the service back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/watched_program.h"
#include "recovery_scenario_support.h"

namespace {

// The watchdog looks every ten seconds; the holder must be gone within one such wait
// plus the time that netstat and taskkill take.
constexpr DWORD kQuietMs = 25000;
constexpr DWORD kHolderGoneMs = 12000;
constexpr DWORD kRestartMs = 30000;

TEST(RecoveryScenario, KilledServiceIsRestartedAfterItsPortIsFreed) {
  RecoveryScenario scenario;
  const unsigned short configured = PickFreePort();
  unsigned short unwatched = PickFreePort();
  for (int retry = 0; retry < 5 && unwatched == configured; ++retry) {
    unwatched = PickFreePort();
  }
  ASSERT_NE(configured, 0);
  ASSERT_NE(unwatched, 0);
  ASSERT_NE(configured, unwatched);
  ASSERT_EQ(scenario.Install(configured), "");
  ASSERT_EQ(scenario.StartService(), "");
  const DWORD original = WatchedServiceProcess();

  // The holder takes the configured port; the bystander holds a port the watched
  // program does not need and must survive.
  ChildProcess holder;
  ChildProcess bystander;
  const DWORD holderId = scenario.StartPortHolder(configured, holder);
  const DWORD bystanderId = scenario.StartPortHolder(unwatched, bystander);
  ASSERT_NE(holderId, 0u);
  ASSERT_NE(bystanderId, 0u);
  const std::string port = std::to_string(configured);
  const std::string other = std::to_string(unwatched);
  scenario.WriteListing({
      {"TCP", "0.0.0.0:" + port, "0.0.0.0:0", "LISTENING", holderId},
      {"TCP", "0.0.0.0:" + other, "0.0.0.0:0", "LISTENING", bystanderId},
      {"TCP", "[::]:" + port, "[::]:0", "LISTENING", holderId},
      {"UDP", "0.0.0.0:" + port, "*:*", "", holderId},
      {"UDP", "0.0.0.0:" + other, "*:*", "", bystanderId},
  });
  ASSERT_EQ(scenario.StartWatchdog(), "");

  {
    SCOPED_TRACE("while the stand-in runs");
    ::Sleep(kQuietMs);
    EXPECT_EQ(scenario.Output(), scenario.DiscoveryEcho());
    EXPECT_EQ(WatchedServiceProcess(), original);
    EXPECT_TRUE(holder.Running());
  }

  ULONGLONG deathMs = 0;
  ASSERT_TRUE(scenario.KillService(original, &deathMs));
  {
    SCOPED_TRACE("after the stand-in was killed");
    EXPECT_TRUE(holder.WaitForExit(kHolderGoneMs))
        << "the holder still runs " << NowMs() - deathMs << " ms after the stand-in died";
    EXPECT_FALSE(ProcessListed(holderId));

    DWORD restarted = 0;
    EXPECT_TRUE(WaitUntil(
        [&] {
          restarted = WatchedServiceProcess();
          return restarted != 0 && restarted != original;
        },
        kRestartMs))
        << "the service is not running in a new process";
    // Only the new one, once "voranexsv.exe -start", which asked the SCM for it, has ended.
    EXPECT_TRUE(
        WaitUntil([&] { return ProcessIds(kWatchedImageName) == std::vector<DWORD>{restarted}; },
                  kRestartMs));

    const std::vector<std::string> expected = {
        "command : taskkill /F /pid " + std::to_string(holderId),
        "command : \"" + Narrow(scenario.ImagePath()) + "\" -start",
    };
    WaitUntil([&] { return scenario.EchoedCommands().size() >= expected.size(); }, kRestartMs);
    EXPECT_EQ(scenario.EchoedCommands(), expected) << "the watchdog wrote:\n" << scenario.Output();
    EXPECT_TRUE(bystander.Running());
  }
}

}  // namespace
