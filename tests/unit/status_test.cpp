#include "service/status.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "watchdog/watchdog_platform.h"

namespace {

constexpr std::uint64_t kSecond = 10000000;
constexpr std::uint64_t kNow = 13400000000 * kSecond;
const char kImagePath[] = "\"C:\\VORANEX\\voranexsv.exe\" -service";

// The English texts of the message table that the executable carries.
class EnglishTexts : public StatusTexts {
 public:
  EnglishTexts() {
    std::ifstream file(VORANEX_MESSAGE_TABLE);
    std::string line;
    std::uint32_t id = 0;
    while (std::getline(file, line)) {
      if (line.rfind("MessageId=", 0) == 0) {
        id = static_cast<std::uint32_t>(std::stoul(line.substr(10)));
      } else if (line == "Language=English" && std::getline(file, line)) {
        texts_[id] = line;
      }
    }
  }
  std::wstring Text(StatusText text, const std::vector<std::wstring>& inserts) const override {
    const auto found = texts_.find(static_cast<std::uint32_t>(text));
    if (found == texts_.end()) {
      ADD_FAILURE() << "no text " << static_cast<std::uint32_t>(text);
      return L"";
    }
    std::wstring result = FromAnsi(found->second);
    for (std::size_t i = inserts.size(); i > 0; --i) {
      const std::wstring mark = L"%" + std::to_wstring(i);
      for (std::size_t at = result.find(mark); at != std::wstring::npos; at = result.find(mark)) {
        result.replace(at, mark.size(), inserts[i - 1]);
      }
    }
    return result;
  }
  std::wstring FromAnsi(const std::string& text) const override {
    return std::wstring(text.begin(), text.end());
  }

 private:
  std::map<std::uint32_t, std::string> texts_;
};

class ListSnapshot : public ProcessSnapshot {
 public:
  explicit ListSnapshot(std::vector<ProcessEntry> entries) : entries_(std::move(entries)) {}
  bool First(ProcessEntry& entry) override { return Next(entry); }
  bool Next(ProcessEntry& entry) override {
    if (at_ == entries_.size()) {
      return false;
    }
    entry = entries_[at_++];
    return true;
  }

 private:
  std::vector<ProcessEntry> entries_;
  std::size_t at_ = 0;
};

// A machine as the report reads it: both services installed and running, the server
// started `serverAge` seconds ago, and nothing listening yet.
class Machine : public WatchdogPlatform, public StatusSystem {
 public:
  std::vector<ProcessEntry> processes = {{L"services.exe", 600, 4}, {L"voranexsv.exe", 764, 600}};
  std::map<std::uint32_t, ProcessImage> images;
  std::vector<Listener> listeners;
  ServiceFacts own{ServiceFacts::Found::kInstalled, 4, 312, "voranexmg.exe", ""};
  ServiceFacts watched{ServiceFacts::Found::kInstalled, 4, 764, "", ""};
  bool imagePathReadable = true;

  explicit Machine(std::uint64_t serverAge) {
    images[764] =
        Image(ProcessImage::Match::kRegisteredProgram, "C:\\VORANEX\\voranexsv.exe", serverAge);
  }
  static ProcessImage Image(ProcessImage::Match match, const std::string& path, std::uint64_t age) {
    ProcessImage image;
    image.match = match;
    image.path = path;
    image.startTime = kNow - age * kSecond;
    return image;
  }

  std::unique_ptr<ProcessSnapshot> SnapshotProcesses() override {
    return std::unique_ptr<ProcessSnapshot>(new ListSnapshot(processes));
  }
  bool CaptureOutput(const char*, std::string&) override { return false; }
  void RunCommand(const std::string& command) override { ADD_FAILURE() << "ran " << command; }
  void Pause(const boost::posix_time::time_duration&) override { ADD_FAILURE() << "paused"; }
  ProcessImage InspectProcess(std::uint32_t processId, const std::string&) override {
    const auto found = images.find(processId);
    return found == images.end() ? ProcessImage() : found->second;
  }
  std::uint32_t WatchedServiceProcessId() override { return watched.processId; }
  bool ReadImagePath(std::string& imagePath) override {
    imagePath = kImagePath;
    return imagePathReadable;
  }
  bool ReadListeners(std::vector<Listener>& out) override {
    out.insert(out.end(), listeners.begin(), listeners.end());
    return true;
  }

  ServiceFacts QueryOwnService() override { return own; }
  ServiceFacts QueryWatchedService() override { return watched; }
  bool ReadConfigPath(std::string&) override { return false; }
  std::vector<WeakFinding> FindWeakObjects(const std::string&, const std::string&) override {
    return {};
  }
  std::uint64_t CurrentTime() override { return kNow; }

