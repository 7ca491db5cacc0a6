// What the watchdog needs from the operating system, behind one seam, so that tests
// can drive whole recovery cycles without processes, commands or ten-second waits.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <boost/date_time/posix_time/posix_time_types.hpp>

struct ProcessEntry {
  std::wstring exeFile;
  std::uint32_t processId = 0;
  std::uint32_t parentProcessId = 0;
};

// One TCP socket that listens, with the process that owns it; 0 where the system cannot
// tell the owner.
struct Listener {
  std::uint16_t port = 0;
  std::uint32_t ownerPid = 0;
};

// What a process of the watched image name runs, beside a registered command line.
struct ProcessImage {
  enum class Match { kUnknown, kRegisteredProgram, kOtherProgram };
  // Unknown where the process or the registered file could not be read: such a process
  // still counts as the server.
  Match match = Match::kUnknown;
  std::string path;             // the process's executable, in the ANSI code page
  std::string registeredPath;   // the executable that the command line names, likewise
  std::uint64_t startTime = 0;  // the process's creation time, 0 where unknown
};

// One server process, as the watchdog found it: a PID alone may be reused by another.
struct ServerProcess {
  std::uint32_t processId = 0;
  std::uint64_t startTime = 0;  // its creation time, 0 where unknown

  bool operator==(const ServerProcess& other) const {
    return processId == other.processId && startTime == other.startTime;
  }
  bool operator!=(const ServerProcess& other) const { return !(*this == other); }
};

// How a bounded command went.
struct CommandOutcome {
  enum class Status { kEnded, kTimedOut, kNotStarted };
  Status status = Status::kEnded;
  std::uint32_t exitCode = 0;  // the command interpreter's, which is its last command's
  std::string error;           // the system's text of why it could not be started
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
  // the command interpreter and whatever it started that still runs, and says so.
  // Platforms whose commands always end, and end well, may keep this default.
  virtual CommandOutcome RunCommandWithin(const std::string& command,
                                          const boost::posix_time::time_duration& limit) {
    static_cast<void>(limit);
    RunCommand(command);
    return CommandOutcome();
  }
  // Which program a process runs, beside the executable that `imagePath` (an ImagePath
  // text) names. Platforms that cannot tell keep this default, and every process of the
  // watched image name counts as the server.
  virtual ProcessImage InspectProcess(std::uint32_t processId, const std::string& imagePath) {
    static_cast<void>(processId);
    static_cast<void>(imagePath);
    return ProcessImage();
  }
  // The process that the SCM runs for the watched service while it runs or starts; 0 when
  // there is none, or the SCM cannot be asked.
  virtual std::uint32_t WatchedServiceProcessId() { return 0; }
  // The watched service's ImagePath as the registry holds it now; false where it cannot
  // be read.
  virtual bool ReadImagePath(std::string& imagePath) {
    static_cast<void>(imagePath);
    return false;
  }
  // Appends every TCP listener, IPv4 and IPv6; false when a table could not be read.
  // Platforms that cannot list them keep this default, and their server is never judged.
  virtual bool ReadListeners(std::vector<Listener>& listeners) {
    static_cast<void>(listeners);
    return false;
  }
  // The watchdog's clock, which tests put under their own control.
  virtual std::chrono::steady_clock::time_point Now() { return std::chrono::steady_clock::now(); }
  // An interruption point: a stop request ends it at once with thread_interrupted.
  virtual void Pause(const boost::posix_time::time_duration& duration) = 0;
  // Pause, which also ends when the server process ends: true when it has ended, or had
  // ended already. A process that cannot be watched, or whose creation time is unknown,
  // gets the whole pause. Platforms that cannot wait on a process keep this default.
  virtual bool PauseUntilExit(const ServerProcess& server,
                              const boost::posix_time::time_duration& duration) {
    static_cast<void>(server);
    Pause(duration);
    return false;
  }
};
