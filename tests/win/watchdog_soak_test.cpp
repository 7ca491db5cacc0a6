// Two hundred recovery cycles against the real process list and real commands, with
// only the pauses cut short, must not leave the process's handle count growing.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <boost/thread/thread.hpp>

#include "config/watched_service.h"
#include "watchdog/watchdog.h"
#include "watchdog/windows_platform.h"
#include "win_test_util.h"

namespace {

constexpr int kWarmUpCycles = 5;
// Counted in two halves: a leak grows both, a handle that the runtime or Wine opens once
// along the way grows one.
constexpr int kHalfCycles = 100;
// No Windows or Wine process carries an identifier this large, so each kill command
// runs for real and finds nothing, and the wait pass really walks a snapshot for it.
const char kAbsentPid[] = "4000000000";

// Wine answers GetProcessHandleCount with 0, so the handles are counted in the system's
// handle table, which Wine keeps for real, as Windows does.
struct HandleTableEntry {
  PVOID object;
  ULONG_PTR processId;
  ULONG_PTR handle;
  ULONG grantedAccess;
  USHORT creatorBackTraceIndex;
  USHORT objectTypeIndex;
  ULONG attributes;
  ULONG reserved;
};
struct HandleTable {
  ULONG_PTR count;
  ULONG_PTR reserved;
  HandleTableEntry entries[1];
};
constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004L);
using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

long CountOwnHandles() {
  const auto query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) {
    return -1;
  }
  std::vector<char> buffer(1 << 20);
  for (;;) {
    ULONG length = 0;
    const LONG status = query(kSystemExtendedHandleInformation, buffer.data(),
                              static_cast<ULONG>(buffer.size()), &length);
    if (status == kInfoLengthMismatch) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (status != 0) {
      return -1;
    }
    break;
  }
  const HandleTable* table = reinterpret_cast<const HandleTable*>(buffer.data());
  long own = 0;
  for (ULONG_PTR i = 0; i < table->count; ++i) {
    if (table->entries[i].processId == ::GetCurrentProcessId()) {
      ++own;
    }
  }
  return own;
}

// The real platform with millisecond pauses. After the restart of chosen cycles it
// holds the watchdog in its cycle pause until the test lets it go on, so that the test
// counts handles at the same point of two different cycles.
class ShortPausePlatform : public WindowsWatchdogPlatform {
 public:
  // The captures that lacked the listing's owner, as they came back; the watchdog then
  // restarts without a kill, as it should.
  std::vector<std::string> missedCaptures;

  bool CaptureOutput(const char* command, std::string& output) override {
    const bool started = WindowsWatchdogPlatform::CaptureOutput(command, output);
    if (output.find(kAbsentPid) == std::string::npos) {
      missedCaptures.push_back(started ? "[" + output + "]" : "(not started)");
    }
    return started;
  }

  CommandOutcome RunCommandWithin(const std::string& command,
                                  const boost::posix_time::time_duration& limit) override {
    const CommandOutcome outcome = WindowsWatchdogPlatform::RunCommandWithin(command, limit);
    ++restarts_;
    return outcome;
  }

  // Time passes at the pauses' nominal lengths, so that the ten seconds that the watchdog
  // keeps between two recoveries, which it reads from this clock, take milliseconds too.
  std::chrono::steady_clock::time_point Now() override {
    return std::chrono::steady_clock::time_point() + elapsed_;
  }

  void Pause(const boost::posix_time::time_duration& duration) override {
    elapsed_ += std::chrono::microseconds(duration.total_microseconds());
    if (!exitWatched_) {
      exitWatched_ = true;
      boost::this_thread::at_thread_exit([this] { ended_ = true; });
    }
    while (restarts_ == holdAfter_) {
      held_ = true;
      boost::this_thread::sleep(boost::posix_time::milliseconds(1));
    }
    held_ = false;
    WindowsWatchdogPlatform::Pause(boost::posix_time::milliseconds(1));
  }

  // Lets the watchdog go on until the restart of cycle `cycles` and waits until it is
  // held there; false when it stops making progress for a minute.
  bool RunUntilCycle(int cycles) {
    holdAfter_ = cycles;
    int seen = restarts_;
    ULONGLONG lastProgress = ::GetTickCount64();
    while (!(held_ && restarts_ == cycles)) {
      if (restarts_ != seen) {
        seen = restarts_;
        lastProgress = ::GetTickCount64();
      } else if (::GetTickCount64() - lastProgress > 60000 || ended_) {
        return false;
      }
      ::Sleep(10);
    }
    return true;
  }

  bool WaitForEnd() {
    return WaitUntil([this] { return ended_.load(); }, 10000);
  }

 private:
  std::atomic<int> restarts_{0};
  std::atomic<int> holdAfter_{-1};
  std::atomic<bool> held_{false};
  std::atomic<bool> ended_{false};
  bool exitWatched_ = false;
  // Only the watchdog thread reads and writes it.
  std::chrono::microseconds elapsed_{0};
};