  StatusReport Report() {
    const StatusReport report = MakeStatusReport(*this, *this, EnglishTexts());
    EXPECT_FALSE(report.lines.empty());
    return report;
  }
};

bool HasLine(const StatusReport& report, const std::wstring& line) {
  return std::find(report.lines.begin(), report.lines.end(), line) != report.lines.end();
}

TEST(StatusTest, AListeningServerIsOkAndAForeignHolderIsOneARecoveryWouldEnd) {
  Machine machine(3 * 3600 + 5);
  machine.processes.push_back({L"other.exe", 900, 600});
  machine.images[900] =
      Machine::Image(ProcessImage::Match::kOtherProgram, "C:\\Other\\other.exe", 9);
  // IPv4 and IPv6 give the server's port twice; HTTP.sys's port belongs to System.
  machine.listeners = {{4033, 764}, {4033, 764}, {4044, 900}, {4045, 4}, {8080, 900}};
  const StatusReport report = machine.Report();
  EXPECT_EQ(report.level, StatusLevel::kOk);
  EXPECT_EQ(report.lines[0],
            L"VORANEXMG OK - the server (PID 764) listens on port 4033 | "
            L"server_uptime=10805s listening_ports=2");
  EXPECT_TRUE(
      HasLine(report, L"  Process of the registered program: PID 764, running for 3:00:05"));
  EXPECT_TRUE(HasLine(report, L"  Port 4033: PID 764, C:\\VORANEX\\voranexsv.exe: the server"));
  EXPECT_TRUE(HasLine(report,
                      L"  Port 4044: PID 900, C:\\Other\\other.exe: another program, "
                      L"which a recovery would end"));
  EXPECT_TRUE(HasLine(report, L"  Port 4045: PID 4, an owner that Windows does not name"));
  EXPECT_TRUE(HasLine(report, L"  Nobody listens on: 36039, 36523, 4046, 4523, 4524, 4525, 4526"));
  EXPECT_TRUE(HasLine(report, L"  None."));
}

TEST(StatusTest, AServerThatDoesNotListenWarnsOnlyPastItsGrace) {
  const struct {
    std::uint64_t age;
    StatusLevel level;
    std::wstring firstLine;
  } cases[] = {
      {61, StatusLevel::kWarning,
       L"VORANEXMG WARNING - the server (PID 764) has run for 61 s without listening on any "
       L"port of its set | server_uptime=61s listening_ports=0"},
      {59, StatusLevel::kOk,
       L"VORANEXMG OK - the server (PID 764) is starting: it has run for 59 s of the 60 s that "
       L"it has to listen | server_uptime=59s listening_ports=0"},
  };
  for (const auto& c : cases) {
    Machine machine(c.age);
    const StatusReport report = machine.Report();
    EXPECT_EQ(report.level, c.level);
    EXPECT_EQ(report.lines[0], c.firstLine);
  }
}

TEST(StatusTest, NoServerOrAStoppedWatchdogIsCriticalAndAnUnreadableRegistryUnknown) {
  Machine gone(100);
  gone.processes.pop_back();
  // Without a server there is no PID of its own, which an unnamed owner must not match.
  gone.listeners = {{4033, 0}};
  const StatusReport noServer = gone.Report();
  EXPECT_EQ(noServer.level, StatusLevel::kCritical);
  EXPECT_EQ(noServer.lines[0],
            L"VORANEXMG CRITICAL - no process of the registered program runs "
            L"| server_uptime=0s listening_ports=0");
  EXPECT_TRUE(HasLine(noServer, L"  No process of the registered program runs."));
  EXPECT_TRUE(HasLine(noServer, L"  Port 4033: PID 0, an owner that Windows does not name"));

  Machine stopped(100);
  stopped.listeners = {{4033, 764}};
  stopped.own.state = 1;
  stopped.own.processId = 0;
  const StatusReport report = stopped.Report();
  EXPECT_EQ(report.level, StatusLevel::kCritical);
  EXPECT_EQ(report.lines[0],
            L"VORANEXMG CRITICAL - the Voranexmg service is not running: "
            L"stopped | server_uptime=100s listening_ports=1");
  EXPECT_EQ(report.lines[1], L"Voranexmg: stopped, PID -, voranexmg.exe");

  Machine unreadable(100);
  unreadable.imagePathReadable = false;
  const StatusReport unknown = unreadable.Report();
  EXPECT_EQ(unknown.level, StatusLevel::kUnknown);
  EXPECT_EQ(unknown.lines[0].substr(0, 20), L"VORANEXMG UNKNOWN - ");
}

// A process of the server's name from another folder is named, and warned of, without
// being taken for the server.
TEST(StatusTest, AProgramOfTheServersNameFromAnotherFileWarns) {
  Machine machine(100);
  machine.listeners = {{4033, 764}};
  machine.processes.push_back({L"voranexsv.exe", 901, 600});
  machine.images[901] =
      Machine::Image(ProcessImage::Match::kOtherProgram, "C:\\Users\\x\\voranexsv.exe", 5);
  const StatusReport report = machine.Report();
  EXPECT_EQ(report.level, StatusLevel::kWarning);
  EXPECT_EQ(report.lines[0],
            L"VORANEXMG WARNING - a program of the server's name runs from "
            L"another file: PID 901, C:\\Users\\x\\voranexsv.exe | "
            L"server_uptime=100s listening_ports=1");
  EXPECT_TRUE(HasLine(report,
                      L"  Program of the server's name from another file: PID 901, "
                      L"C:\\Users\\x\\voranexsv.exe"));
}

}  // namespace
