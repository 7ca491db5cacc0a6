#include "service/status.h"

#include <map>
#include <memory>
#include <set>
#include <tuple>
#include <utility>

#include "config/port_list.h"
#include "config/registered_command.h"
#include "config/watched_program.h"
#include "watchdog/listener_check.h"
#include "watchdog/server_identity.h"
#include "watchdog/watchdog_platform.h"

namespace {

// The SCM's states, as its numbers give them.
constexpr std::uint32_t kStopped = 1;
constexpr std::uint32_t kStopPending = 3;
constexpr std::uint32_t kPausePending = 6;
constexpr std::uint32_t kPaused = 7;

constexpr std::uint64_t kTicksPerSecond = 10000000;

struct FoundProcess {
  std::uint32_t processId = 0;
  ProcessImage image;
};

struct PortHolder {
  std::string port;
  std::uint32_t ownerPid = 0;
  ListenerRole role = ListenerRole::kOtherProgram;
  std::string path;
};

// Everything read, before any rule is applied.
struct Facts {
  ServiceFacts own;
  ServiceFacts watched;
  bool imagePathRead = false;
  std::string imagePath;
  bool configPathRead = false;
  std::string configPath;
  ConfigFileRead configRead = ConfigFileRead::kNoFolder;
  PortSet ports;
  PortSet configuredPorts;
  std::vector<FoundProcess> servers;  // the first is the server that the rest refers to
  std::vector<FoundProcess> others;   // of the server's name, running another file
  bool listenersRead = false;
  std::vector<PortHolder> holders;
  std::vector<WeakFinding> weak;
  std::uint64_t now = 0;
};

void FindProcesses(WatchdogPlatform& platform, Facts& facts, ParentMap& parents) {
  ServerIdentity identity(platform, facts.imagePath, !NamesWatchedImage(facts.imagePath));
  const std::unique_ptr<ProcessSnapshot> snapshot = platform.SnapshotProcesses();
  ProcessEntry entry;
  for (bool more = snapshot && snapshot->First(entry); more; more = snapshot->Next(entry)) {
    parents[entry.processId] = entry.parentProcessId;
    if (entry.exeFile != kWatchedImageName) {
      continue;
    }
    FoundProcess found{entry.processId, platform.InspectProcess(entry.processId, facts.imagePath)};
    if (!identity.IsServer(found.processId, found.image)) {
      facts.others.push_back(found);
    } else if (found.processId == facts.watched.processId) {
      facts.servers.insert(facts.servers.begin(), found);
    } else {
      facts.servers.push_back(found);
    }
  }
}

void FindHolders(WatchdogPlatform& platform, const ParentMap& parents, Facts& facts) {
  std::vector<Listener> listeners;
  facts.listenersRead = platform.ReadListeners(listeners);
  std::map<std::uint32_t, const FoundProcess*> servers;
  for (const FoundProcess& server : facts.servers) {
    servers[server.processId] = &server;
  }
  const std::uint32_t serverPid = facts.servers.empty() ? 0 : facts.servers.front().processId;
  // IPv4 and IPv6 list one holder twice; the ports come in the set's order.
  std::set<std::pair<std::string, std::uint32_t>> holders;
  for (const Listener& listener : listeners) {
    const std::string port = std::to_string(listener.port);
    if (facts.ports.count(port) != 0) {
      holders.insert({port, listener.ownerPid});
    }
  }
  std::map<std::uint32_t, std::string> paths;
  for (const auto& [port, owner] : holders) {
    PortHolder holder{port, owner, ListenerRole::kServer, std::string()};
    const auto server = servers.find(owner);
    if (server != servers.end()) {
      holder.path = server->second->image.path;
    } else {
      holder.role = RoleOfListener(platform, owner, serverPid, parents, facts.imagePath);
      if (holder.role != ListenerRole::kUnnamedOwner) {
        auto path = paths.find(owner);
        if (path == paths.end()) {
          path = paths.emplace(owner, platform.InspectProcess(owner, facts.imagePath).path).first;
        }
        holder.path = path->second;
      }
    }
    facts.holders.push_back(holder);
  }
}

Facts ReadFacts(WatchdogPlatform& platform, StatusSystem& system) {
  Facts facts;
  facts.now = system.CurrentTime();
  facts.own = system.QueryOwnService();
  facts.watched = system.QueryWatchedService();
  // A key without the value tells no more than a key that cannot be opened.
  facts.imagePathRead = platform.ReadImagePath(facts.imagePath) && !facts.imagePath.empty();
  facts.configPathRead = system.ReadConfigPath(facts.configPath);
  facts.configRead = AddConfiguredPorts(facts.configuredPorts, facts.configPath);
  facts.ports = MakeDefaultPortSet();
  facts.ports.insert(facts.configuredPorts.begin(), facts.configuredPorts.end());
  ParentMap parents;
  FindProcesses(platform, facts, parents);
  FindHolders(platform, parents, facts);
  facts.weak = system.FindWeakObjects(facts.imagePath, facts.configPath);
  return facts;
}

// Seconds that a process has run, or -1 where its start is unknown.
long long Uptime(const Facts& facts, const FoundProcess& process) {
  const std::uint64_t start = process.image.startTime;
  if (start == 0 || facts.now < start) {
    return -1;
  }
  return static_cast<long long>((facts.now - start) / kTicksPerSecond);
}

// "51:07:03": the same in every language.
std::wstring Duration(long long seconds) {
  const long long minutes = seconds / 60 % 60;
  const long long secs = seconds % 60;
  return std::to_wstring(seconds / 3600) + (minutes < 10 ? L":0" : L":") +
         std::to_wstring(minutes) + (secs < 10 ? L":0" : L":") + std::to_wstring(secs);
}

class Writer {
 public:
  explicit Writer(const StatusTexts& texts) : texts_(texts) {}

