// What the watchdog needs from the operating system, behind one seam, so that tests
// can drive whole recovery cycles without processes, commands or ten-second waits.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>

struct ProcessEntry {
  std::wstring exeFile;
  std::uint32_t processId = 0;
};

// One snapshot of the process list; destroying it closes it.
class ProcessSnapshot {
 public:
  virtual ~ProcessSnapshot() = default;
  virtual bool First(ProcessEntry& entry) = 0;
  virtual bool Next(ProcessEntry& entry) = 0;
};

class WatchdogPlatform {
 public:
  virtual ~WatchdogPlatform() = default;

  virtual std::unique_ptr<ProcessSnapshot> SnapshotProcesses() = 0;
  // Appends what the command prints to output; false when it could not be started.
  virtual bool CaptureOutput(const char* command, std::string& output) = 0;
  // Runs a command line through the command interpreter and waits for it to end.
  virtual void RunCommand(const std::string& command) = 0;
  // Runs a command line as RunCommand does, but waits for it at most `limit`: then it ends
  // the command interpreter and whatever it started that still runs, and returns false.
  // Platforms whose commands always end may keep this default.
  virtual bool RunCommandWithin(const std::string& command,
                                const boost::posix_time::time_duration& limit) {
    static_cast<void>(limit);
    RunCommand(command);
    return true;
  }
  // The watchdog's clock, which tests put under their own control.
  virtual std::chrono::steady_clock::time_point Now() { return std::chrono::steady_clock::now(); }
  // An interruption point: a stop request ends it at once with thread_interrupted.
  virtual void Pause(const boost::posix_time::time_duration& duration) = 0;
};
