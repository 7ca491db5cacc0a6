// The service's record of what it did, for the Windows Event Log, behind a seam: the
// watchdog and the portable tests see only this; the Windows writer lives beside it.
#pragma once

#include <string>
#include <vector>

// The event IDs as Event Viewer shows them; the message table numbers its texts the same.
enum class ServiceEvent {
  kPortOwnerKilled = 1000,
  kServerRestarted = 1001,
  kServerKeyMissing = 1002,
  kWatchdogNotStarted = 1003,
  kRestartTimedOut = 1004,
  kRestartLoop = 1005,
  kRestartLoopOver = 1006,
  kWeakPermissions = 1007,
  kImpostorProcess = 1008,
  kRestartFailed = 1009,
  kRestartNotRun = 1010,
  kServerNotListening = 1011,
  kServerListens = 1012,
  kLauncherRegistered = 1013,
};

class EventLog {
 public:
  virtual ~EventLog() = default;
  // Never fails its caller: what cannot be written is dropped. The texts are the event's
  // insertion strings, %1 first.
  virtual void Write(ServiceEvent event, const std::vector<std::string>& texts) = 0;
};

// Where events go from now on; nullptr, as at start and in the console run, drops them.
void SetEventLog(EventLog* log);

// Writes the event, whose one insertion string is the text, to the current log, if any.
void WriteEvent(ServiceEvent event, const std::string& text);
void WriteEvent(ServiceEvent event, const std::vector<std::string>& texts);
