// The bounded restart command on the real platform: what a hung command leaves behind,
// and what a command that ended in time does not take with it.
// First: winsock2.h has to come before windows.h, which may bring the older winsock.h.
#include "socket_handle.h"

#include <gtest/gtest.h>

#include <boost/thread/thread.hpp>

#include <string>
#include <utility>
#include <vector>

#include "common/narrow_text.h"
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

std::string HolderProgram() { return Narrow(ProgramFolder()) + "\\port_holder.exe"; }

std::string HolderCommand(const char* port, const std::wstring& pidFile) {
  return "\"" + HolderProgram() + "\" " + port + " " + Narrow(pidFile);
}

// Starts a port holder, or a copy of it, through the interpreter's "start", which does
// not wait for it; its PID, or 0 when it never ran.
DWORD StartHolder(WindowsWatchdogPlatform& platform, const std::string& program, const char* port,
                  const std::wstring& pidFile) {
  ::DeleteFileW(pidFile.c_str());
  const CommandOutcome started =
      platform.RunCommandWithin("start \"\" \"" + program + "\" " + port + " " + Narrow(pidFile),
                                boost::posix_time::seconds(30));
  return started.status == CommandOutcome::Status::kEnded ? HolderPid(pidFile) : 0;
}

TEST(RunCommandWithinTest, AHungCommandIsEndedWithWhatItStarted) {
  const std::wstring pidFile = TempFileName(L"hung");
  ::DeleteFileW(pidFile.c_str());
  WindowsWatchdogPlatform platform;
  const ULONGLONG began = ::GetTickCount64();
  EXPECT_EQ(
      platform.RunCommandWithin(HolderCommand("47101", pidFile), boost::posix_time::seconds(3))
          .status,
      CommandOutcome::Status::kTimedOut);
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
  WindowsWatchdogPlatform platform;
  const DWORD holder = StartHolder(platform, HolderProgram(), "47102", pidFile);
  ASSERT_NE(holder, 0u) << "the command never ran";
  EXPECT_FALSE(WaitForExit(holder, 1000)) << "ended with the command that started it";
  Kill(holder);
  ::DeleteFileW(pidFile.c_str());
}

// The interpreter's exit code is its last command's; one that cannot start says why.
TEST(RunCommandWithinTest, TheExitCodeOrWhyTheCommandCouldNotRunComesBack) {
  WindowsWatchdogPlatform platform;
  EXPECT_EQ(platform.RunCommandWithin("exit 3", boost::posix_time::seconds(30)).exitCode, 3u);
  wchar_t saved[MAX_PATH] = {};
  ::GetEnvironmentVariableW(L"COMSPEC", saved, MAX_PATH);
  ::SetEnvironmentVariableW(L"COMSPEC", L"C:\\nowhere\\cmd.exe");
  const CommandOutcome notRun = platform.RunCommandWithin("exit 0", boost::posix_time::seconds(30));
  ::SetEnvironmentVariableW(L"COMSPEC", saved);
  EXPECT_EQ(notRun.status, CommandOutcome::Status::kNotStarted);
  EXPECT_FALSE(notRun.error.empty());
}

// This test program stands in for the server: the registered path names its own file in
// other spellings, or a copy of it, which is another file.
TEST(InspectProcessTest, TheRegisteredFileIsKnownByItsIdentityNotItsSpelling) {
  wchar_t own[MAX_PATH] = {};
  wchar_t shortName[MAX_PATH] = {};
  ASSERT_GT(::GetModuleFileNameW(nullptr, own, MAX_PATH), 0u);
  ASSERT_GT(::GetShortPathNameW(own, shortName, MAX_PATH), 0u);
  const std::wstring copy = TempFileName(L"imp");
  ASSERT_TRUE(::CopyFileW(own, copy.c_str(), FALSE));
  using Match = ProcessImage::Match;
  const std::pair<std::wstring, Match> cases[] = {
      {own, Match::kRegisteredProgram},
      {L"\"" + Lowercase(own) + L"\" -service", Match::kRegisteredProgram},
      {shortName, Match::kRegisteredProgram},
      {copy, Match::kOtherProgram},
      {copy + L".missing", Match::kUnknown},
  };
  WindowsWatchdogPlatform platform;
  for (const auto& c : cases) {
    const ProcessImage image = platform.InspectProcess(::GetCurrentProcessId(), Narrow(c.first));
    EXPECT_EQ(image.match, c.second) << Narrow(c.first);
    EXPECT_EQ(Lowercase(ToWide(CP_THREAD_ACP, image.path)), Lowercase(own));
    EXPECT_NE(image.startTime, 0u);
  }
  // A process that has gone cannot be read, and so still counts.
  EXPECT_EQ(platform.InspectProcess(0xFFFFFFF0u, Narrow(own)).match, Match::kUnknown);
  ::DeleteFileW(copy.c_str());
}

