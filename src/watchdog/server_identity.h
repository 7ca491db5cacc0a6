// Which processes of the watched image name are the server. Anyone may run a program of
// that name from a folder of their own, and it must not hide the server's death; but an
// upgrade into another folder, or a registered launcher, must not make the healthy
// server look like such a program either.
#pragma once

#include <cstdint>
#include <string>

#include "watchdog/watchdog_platform.h"

// Good for one walk of the process list: the SCM and the registry are each asked at most
// once, and only when the registered file alone does not settle it.
class ServerIdentity {
 public:
  // `registeredCommand`: the ImagePath text that the restarts run. `launcher`: it names a
  // launcher, whose file tells nothing about the processes that it starts.
  ServerIdentity(WatchdogPlatform& platform, const std::string& registeredCommand, bool launcher)
      : platform_(platform), registeredCommand_(registeredCommand), launcher_(launcher) {}

  // `image`: what InspectProcess said of the process beside the registered command.
  bool IsServer(std::uint32_t processId, const ProcessImage& image);

 private:
  std::uint32_t ServiceProcessId();
  const std::string& ImagePathNow();

  WatchdogPlatform& platform_;
  const std::string registeredCommand_;
  const bool launcher_;
  bool serviceAsked_ = false;
  std::uint32_t serviceProcessId_ = 0;
  bool imagePathRead_ = false;
  std::string imagePathNow_;
};
