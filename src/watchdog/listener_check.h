// Tells of a server that runs but listens on none of its ports, and names whoever holds
// them. It only reports: what the watchdog kills and restarts does not depend on it.
#pragma once

#include <chrono>
#include <cstdint>

#include "watchdog/watchdog_platform.h"

class ListenerCheck {
 public:
  using Clock = std::chrono::steady_clock;

  // A server that has just started is given this long to open its listeners.
  static constexpr std::chrono::seconds kGrace{60};

  // Called in each cycle that found the server. At rest, once the grace has passed, this
  // costs one read of the listener tables and nothing else.
  void OnServerFound(WatchdogPlatform& platform, Clock::time_point now,
                     const ServerProcess& server);

 private:
  bool tracking_ = false;
  ServerProcess server_;
  Clock::time_point foundAt_;
  // A warning for this process is outstanding: it has not been seen listening since.
  bool warned_ = false;
};
