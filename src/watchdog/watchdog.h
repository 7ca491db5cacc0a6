// The watchdog thread: it looks for the watched program every ten seconds and, when it
// is gone, frees its ports and starts it again.
#pragma once

#include <string>

class WatchdogPlatform;

// Starts the watchdog unless one runs already; after a stop request it first waits for
// the old thread to end. Raises boost::thread_resource_error when no thread can be made.
void StartWatchdogThread();

// Asks a started watchdog to end at its next pause or cycle, and does not wait for it.
void RequestWatchdogStop();

void WatchdogLoop();

// True when a process has exactly this image name, letter case included.
bool IsProcessRunning(std::wstring name);

// Called before each restart command, from the watchdog thread; nullptr for none. Set
// before the watchdog starts.
void SetBeforeRestart(void (*check)());

// The platform that the watchdog uses from now on; nullptr restores the system's own.
// Only to be swapped while no watchdog runs.
void SetWatchdogPlatform(WatchdogPlatform* platform);
