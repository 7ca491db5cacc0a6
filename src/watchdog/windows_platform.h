// The watchdog's platform on Windows, open for tests that keep the real process list
// and commands but shorten the pauses.
#pragma once

#include "watchdog/watchdog_platform.h"

class WindowsWatchdogPlatform : public WatchdogPlatform {
 public:
  std::unique_ptr<ProcessSnapshot> SnapshotProcesses() override;
  bool CaptureOutput(const char* command, std::string& output) override;
  void RunCommand(const std::string& command) override;
  CommandOutcome RunCommandWithin(const std::string& command,
                                  const boost::posix_time::time_duration& limit) override;
  ProcessImage InspectProcess(std::uint32_t processId, const std::string& imagePath) override;
  std::uint32_t WatchedServiceProcessId() override;
  bool ReadImagePath(std::string& imagePath) override;
  bool ReadListeners(std::vector<Listener>& listeners) override;
  void Pause(const boost::posix_time::time_duration& duration) override;
  bool PauseUntilExit(const ServerProcess& server,
                      const boost::posix_time::time_duration& duration) override;
};
