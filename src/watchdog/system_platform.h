// The watchdog's platform on the machine it runs on.
#pragma once

class WatchdogPlatform;

// Tool Help, the C runtime's command execution and Boost.Thread's sleep on Windows;
// nullptr where the program does not run for real (the portable unit-test build).
WatchdogPlatform* SystemWatchdogPlatform();
