// The bounded restart command on the real platform: what a hung command leaves behind,
// and what a command that ended in time does not take with it.
#include <gtest/gtest.h>

#include <string>

#include "service_test_util.h"
#include "watchdog/windows_platform.h"
#include "win_test_util.h"

namespace {

// The PID that the port holder wrote once it ran, or 0 when it never did.
DWORD HolderPid(const std::wstring& pidFile) {
  DWORD pid = 0;
  WaitUntil(
      [&] {
        const std::string text = ReadWholeFile(pidFile);
        pid = text.empty() ? 0 : static_cast<DWORD>(std::stoul(text));
        return pid != 0;
      },
      20000);
  return pid;
}

std::string HolderCommand(const char* port, const std::wstring& pidFile) {
  return "\"" + Narrow(ProgramFolder()) + "\\port_holder.exe\" " + port + " " + Narrow(pidFile);
}

TEST(RunCommandWithinTest, AHungCommandIsEndedWithWhatItStarted) {
  const std::wstring pidFile = TempFileName(L"hung");
  ::DeleteFileW(pidFile.c_str());
  WindowsWatchdogPlatform platform;
  const ULONGLONG began = ::GetTickCount64();
  EXPECT_FALSE(
      platform.RunCommandWithin(HolderCommand("47101", pidFile), boost::posix_time::seconds(3)));
  const ULONGLONG waited = ::GetTickCount64() - began;
  EXPECT_GE(waited, 2900u);
  EXPECT_LT(waited, 20000u);
  const DWORD holder = HolderPid(pidFile);
  ASSERT_NE(holder, 0u) << "the command never ran";
  EXPECT_TRUE(WaitForExit(holder, 10000)) << "the command's child outlived it";
  Kill(holder);
  ::DeleteFileW(pidFile.c_str());
}

TEST(RunCommandWithinTest, ACommandThatEndsInTimeLeavesItsChildrenAlone) {
  const std::wstring pidFile = TempFileName(L"kept");
  ::DeleteFileW(pidFile.c_str());
  WindowsWatchdogPlatform platform;
  EXPECT_TRUE(platform.RunCommandWithin("start \"\" " + HolderCommand("47102", pidFile),
                                        boost::posix_time::seconds(30)));
  const DWORD holder = HolderPid(pidFile);
  ASSERT_NE(holder, 0u) << "the command never ran";
  EXPECT_FALSE(WaitForExit(holder, 1000)) << "ended with the command that started it";
  Kill(holder);
  ::DeleteFileW(pidFile.c_str());
}

}  // namespace