// A program of the server's name that renamed its own file away cannot be opened by its
// image path. Beside a registered file that can be, its path decides: another one.
TEST(InspectProcessTest, AnImageThatCannotBeOpenedIsJudgedByItsPath) {
  const std::wstring folder = TempFileName(L"ren");
  ::DeleteFileW(folder.c_str());
  ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
  const std::wstring image = folder + L"\\voranexsv.exe";
  ASSERT_TRUE(::CopyFileW((ProgramFolder() + L"\\port_holder.exe").c_str(), image.c_str(), FALSE));
  const std::wstring pidFile = folder + L"\\pid";
  WindowsWatchdogPlatform platform;
  const DWORD renamer = StartHolder(platform, Narrow(image), "47103", pidFile);
  ASSERT_NE(renamer, 0u) << "the program never ran";
  const std::wstring moved = folder + L"\\moved.exe";
  ASSERT_TRUE(::MoveFileW(image.c_str(), moved.c_str())) << ::GetLastError();

  wchar_t own[MAX_PATH] = {};
  ASSERT_GT(::GetModuleFileNameW(nullptr, own, MAX_PATH), 0u);
  const ProcessImage seen = platform.InspectProcess(renamer, Narrow(own));
  EXPECT_EQ(seen.match, ProcessImage::Match::kOtherProgram) << seen.path;
  Kill(renamer);
  for (const std::wstring& file : {moved, pidFile}) {
    ::DeleteFileW(file.c_str());
  }
  ::RemoveDirectoryW(folder.c_str());
}

// The cycle pause on the real platform: a stop ends it at once, and so does the end of the
// process that it waits on. A creation time that is not the process's means that the one
// the check saw has gone, and its PID was given again.
TEST(PauseUntilExitTest, TheProcessesEndOrAStopEndsTheWait) {
  const std::wstring pidFile = TempFileName(L"wait");
  WindowsWatchdogPlatform platform;
  const DWORD pid = StartHolder(platform, HolderProgram(), "47104", pidFile);
  ASSERT_NE(pid, 0u) << "the program never ran";
  const ServerProcess holder{pid, platform.InspectProcess(pid, "").startTime};
  ASSERT_NE(holder.startTime, 0u);
  const boost::posix_time::time_duration pause = boost::posix_time::seconds(60);
  EXPECT_TRUE(platform.PauseUntilExit({pid, holder.startTime + 1}, pause));

  bool ended = false;
  bool interrupted = false;
  const auto waitInThread = [&platform, &holder, &pause, &ended, &interrupted] {
    return boost::thread([&platform, &holder, &pause, &ended, &interrupted] {
      try {
        ended = platform.PauseUntilExit(holder, pause);
      } catch (const boost::thread_interrupted&) {
        interrupted = true;
      }
    });
  };
  boost::thread stopped = waitInThread();
  stopped.interrupt();
  EXPECT_TRUE(stopped.timed_join(boost::posix_time::seconds(20))) << "a stop did not end the wait";
  stopped.join();
  EXPECT_TRUE(interrupted);

  interrupted = false;
  boost::thread woken = waitInThread();
  Kill(pid);
  EXPECT_TRUE(woken.timed_join(boost::posix_time::seconds(20))) << "the end did not wake the wait";
  woken.join();
  EXPECT_TRUE(ended);
  EXPECT_FALSE(interrupted);
  ::DeleteFileW(pidFile.c_str());
}

// Both tables are read, with each port in host order. Wine 8 names no owner (0), Wine 10
// and Windows this process.
TEST(ReadListenersTest, AListeningPortIsListedWithItsOwner) {
  HeldPort held;
  ASSERT_EQ(HoldPort(0, held), 0);
  sockaddr_in bound = {};
  int size = sizeof(bound);
  ASSERT_EQ(::getsockname(held.tcp.Get(), reinterpret_cast<sockaddr*>(&bound), &size), 0);
  const std::uint16_t port = ntohs(bound.sin_port);
  WindowsWatchdogPlatform platform;
  std::vector<Listener> listeners;
  ASSERT_TRUE(platform.ReadListeners(listeners));
  bool found = false;
  for (const Listener& listener : listeners) {
    if (listener.port == port) {
      found = true;
      EXPECT_TRUE(listener.ownerPid == 0 || listener.ownerPid == ::GetCurrentProcessId())
          << listener.ownerPid;
    }
  }
  EXPECT_TRUE(found) << "port " << port << " among " << listeners.size() << " listeners";
}

}  // namespace