  std::wstring Text(StatusText text, const std::vector<std::wstring>& inserts = {}) const {
    return texts_.Text(text, inserts);
  }
  std::wstring Ansi(const std::string& text) const { return texts_.FromAnsi(text); }
  // A path that this user may not read is no less there.
  std::wstring Path(const std::string& path) const {
    return path.empty() ? Text(StatusText::kUnknownToThisUser) : Ansi(path);
  }
  static std::wstring Pid(std::uint32_t processId) {
    return processId == 0 ? L"-" : std::to_wstring(processId);
  }
  std::wstring State(const ServiceFacts& service) const {
    switch (service.found) {
      case ServiceFacts::Found::kNotInstalled:
        return Text(StatusText::kStateNotInstalled);
      case ServiceFacts::Found::kUnreadable:
        return Unreadable(service.error);
      case ServiceFacts::Found::kInstalled:
        break;
    }
    if (service.state < kStopped || service.state > kPaused) {
      return std::to_wstring(service.state);
    }
    return Text(static_cast<StatusText>(static_cast<std::uint32_t>(StatusText::kStateBase) +
                                        service.state));
  }

  std::wstring Unreadable(const std::string& why) const {
    return Text(StatusText::kUnreadable) + (why.empty() ? L"" : L" (" + Ansi(why) + L")");
  }

  void Line(std::wstring line) { lines_.push_back(std::move(line)); }
  void Item(std::wstring line) { lines_.push_back(L"  " + std::move(line)); }
  std::vector<std::wstring> TakeLines() { return std::move(lines_); }

