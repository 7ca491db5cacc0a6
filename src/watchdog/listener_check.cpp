#include "watchdog/listener_check.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "common/event_log.h"
#include "config/port_list.h"
#include "config/watched_service.h"

namespace {

std::string Join(const PortSet& ports) {
  std::string text;
  for (const std::string& port : ports) {
    text += (text.empty() ? "" : ", ") + port;
  }
  return text;
}

// "port 4080: PID 812, C:\Other\other.exe; ...", or "-" when nobody else holds a port.
std::string DescribeHolders(WatchdogPlatform& platform, const std::vector<Listener>& others) {
  std::string text;
  std::map<std::uint32_t, std::string> paths;
  // IPv4 and IPv6 list one holder twice.
  std::set<std::pair<std::uint16_t, std::uint32_t>> named;
  for (const Listener& listener : others) {
    if (!named.insert({listener.port, listener.ownerPid}).second) {
      continue;
    }
    auto path = paths.find(listener.ownerPid);
    if (path == paths.end()) {
      path = paths
                 .emplace(listener.ownerPid,
                          platform.InspectProcess(listener.ownerPid, g_watchedProgramPath).path)
                 .first;
    }
    text +=
        (text.empty() ? "" : "; ") +
        ("port " + std::to_string(listener.port) + ": PID " + std::to_string(listener.ownerPid)) +
        (path->second.empty() ? "" : ", " + path->second);
  }
  return text.empty() ? "-" : text;
}

// The owner of a kernel listener, such as HTTP.sys, which may serve a user program: as
// little a name as PID 0.
constexpr std::uint32_t kSystemProcessId = 4;

bool IsUnnamedOwner(std::uint32_t processId) {
  return processId == 0 || processId == kSystemProcessId;
}

// The port of the set on which the server itself, or an owner that the system cannot
// name, listens; 0 for none. An unnamed owner may be the server, and a check that cannot
// know never warns.
std::uint16_t PortOwnedBy(const std::vector<Listener>& listeners, const PortSet& ports,
                          std::uint32_t serverPid) {
  for (const Listener& listener : listeners) {
    if ((listener.ownerPid == serverPid || IsUnnamedOwner(listener.ownerPid)) &&
        ports.count(std::to_string(listener.port)) != 0) {
      return listener.port;
    }
  }
  return 0;
}

// As PortOwnedBy, but a child of the server or another process of its own program serves
// too. `others` gets the listeners on the ports that belong to other processes.
std::uint16_t FindServedPort(WatchdogPlatform& platform, const std::vector<Listener>& listeners,
                             const PortSet& ports, std::uint32_t serverPid,
                             std::vector<Listener>& others) {
  const std::uint16_t own = PortOwnedBy(listeners, ports, serverPid);
  if (own != 0) {
    return own;
  }
  for (const Listener& listener : listeners) {
    if (ports.count(std::to_string(listener.port)) != 0) {
      others.push_back(listener);
    }
  }
  if (others.empty()) {
    return 0;
  }
  const ParentMap parents = ParentsOf(platform);
  for (const Listener& listener : others) {
    if (RoleOfListener(platform, listener.ownerPid, serverPid, parents, g_watchedProgramPath) !=
        ListenerRole::kOtherProgram) {
      return listener.port;
    }
  }
  return 0;
}

}  // namespace

ParentMap ParentsOf(WatchdogPlatform& platform) {
  ParentMap parents;
  const std::unique_ptr<ProcessSnapshot> snapshot = platform.SnapshotProcesses();
  ProcessEntry entry;
  for (bool more = snapshot && snapshot->First(entry); more; more = snapshot->Next(entry)) {
    parents[entry.processId] = entry.parentProcessId;
  }
  return parents;
}

ListenerRole RoleOfListener(WatchdogPlatform& platform, std::uint32_t ownerPid,
                            std::uint32_t serverPid, const ParentMap& parents,
                            const std::string& imagePath) {
  // Before the server's PID, which is 0 where there is no server.
  if (IsUnnamedOwner(ownerPid)) {
    return ListenerRole::kUnnamedOwner;
  }
  if (ownerPid == serverPid) {
    return ListenerRole::kServer;
  }
  const auto parent = parents.find(ownerPid);
  if (parent != parents.end() && parent->second == serverPid) {
    return ListenerRole::kChild;
  }
  return platform.InspectProcess(ownerPid, imagePath).match ==
                 ProcessImage::Match::kRegisteredProgram
             ? ListenerRole::kRegisteredProgram
             : ListenerRole::kOtherProgram;
}

void ListenerCheck::OnServerFound(WatchdogPlatform& platform, Clock::time_point now,
                                  const ServerProcess& server) {
  if (!tracking_ || server != server_) {
    tracking_ = true;
    server_ = server;
    foundAt_ = now;
    warned_ = false;
    return;
  }
  if (now - foundAt_ < kGrace) {
    return;
  }
  std::vector<Listener> listeners;
  if (!platform.ReadListeners(listeners)) {
    return;
  }
  // At rest the server holds a built-in port itself, and nothing but the tables is read;
  // only otherwise are server.conf, the parents and the other owners asked.
  PortSet ports = MakeDefaultPortSet();
  std::vector<Listener> others;
  std::uint16_t served = PortOwnedBy(listeners, ports, server.processId);
  if (served == 0) {
    AddConfiguredPorts(ports, g_configDirectory);
    served = FindServedPort(platform, listeners, ports, server.processId, others);
  }
  const std::string pid = std::to_string(server.processId);
  if (served != 0) {
    if (warned_) {
      WriteEvent(ServiceEvent::kServerListens,
                 std::vector<std::string>{pid, std::to_string(served)});
      warned_ = false;
    }
    return;
  }
  if (warned_) {
    return;
  }
  warned_ = true;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - foundAt_).count();
  WriteEvent(ServiceEvent::kServerNotListening,
             std::vector<std::string>{pid, std::to_string(seconds), Join(ports),
                                      DescribeHolders(platform, others)});
}
