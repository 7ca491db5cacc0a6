// The service's events in the Windows Application log: the event source's registration,
// made by install and undone by uninstall, and the log that the running service writes.
#pragma once

#include <windows.h>

// Makes the source known under the Application log, with the executable whose message
// table holds the texts; false when the registry refused it.
bool RegisterEventLogSource(const wchar_t* sourceName, const wchar_t* messageFile);
void RemoveEventLogSource(const wchar_t* sourceName);

// While it lives, events go to the Application log under the source's name; with
// nullptr, as in the console run, they go nowhere.
class ScopedServiceEventLog {
 public:
  explicit ScopedServiceEventLog(const wchar_t* sourceName);
  ~ScopedServiceEventLog();
  ScopedServiceEventLog(const ScopedServiceEventLog&) = delete;
  ScopedServiceEventLog& operator=(const ScopedServiceEventLog&) = delete;
};
