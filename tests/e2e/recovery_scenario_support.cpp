// First: winsock2.h has to come before windows.h, which may bring the older winsock.h.
#include "socket_handle.h"

#include "recovery_scenario_support.h"

#include <gtest/gtest.h>

#include <cwchar>

#include "config/port_list.h"
#include "config/watched_program.h"
#include "service_test_util.h"
#include "win_test_util.h"

namespace {

constexpr DWORD kStartTimeoutMs = 30000;

const wchar_t kInstallFolder[] = L"C:\\Program Files\\VORANEX QZ";
const wchar_t kWorkFolder[] = L"C:\\voranex-scenario";

// The test's own environment, with `folder` put in front of PATH and `name` set to
// `value`, as the block that CreateProcessW takes.
std::wstring EnvironmentWith(const std::wstring& folder, const std::wstring& name,
                             const std::wstring& value) {
  std::wstring block;
  bool pathSeen = false;
  wchar_t* const strings = ::GetEnvironmentStringsW();
  for (const wchar_t* entry = strings; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
    const std::wstring text = entry;
    const std::wstring::size_type equals = text.find(L'=', 1);
    const std::wstring key = text.substr(0, equals);
    if (::_wcsicmp(key.c_str(), name.c_str()) == 0) {
      continue;
    }
    if (::_wcsicmp(key.c_str(), L"PATH") == 0 && equals != std::wstring::npos) {
      block += key + L"=" + folder + L";" + text.substr(equals + 1);
      pathSeen = true;
    } else {
      block += text;
    }
    block += L'\0';
  }
  ::FreeEnvironmentStringsW(strings);
  if (!pathSeen) {
    block += L"PATH=" + folder + L'\0';
  }
  block += name + L"=" + value + L'\0';
  return block;
}

}  // namespace

