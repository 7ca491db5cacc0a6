#include "watchdog/system_platform.h"

// The portable build runs the watchdog only on a platform that a test provides.
WatchdogPlatform* SystemWatchdogPlatform() { return nullptr; }
