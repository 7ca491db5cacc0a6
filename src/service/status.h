// voranexmg -status: what the watchdog would see now, for an administrator and for a
// monitoring system. It only reads: the rules here turn what the seams give into a level,
// which is also the exit code, and lines in the user interface's language.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class WatchdogPlatform;

// The monitoring-plugin levels, whose numbers are the exit codes.
enum class StatusLevel { kOk = 0, kWarning = 1, kCritical = 2, kUnknown = 3 };

// The report's texts, numbered as the message table numbers them.
enum class StatusText : std::uint32_t {
  kReasonListens = 2000,
  kReasonUnnamedListener = 2001,
  kReasonStarting = 2002,
  kReasonUnjudged = 2003,
  kFindingDeaf = 2004,
  kReasonPaused = 2005,
  kFindingImpostor = 2006,
  kFindingWeak = 2007,
  kReasonNoServer = 2008,
  kReasonNotInstalled = 2009,
  kReasonNotRunning = 2010,
  kReasonScmUnreadable = 2011,
  kReasonRegistryUnreadable = 2012,
  kReasonWatchedNotInstalled = 2013,
  kUnjudgedNoTables = 2014,
  kUnjudgedAgeUnknown = 2015,
  // 2020 + the SCM's state, SERVICE_STOPPED (1) to SERVICE_PAUSED (7).
  kStateBase = 2020,
  kStateNotInstalled = 2028,
  kUnknownToThisUser = 2029,
  kUnreadable = 2030,
  kLineOwn = 2031,
  kLineOwnAbsent = 2032,
  kLineWatchedHeading = 2033,
  kLineCommand = 2034,
  kLineExecutable = 2035,
  kLineConfig = 2036,
  kLineService = 2037,
  kLineServiceAbsent = 2038,
  kLineServerProcess = 2039,
  kLineOtherProcess = 2040,
  kLineNoProcess = 2041,
  kConfigRead = 2042,
  kConfigMissing = 2043,
  kConfigUnreadable = 2044,
  kConfigNoFolder = 2045,
  kLinePortsHeading = 2046,
  kLineListener = 2047,
  kLineUnnamedListener = 2048,
  kLineFreePorts = 2049,
  kLineNoTables = 2050,
  kRoleServer = 2051,
  kRoleChild = 2052,
  kRoleRegisteredProgram = 2053,
  kRoleOtherProgram = 2054,
  kLineFindingsHeading = 2055,
  kLineNone = 2056,
};

// One service as the SCM shows it.
struct ServiceFacts {
  enum class Found { kInstalled, kNotInstalled, kUnreadable };
  Found found = Found::kUnreadable;
  std::uint32_t state = 0;  // the SCM's numbers: 1 stopped, 4 running, 7 paused
  std::uint32_t processId = 0;
  std::string commandLine;  // ANSI, like the watchdog's texts
  std::string error;        // why it could not be read
};

struct WeakFinding {
  std::string path;
  std::string principals;
  std::string rights;
};

// What the report reads beyond the watchdog's own seam.
class StatusSystem {
 public:
  virtual ~StatusSystem() = default;
  virtual ServiceFacts QueryOwnService() = 0;
  virtual ServiceFacts QueryWatchedService() = 0;
  // The configPath text; false when the product's key cannot be read.
  virtual bool ReadConfigPath(std::string& configPath) = 0;
  // The permission audit's findings for these two, and for this program's own files.
  virtual std::vector<WeakFinding> FindWeakObjects(const std::string& imagePath,
                                                   const std::string& configPath) = 0;
  // Now, in the units of a process's creation time: 100 ns since 1601.
  virtual std::uint64_t CurrentTime() = 0;
};

class StatusTexts {
 public:
  virtual ~StatusTexts() = default;
  // The text in the report's language, %1 onwards replaced by the inserts.
  virtual std::wstring Text(StatusText text, const std::vector<std::wstring>& inserts) const = 0;
  // An ANSI text of the system's, for an insert.
  virtual std::wstring FromAnsi(const std::string& text) const = 0;
};

struct StatusReport {
  StatusLevel level = StatusLevel::kUnknown;
  std::vector<std::wstring> lines;  // without their line ends
};

StatusReport MakeStatusReport(WatchdogPlatform& platform, StatusSystem& system,
                              const StatusTexts& texts);

#ifdef _WIN32
// Prints the report of this machine on standard output, in the user interface's
// language, and returns its level as the exit code.
int RunStatus();
#endif
