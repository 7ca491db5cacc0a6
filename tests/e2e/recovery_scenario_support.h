// The recovery scenario's pieces, shared by its test and its measurements: the stand-in
// installed as the watched service, its configuration, the port holders, the listing
// that the netstat stand-in prints, and the watchdog host with the stand-in first on
// its search path. Everything here runs inside the scenario's own Wine prefix.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "common/win_handles.h"
#include "service_test_util.h"
#include "win_test_util.h"

// A process that the test started; ended, if it still runs, when this goes.
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(ChildProcess&&) = default;
  ChildProcess& operator=(ChildProcess&&) = default;
  ~ChildProcess() { Kill(); }

  // `environment` is a block as CreateProcessW takes it, empty for the test's own;
  // standard output and error go to `outputPath`, or nowhere when it is empty.
  DWORD Start(const std::wstring& commandLine, const std::wstring& environment = std::wstring(),
              const std::wstring& outputPath = std::wstring(),
              const std::wstring& folder = std::wstring());
  DWORD Id() const { return id_; }
  bool WaitForExit(DWORD timeoutMs) const;
  bool Running() const { return process_ && !WaitForExit(0); }
  void Kill();

 private:
  UniqueKernelHandle process_;
  DWORD id_ = 0;
};

ULONGLONG NowMs();

bool ProcessListed(DWORD processId);

// The running watched service's process, or 0.
DWORD WatchedServiceProcess();

// A port that is free for TCP and UDP alike and is none of the built-in ports.
unsigned short PickFreePort();

void WriteWholeFile(const std::wstring& path, const std::string& bytes);

struct ListingRow {
  std::string proto;
  std::string local;
  std::string foreign;
  std::string state;
  DWORD pid;
};
// The rows in the layout of "netstat -ano", banner and column titles first, CR LF ended.
std::string NetstatListing(const std::vector<ListingRow>& rows);

// The watched service and what a run of the watchdog needs around it, torn down again
// in the destructor, whatever state the test left it in.
class RecoveryScenario {
 public:
  RecoveryScenario();
  ~RecoveryScenario();
  RecoveryScenario(const RecoveryScenario&) = delete;
  RecoveryScenario& operator=(const RecoveryScenario&) = delete;

  // Copies the stand-in under a folder whose name has a space, installs it as the
  // watched service, sets configPath and writes a server.conf naming configuredPort.
  // Empty on success, else what failed.
  std::string Install(unsigned short configuredPort);
  std::string StartService() const;
  // Starts a port holder on the port; 0 when it did not come up holding it.
  DWORD StartPortHolder(unsigned short port, ChildProcess& holder) const;
  void WriteListing(const std::vector<ListingRow>& rows) const;
  // Starts the host with the netstat stand-in first on its PATH; extra arguments are
  // passed on. Empty on success.
  std::string StartWatchdog(const std::wstring& arguments = std::wstring());
  // Install, StartService and StartWatchdog, one after the other.
  std::string InstallAndWatch(unsigned short configuredPort, const std::wstring& watchdogArguments);

  // Pauses or continues a host started with "-pausable"; true once it has done so.
  bool SetWatchdogPaused(bool paused) const;

  // "taskkill /F /pid N" of the running stand-in; its process is gone when this returns
  // true, at *deathMs.
  bool KillService(DWORD processId, ULONGLONG* deathMs) const;

  // What the host has written so far, and the "command : " lines among it.
  std::string Output() const;
  std::vector<std::string> EchoedCommands() const;

  const std::wstring& ImagePath() const { return imagePath_; }
  std::string DiscoveryEcho() const;
  const std::wstring& WorkFolder() const { return workFolder_; }

 private:
  std::wstring workFolder_;
  std::wstring imagePath_;
  std::wstring listingPath_;
  std::wstring outputPath_;
  bool installed_ = false;
  ChildProcess host_;
};
