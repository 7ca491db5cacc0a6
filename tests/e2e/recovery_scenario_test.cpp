// The whole recovery under Wine: the stand-in runs as the watched service, is killed,
// and the watchdog frees the configured port and brings the service back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/watched_program.h"
#include "recovery_scenario_support.h"

namespace {

// A whole cycle of a watchdog that finds the stand-in, and a little more; the upgrade
// scenario watches three. The holder must be gone within one cycle pause plus the time
// that netstat and taskkill take.
constexpr DWORD kQuietMs = 12000;
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

// The server's end wakes the watchdog. The host's first check comes after its discovery
// echo, so a server killed a second after the echo was found by that check, and a watchdog
// that slept out its pause could not start it again within ten seconds of the echo. The
// recovery itself takes a second or two.
TEST(RecoveryScenario, AServerKilledJustAfterACheckIsBackBeforeThePauseWouldEnd) {
  RecoveryScenario scenario;
  const unsigned short configured = PickFreePort();
  ASSERT_NE(configured, 0);
  ASSERT_EQ(scenario.InstallAndWatch(configured, L""), "");
  const ULONGLONG echoed = NowMs();
  const DWORD original = WatchedServiceProcess();
  ::Sleep(1000);
  ULONGLONG deathMs = 0;
  ASSERT_TRUE(scenario.KillService(original, &deathMs));
  const ULONGLONG pauseEnd = echoed + 10000;
  DWORD restarted = 0;
  EXPECT_TRUE(WaitUntil(
      [&] {
        restarted = WatchedServiceProcess();
        return restarted != 0 && restarted != original;
      },
      static_cast<DWORD>(pauseEnd > NowMs() ? pauseEnd - NowMs() : 0)))
      << "not back " << NowMs() - deathMs << " ms after the kill";
}

// An upgrade into another folder, the old program kept for a rollback: with the watchdog
// paused, the old server is stopped, ImagePath names the new file and the new server is
// started. Continued, the watchdog must take the new server for the server, though the
// file that it discovered at its start is the old one and netstat shows the new server on
// its port: over three cycles it kills nothing and starts nothing.
TEST(RecoveryScenario, AServerUpgradedIntoAnotherFolderIsLeftAlone) {
  RecoveryScenario scenario;
  const unsigned short configured = PickFreePort();
  ASSERT_NE(configured, 0);
  ASSERT_EQ(scenario.InstallAndWatch(configured, L"-pausable"), "");
  ASSERT_TRUE(scenario.SetWatchdogPaused(true));

  ASSERT_TRUE(SendControl(kWatchedServiceName, SERVICE_CONTROL_STOP));
  ASSERT_TRUE(WaitForState(kWatchedServiceName, SERVICE_STOPPED, kRestartMs));
  const std::wstring folder = L"C:\\Program Files\\VORANEX QZ 2";
  const std::wstring upgraded = folder + L"\\voranexsv.exe";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  ASSERT_TRUE(::CopyFileW((ProgramFolder() + L"\\voranexsv.exe").c_str(), upgraded.c_str(), FALSE));
  ASSERT_TRUE(SetServiceCommandLine(kWatchedServiceName, L"\"" + upgraded + L"\""));
  ASSERT_EQ(scenario.StartService(), "");
  const DWORD server = WatchedServiceProcess();
  scenario.WriteListing({{"TCP", "0.0.0.0:4033", "0.0.0.0:0", "LISTENING", server}});
  ASSERT_TRUE(scenario.SetWatchdogPaused(false));

  EXPECT_FALSE(WaitUntil(
      [&] { return !scenario.EchoedCommands().empty() || WatchedServiceProcess() != server; },
      32000))
      << "the watchdog wrote:\n"
      << scenario.Output();
  EXPECT_TRUE(ProcessListed(server));
}

}  // namespace