 private:
  const StatusTexts& texts_;
  std::vector<std::wstring> lines_;
};

bool Serves(ListenerRole role) { return role != ListenerRole::kOtherProgram; }

// The judgement of the server's listeners: what the listener check would say of it now.
struct Listening {
  std::size_t servedPorts = 0;
  const PortHolder* first = nullptr;  // the first port that is served
  long long uptime = -1;
  bool deaf = false;
  bool starting = false;
};

Listening JudgeListening(const Facts& facts) {
  Listening listening;
  if (facts.servers.empty()) {
    return listening;
  }
  listening.uptime = Uptime(facts, facts.servers.front());
  std::set<std::string> served;
  for (const PortHolder& holder : facts.holders) {
    if (Serves(holder.role) && served.insert(holder.port).second) {
      // The server's own port names it best.
      if (listening.first == nullptr || (holder.role == ListenerRole::kServer &&
                                         listening.first->role != ListenerRole::kServer)) {
        listening.first = &holder;
      }
    }
  }
  listening.servedPorts = served.size();
  if (facts.listenersRead && served.empty() && listening.uptime >= 0) {
    const long long grace = ListenerCheck::kGrace.count();
    listening.deaf = listening.uptime >= grace;
    listening.starting = !listening.deaf;
  }
  return listening;
}

bool IsPaused(const ServiceFacts& service) {
  return service.found == ServiceFacts::Found::kInstalled &&
         (service.state == kPaused || service.state == kPausePending);
}

bool IsStopped(const ServiceFacts& service) {
  return service.found == ServiceFacts::Found::kInstalled &&
         (service.state == kStopped || service.state == kStopPending);
}

std::wstring DeafFinding(const Writer& out, const Facts& facts, const Listening& listening) {
  return out.Text(StatusText::kFindingDeaf, {Writer::Pid(facts.servers.front().processId),
                                             std::to_wstring(listening.uptime)});
}

std::wstring ImpostorFinding(const Writer& out, const FoundProcess& other) {
  return out.Text(StatusText::kFindingImpostor,
                  {Writer::Pid(other.processId), out.Path(other.image.path)});
}

std::wstring WeakFindingText(const Writer& out, const WeakFinding& weak) {
  return out.Text(StatusText::kFindingWeak,
                  {out.Ansi(weak.path), out.Ansi(weak.principals), out.Ansi(weak.rights)});
}

std::wstring StartingText(const Writer& out, const Facts& facts, const Listening& listening) {
  return out.Text(StatusText::kReasonStarting,
                  {Writer::Pid(facts.servers.front().processId), std::to_wstring(listening.uptime),
                   std::to_wstring(ListenerCheck::kGrace.count())});
}

// The level and its main reason: the worst state wins, and within one level the first
// reason that holds.
std::pair<StatusLevel, std::wstring> Judge(const Writer& out, const Facts& facts,
                                           const Listening& listening) {
  using Found = ServiceFacts::Found;
  if (!facts.imagePathRead) {
    if (facts.watched.found == Found::kNotInstalled) {
      return {StatusLevel::kCritical, out.Text(StatusText::kReasonWatchedNotInstalled)};
    }
    return {StatusLevel::kUnknown, out.Text(StatusText::kReasonRegistryUnreadable)};
  }
  if (facts.servers.empty()) {
    return {StatusLevel::kCritical, out.Text(StatusText::kReasonNoServer)};
  }
  if (facts.own.found == Found::kUnreadable) {
    return {StatusLevel::kUnknown,
            out.Text(StatusText::kReasonScmUnreadable, {out.Ansi(facts.own.error)})};
  }
  if (facts.own.found == Found::kNotInstalled) {
    return {StatusLevel::kCritical, out.Text(StatusText::kReasonNotInstalled)};
  }
  if (IsStopped(facts.own)) {
    return {StatusLevel::kCritical,
            out.Text(StatusText::kReasonNotRunning, {out.State(facts.own)})};
  }
  if (listening.deaf) {
    return {StatusLevel::kWarning, DeafFinding(out, facts, listening)};
  }
  if (IsPaused(facts.own)) {
    return {StatusLevel::kWarning, out.Text(StatusText::kReasonPaused)};
  }
  if (!facts.others.empty()) {
    return {StatusLevel::kWarning, ImpostorFinding(out, facts.others.front())};
  }
  if (!facts.weak.empty()) {
    return {StatusLevel::kWarning, WeakFindingText(out, facts.weak.front())};
  }
  const std::wstring server = Writer::Pid(facts.servers.front().processId);
  if (listening.first != nullptr) {
    const std::wstring port = out.Ansi(listening.first->port);
    return {StatusLevel::kOk, listening.first->role == ListenerRole::kUnnamedOwner
                                  ? out.Text(StatusText::kReasonUnnamedListener, {server, port})
                                  : out.Text(StatusText::kReasonListens, {server, port})};
  }
  if (listening.starting) {
    return {StatusLevel::kOk, StartingText(out, facts, listening)};
  }
  return {StatusLevel::kOk,
          out.Text(StatusText::kReasonUnjudged,
                   {server, out.Text(facts.listenersRead ? StatusText::kUnjudgedAgeUnknown
                                                         : StatusText::kUnjudgedNoTables)})};
}

std::wstring FirstLine(StatusLevel level, const std::wstring& reason, const Listening& listening,
                       bool server) {
  static const wchar_t* const kLevels[] = {L"OK", L"WARNING", L"CRITICAL", L"UNKNOWN"};
  const std::wstring uptime = !server                ? L"0s"
                              : listening.uptime < 0 ? L"U"
                                                     : std::to_wstring(listening.uptime) + L"s";
  return std::wstring(L"VORANEXMG ") + kLevels[static_cast<int>(level)] + L" - " + reason +
         L" | server_uptime=" + uptime + L" listening_ports=" +
         std::to_wstring(listening.servedPorts);
}

void WriteOwnService(Writer& out, const Facts& facts) {
  if (facts.own.found != ServiceFacts::Found::kInstalled) {
    out.Line(out.Text(StatusText::kLineOwnAbsent, {out.State(facts.own)}));
    return;
  }
  out.Line(out.Text(StatusText::kLineOwn, {out.State(facts.own), Writer::Pid(facts.own.processId),
                                           out.Ansi(facts.own.commandLine)}));
}

void WriteWatchedProgram(Writer& out, const Facts& facts) {
  out.Line(out.Text(StatusText::kLineWatchedHeading));
  const std::wstring unreadable = out.Unreadable(std::string());
  out.Item(out.Text(StatusText::kLineCommand,
                    {facts.imagePathRead ? out.Ansi(facts.imagePath) : unreadable}));
  if (facts.imagePathRead) {
    out.Item(out.Text(StatusText::kLineExecutable, {out.Ansi(ExecutablePart(facts.imagePath))}));
  }
  static const StatusText kConfigWords[] = {StatusText::kConfigNoFolder, StatusText::kConfigMissing,
                                            StatusText::kConfigUnreadable, StatusText::kConfigRead};
  out.Item(out.Text(StatusText::kLineConfig,
                    {facts.configPathRead ? out.Ansi(facts.configPath) : unreadable,
                     out.Text(kConfigWords[static_cast<int>(facts.configRead)])}));
  if (facts.watched.found == ServiceFacts::Found::kInstalled) {
    out.Item(out.Text(StatusText::kLineService,
                      {out.State(facts.watched), Writer::Pid(facts.watched.processId)}));
  } else {
    out.Item(out.Text(StatusText::kLineServiceAbsent, {out.State(facts.watched)}));
  }
  for (const FoundProcess& server : facts.servers) {
    const long long uptime = Uptime(facts, server);
    out.Item(out.Text(StatusText::kLineServerProcess,
                      {Writer::Pid(server.processId),
                       uptime < 0 ? out.Text(StatusText::kUnknownToThisUser) : Duration(uptime)}));
  }
  if (facts.servers.empty()) {
    out.Item(out.Text(StatusText::kLineNoProcess));
  }
  for (const FoundProcess& other : facts.others) {
    out.Item(out.Text(StatusText::kLineOtherProcess,
                      {Writer::Pid(other.processId), out.Path(other.image.path)}));
  }
}

// An unnamed owner has a line of its own.
StatusText RoleText(ListenerRole role) {
  switch (role) {
    case ListenerRole::kChild:
      return StatusText::kRoleChild;
    case ListenerRole::kRegisteredProgram:
      return StatusText::kRoleRegisteredProgram;
    case ListenerRole::kOtherProgram:
      return StatusText::kRoleOtherProgram;
    case ListenerRole::kServer:
    case ListenerRole::kUnnamedOwner:
      break;
  }
  return StatusText::kRoleServer;
}

void WritePorts(Writer& out, const Facts& facts) {
  std::wstring ports;
  std::wstring free;
  std::set<std::string> held;
  for (const PortHolder& holder : facts.holders) {
    held.insert(holder.port);
  }
  for (const std::string& port : facts.ports) {
    const std::wstring text = out.Ansi(port);
    ports += (ports.empty() ? L"" : L", ") + text +
             (facts.configuredPorts.count(port) != 0 ? L"*" : L"");
    if (held.count(port) == 0) {
      free += (free.empty() ? L"" : L", ") + text;
    }
  }
  out.Line(out.Text(StatusText::kLinePortsHeading, {ports}));
  if (!facts.listenersRead) {
    out.Item(out.Text(StatusText::kLineNoTables));
    return;
  }
  for (const PortHolder& holder : facts.holders) {
    const std::wstring port = out.Ansi(holder.port);
    if (holder.role == ListenerRole::kUnnamedOwner) {
      out.Item(
          out.Text(StatusText::kLineUnnamedListener, {port, std::to_wstring(holder.ownerPid)}));
      continue;
    }
    out.Item(out.Text(StatusText::kLineListener,
                      {port, Writer::Pid(holder.ownerPid), out.Path(holder.path),
                       out.Text(RoleText(holder.role))}));
  }
  if (!free.empty()) {
    out.Item(out.Text(StatusText::kLineFreePorts, {free}));
  }
}

}  // namespace

