// Tells of a server that runs but listens on none of its ports, and names whoever holds
// them. It only reports: what the watchdog kills and restarts does not depend on it.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>

#include "watchdog/watchdog_platform.h"

// What the owner of a listener on a port of the set is to the server.
enum class ListenerRole {
  kServer,
  // PID 0, or System (PID 4), which owns kernel listeners such as HTTP.sys that may serve
  // a user program: it may be the server, and is never taken for another program.
  kUnnamedOwner,
  kChild,
  kRegisteredProgram,  // another process of the registered file
  kOtherProgram,       // one that a recovery would end to free the port
};

// Each process's parent, by PID.
using ParentMap = std::map<std::uint32_t, std::uint32_t>;
ParentMap ParentsOf(WatchdogPlatform& platform);

// Only the last role asks the platform about the owner's file; `imagePath` is the
// registered command that it is compared with.
ListenerRole RoleOfListener(WatchdogPlatform& platform, std::uint32_t ownerPid,
                            std::uint32_t serverPid, const ParentMap& parents,
                            const std::string& imagePath);

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