DWORD ChildProcess::Start(const std::wstring& commandLine, const std::wstring& environment,
                          const std::wstring& outputPath, const std::wstring& folder) {
  Kill();
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  UniqueKernelHandle nowhere(::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  UniqueKernelHandle output(outputPath.empty()
                                ? nullptr
                                : ::CreateFileW(outputPath.c_str(), GENERIC_WRITE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (nowhere.Get() == INVALID_HANDLE_VALUE || output.Get() == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (nowhere.Get() == INVALID_HANDLE_VALUE) {
      nowhere.Release();
    }
    if (output.Get() == INVALID_HANDLE_VALUE) {
      output.Release();
    }
    return error;
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nowhere.Get();
  startup.hStdOutput = output ? output.Get() : nowhere.Get();
  startup.hStdError = startup.hStdOutput;
  PROCESS_INFORMATION info = {};
  std::wstring mutableLine = commandLine;
  std::wstring mutableEnvironment = environment;
  if (!::CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, TRUE,
                        CREATE_UNICODE_ENVIRONMENT,
                        environment.empty() ? nullptr : &mutableEnvironment[0],
                        folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
    const DWORD error = ::GetLastError();
    return error;
  }
  ::CloseHandle(info.hThread);
  process_.Reset(info.hProcess);
  id_ = info.dwProcessId;
  return ERROR_SUCCESS;
}

bool ChildProcess::WaitForExit(DWORD timeoutMs) const {
  return !process_ || ::WaitForSingleObject(process_.Get(), timeoutMs) == WAIT_OBJECT_0;
}

void ChildProcess::Kill() {
  if (Running()) {
    ::TerminateProcess(process_.Get(), 1);
    WaitForExit(5000);
  }
  process_.Reset();
  id_ = 0;
}

ULONGLONG NowMs() { return ::GetTickCount64(); }

bool ProcessListed(DWORD processId) {
  for (const DWORD id : ProcessIds(nullptr)) {
    if (id == processId) {
      return true;
    }
  }
  return false;
}

DWORD WatchedServiceProcess() {
  SERVICE_STATUS_PROCESS status = {};
  return QueryStatus(kWatchedServiceName, status) && status.dwCurrentState == SERVICE_RUNNING
             ? status.dwProcessId
             : 0;
}

unsigned short PickFreePort() {
  const PortSet builtIn = MakeDefaultPortSet();
  for (int attempt = 0; attempt < 20; ++attempt) {
    HeldPort probe;
    if (HoldPort(0, probe) != 0) {
      continue;
    }
    sockaddr_in bound = {};
    int size = sizeof(bound);
    if (::getsockname(probe.tcp.Get(), reinterpret_cast<sockaddr*>(&bound), &size) != 0) {
      continue;
    }
    const unsigned short port = ntohs(bound.sin_port);
    probe = HeldPort();
    HeldPort both;
    if (builtIn.count(std::to_string(port)) == 0 && HoldPort(port, both) == 0) {
      return port;
    }
  }
  return 0;
}

void WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  UniqueKernelHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.Get() == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    file.Release();
    ADD_FAILURE() << "cannot write " << Narrow(path) << ": " << error;
    return;
  }
  DWORD written = 0;
  if (!::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size()) {
    ADD_FAILURE() << "short write to " << Narrow(path);
  }
}

std::string NetstatListing(const std::vector<ListingRow>& rows) {
  const auto padded = [](std::string text, std::string::size_type width) {
    text.resize(text.size() < width ? width : text.size() + 1, ' ');
    return text;
  };
  std::string text =
      "\r\nActive Connections\r\n\r\n"
      "  Proto  Local Address          Foreign Address        State           PID\r\n";
  for (const ListingRow& row : rows) {
    text += "  " + padded(row.proto, 7) + padded(row.local, 23) + padded(row.foreign, 23) +
            padded(row.state, 16) + std::to_string(row.pid) + "\r\n";
  }
  return text;
}

RecoveryScenario::RecoveryScenario()
    : workFolder_(kWorkFolder),
      imagePath_(std::wstring(kInstallFolder) + L"\\voranexsv.exe"),
      listingPath_(workFolder_ + L"\\listing.txt"),
      outputPath_(workFolder_ + L"\\watchdog-output.txt") {
  ::CreateDirectoryW(workFolder_.c_str(), nullptr);
}

RecoveryScenario::~RecoveryScenario() {
  host_.Kill();
  if (installed_) {
    RemoveService(kWatchedServiceName);
    DeleteMachineKey(L"SOFTWARE\\VORANEX");
  }
  // A stand-in that the SCM no longer knows of would otherwise outlive the test.
  for (const DWORD id : ProcessIds(kWatchedImageName)) {
    UniqueKernelHandle process(::OpenProcess(PROCESS_TERMINATE, FALSE, id));
    if (process) {
      ::TerminateProcess(process.Get(), 1);
    }
  }
}

std::string RecoveryScenario::Install(unsigned short configuredPort) {
  const std::wstring configFolder = std::wstring(kInstallFolder) + L"\\config";
  ::CreateDirectoryW(kInstallFolder, nullptr);
  ::CreateDirectoryW(configFolder.c_str(), nullptr);
  if (!::CopyFileW((ProgramFolder() + L"\\voranexsv.exe").c_str(), imagePath_.c_str(), FALSE)) {
    return "cannot copy the stand-in: " + std::to_string(::GetLastError());
  }
  if (!CreateTestService(kWatchedServiceName, imagePath_)) {
    return "CreateServiceW failed: " + std::to_string(::GetLastError());
  }
  installed_ = true;
  SetMachineString(kProductKey, kConfigPathValue, configFolder);
  WriteWholeFile(configFolder + L"\\server.conf",
                 "{\n  \"listening_ports\": \"" + std::to_string(configuredPort) + "\"\n}\n");
  return std::string();
}

std::string RecoveryScenario::StartService() const {
  if (!StartTestService(kWatchedServiceName)) {
    return "cannot start the service: " + std::to_string(::GetLastError());
  }
  if (!WaitUntil([] { return WatchedServiceProcess() != 0; }, kStartTimeoutMs)) {
    return "the service did not report running";
  }
  return std::string();
}

DWORD RecoveryScenario::StartPortHolder(unsigned short port, ChildProcess& holder) const {
  const std::wstring pidFile = workFolder_ + L"\\holder-" + std::to_wstring(port) + L".pid";
  ::DeleteFileW(pidFile.c_str());
  if (holder.Start(L"\"" + ProgramFolder() + L"\\port_holder.exe\" " + std::to_wstring(port) +
                   L" \"" + pidFile + L"\"") != ERROR_SUCCESS) {
    return 0;
  }
  // The file appears once the port is held; a holder that cannot bind ends instead.
  std::string written;
  WaitUntil(
      [&] {
        written = ReadWholeFile(pidFile);
        return !written.empty() || !holder.Running();
      },
      kStartTimeoutMs);
  return written == std::to_string(holder.Id()) ? holder.Id() : 0;
}

void RecoveryScenario::WriteListing(const std::vector<ListingRow>& rows) const {
  WriteWholeFile(listingPath_, NetstatListing(rows));
}

std::string RecoveryScenario::StartWatchdog(const std::wstring& arguments) {
  const std::wstring environment = EnvironmentWith(ProgramFolder() + L"\\netstat-standin",
                                                   L"NETSTAT_STANDIN_LISTING", listingPath_);
  const DWORD error =
      host_.Start(L"\"" + ProgramFolder() + L"\\recovery_scenario_host.exe\" " + arguments,
                  environment, outputPath_, workFolder_);
  if (error != ERROR_SUCCESS) {
    return "cannot start the watchdog host: " + std::to_string(error);
  }
  // The discovery echo comes just before the watchdog's first check.
  if (!WaitUntil([this] { return Output() == DiscoveryEcho() || !host_.Running(); },
                 kStartTimeoutMs) ||
      !host_.Running()) {
    return "the host did not come up; it wrote: " + Output();
  }
  return std::string();
}

std::string RecoveryScenario::InstallAndWatch(unsigned short configuredPort,
                                              const std::wstring& watchdogArguments) {
  std::string failed = Install(configuredPort);
  failed = failed.empty() ? StartService() : failed;
  return failed.empty() ? StartWatchdog(watchdogArguments) : failed;
}

bool RecoveryScenario::SetWatchdogPaused(bool paused) const {
  const std::wstring request = workFolder_ + L"\\watchdog.pause";
  if (paused) {
    WriteWholeFile(request, std::string());
  } else {
    ::DeleteFileW(request.c_str());
  }
  const std::wstring answer = workFolder_ + L"\\watchdog.paused";
  return WaitUntil(
      [&] { return (::GetFileAttributesW(answer.c_str()) != INVALID_FILE_ATTRIBUTES) == paused; },
      kStartTimeoutMs);
}

bool RecoveryScenario::KillService(DWORD processId, ULONGLONG* deathMs) const {
  UniqueKernelHandle victim(::OpenProcess(SYNCHRONIZE, FALSE, processId));
  if (!victim) {
    return false;
  }
  ChildProcess taskkill;
  if (taskkill.Start(L"taskkill /F /pid " + std::to_wstring(processId)) != ERROR_SUCCESS) {
    return false;
  }
  const bool died = ::WaitForSingleObject(victim.Get(), kStartTimeoutMs) == WAIT_OBJECT_0;
  *deathMs = NowMs();
  taskkill.WaitForExit(kStartTimeoutMs);
  return died;
}

std::string RecoveryScenario::Output() const { return ReadWholeFile(outputPath_); }

std::vector<std::string> RecoveryScenario::EchoedCommands() const {
  std::vector<std::string> commands;
  const std::string output = Output();
  std::string::size_type start = 0;
  while (start < output.size()) {
    // A line still being written is left for the next look.
    const std::string::size_type end = output.find('\n', start);
    if (end == std::string::npos) {
      break;
    }
    std::string line = output.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (line.compare(0, 10, "command : ") == 0) {
      commands.push_back(line);
    }
    start = end + 1;
  }
  return commands;
}

std::string RecoveryScenario::DiscoveryEcho() const {
  return "voraiot path : " + Narrow(imagePath_) + "\r\n\r\n";
}