StatusReport MakeStatusReport(WatchdogPlatform& platform, StatusSystem& system,
                              const StatusTexts& texts) {
  const Facts facts = ReadFacts(platform, system);
  Writer out(texts);
  const Listening listening = JudgeListening(facts);
  StatusReport report;
  std::wstring reason;
  std::tie(report.level, reason) = Judge(out, facts, listening);
  out.Line(FirstLine(report.level, reason, listening, !facts.servers.empty()));
  WriteOwnService(out, facts);
  WriteWatchedProgram(out, facts);
  WritePorts(out, facts);
  std::vector<std::wstring> findings;
  for (const WeakFinding& weak : facts.weak) {
    findings.push_back(WeakFindingText(out, weak));
  }
  for (const FoundProcess& other : facts.others) {
    findings.push_back(ImpostorFinding(out, other));
  }
  if (listening.deaf) {
    findings.push_back(DeafFinding(out, facts, listening));
  }
  if (listening.starting) {
    findings.push_back(StartingText(out, facts, listening));
  }
  if (findings.empty()) {
    findings.push_back(out.Text(StatusText::kLineNone));
  }
  out.Line(out.Text(StatusText::kLineFindingsHeading));
  for (std::wstring& finding : findings) {
    out.Item(std::move(finding));
  }
  report.lines = out.TakeLines();
  return report;
}