// While it lives, what child processes write goes to NUL, and the echo to a string.
class QuietOutput {
 public:
  QuietOutput() {
    std::fflush(stdout);
    std::fflush(stderr);
    savedOut_ = ::_dup(1);
    savedErr_ = ::_dup(2);
    const int nowhere = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(::CreateFileW(
                                              L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)),
                                          _O_WRONLY);
    ::_dup2(nowhere, 1);
    ::_dup2(nowhere, 2);
    ::_close(nowhere);
    savedCout_ = std::cout.rdbuf(echo_.rdbuf());
  }
  ~QuietOutput() {
    std::cout.rdbuf(savedCout_);
    ::_dup2(savedOut_, 1);
    ::_dup2(savedErr_, 2);
    ::_close(savedOut_);
    ::_close(savedErr_);
  }
  std::string Echo() const { return echo_.str(); }

 private:
  int savedOut_;
  int savedErr_;
  std::streambuf* savedCout_;
  std::ostringstream echo_;
};

int CountOccurrences(const std::string& text, const std::string& what) {
  int count = 0;
  for (std::string::size_type at = text.find(what); at != std::string::npos;
       at = text.find(what, at + what.size())) {
    ++count;
  }
  return count;
}

TEST(WatchdogSoak, TwoHundredRecoveryCyclesLeaveTheHandleCountFlat) {
  {
    // The counter must see a handle come and go, or a flat count would prove nothing.
    const long before = CountOwnHandles();
    const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const long during = CountOwnHandles();
    ::CloseHandle(event);
    ASSERT_GT(before, 0);
    ASSERT_EQ(during, before + 1);
  }

  const std::wstring listing = TempFileName(L"lst");
  {
    std::FILE* file = nullptr;
    ASSERT_EQ(::_wfopen_s(&file, listing.c_str(), L"wb"), 0);
    std::fprintf(file,
                 "\r\nActive Connections\r\n\r\n"
                 "  Proto  Local Address          Foreign Address        State           PID\r\n"
                 "  TCP    0.0.0.0:4033           0.0.0.0:0              LISTENING       %s\r\n",
                 kAbsentPid);
    std::fclose(file);
  }
  wchar_t path[32767] = {};
  ::GetEnvironmentVariableW(L"PATH", path, 32767);
  const std::wstring savedPath = path;
  ::SetEnvironmentVariableW(L"PATH", (ProgramFolder() + L"\\netstat-standin;" + savedPath).c_str());
  ::SetEnvironmentVariableW(L"NETSTAT_STANDIN_LISTING", listing.c_str());
  // The stand-in asked to start a service that is not installed here returns at once.
  g_watchedProgramPath = Narrow(ProgramFolder()) + "\\voranexsv.exe";
  g_configDirectory.clear();

  ShortPausePlatform platform;
  // After the warm-up, and after each half.
  long counts[3] = {};
  int reached = 0;
  ULONGLONG soakMs = 0;
  std::string echo;
  {
    const QuietOutput quiet;
    SetWatchdogPlatform(&platform);
    StartWatchdogThread();
    // The first cycles make what the process keeps for good: the C runtime's pipe
    // table, Boost's thread data, the console.
    const ULONGLONG begin = ::GetTickCount64();
    for (; reached < 3 && platform.RunUntilCycle(kWarmUpCycles + reached * kHalfCycles);
         ++reached) {
      counts[reached] = CountOwnHandles();
    }
    soakMs = ::GetTickCount64() - begin;
    RequestWatchdogStop();
    platform.WaitForEnd();
    echo = quiet.Echo();
  }
  SetWatchdogPlatform(nullptr);
  ::SetEnvironmentVariableW(L"PATH", savedPath.c_str());
  ::DeleteFileW(listing.c_str());

  ASSERT_EQ(reached, 3) << "the watchdog stopped making progress; it wrote:\n" << echo;
  const int cycles = kWarmUpCycles + 2 * kHalfCycles;
  std::printf("%d cycles in %llu ms; handles %ld, %ld, %ld\n", cycles, soakMs, counts[0], counts[1],
              counts[2]);
  EXPECT_LE(std::min(counts[1] - counts[0], counts[2] - counts[1]), 0L)
      << "the handle count grew in both halves";
  // Every cycle restarts; it kills first when its capture showed the owner.
  for (const std::string& missed : platform.missedCaptures) {
    std::printf("a capture without the owner: %s\n", missed.c_str());
  }
  EXPECT_EQ(CountOccurrences(echo, std::string("command : taskkill /F /pid ") + kAbsentPid),
            cycles - static_cast<int>(platform.missedCaptures.size()));
  EXPECT_EQ(CountOccurrences(echo, "command : \"" + g_watchedProgramPath + "\" -start"), cycles);
}

}  // namespace
