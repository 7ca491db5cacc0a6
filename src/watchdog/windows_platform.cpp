#include "watchdog/windows_platform.h"

// The listener tables: winsock2.h must come before whatever brings windows.h.
#include <winsock2.h>

#include <iphlpapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <boost/thread/thread.hpp>

#include "common/narrow_text.h"
#include "common/service_query.h"
#include "common/win_handles.h"
#include "config/watched_executable.h"
#include "config/watched_program.h"
#include "config/watched_service.h"
#include "watchdog/system_platform.h"

namespace {

constexpr int kReadChunkSize = 1024;
constexpr UINT kEndedExitCode = 1;
// The longest path that Windows gives for a process's image.
constexpr DWORD kLongPathUnits = 32768;

// The command interpreter that system() runs: COMSPEC, else cmd.exe on the search path.
std::string CommandInterpreter() {
  char path[MAX_PATH];
  const DWORD length = ::GetEnvironmentVariableA("COMSPEC", path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(path, length) : std::string("cmd.exe");
}

// A wait of at most the duration; never INFINITE.
DWORD Milliseconds(const boost::posix_time::time_duration& duration) {
  const std::int64_t ms = duration.total_milliseconds();
  if (ms <= 0) {
    return 0;
  }
  return ms >= std::int64_t{INFINITE} ? INFINITE - 1 : static_cast<DWORD>(ms);
}

class ToolHelpSnapshot : public ProcessSnapshot {
 public:
  // A failed snapshot is not tested here: the first walk call then fails, which
  // answers that no such process exists.
  ToolHelpSnapshot() : handle_(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0)) {
    entry_.dwSize = sizeof(entry_);
  }

  bool First(ProcessEntry& entry) override {
    return Copy(::Process32FirstW(handle_.Get(), &entry_), entry);
  }
  bool Next(ProcessEntry& entry) override {
    return Copy(::Process32NextW(handle_.Get(), &entry_), entry);
  }

 private:
  bool Copy(BOOL found, ProcessEntry& entry) const {
    if (!found) {
      return false;
    }
    entry.exeFile = entry_.szExeFile;
    entry.processId = entry_.th32ProcessID;
    entry.parentProcessId = entry_.th32ParentProcessID;
    return true;
  }

  UniqueSnapshot handle_;
  PROCESSENTRY32W entry_{};
};

// The system's text of an error, on one line, for an event's insertion string.
std::string SystemErrorText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = length > 0 && text != nullptr ? std::wstring(text, length) : L"";
  ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r')) {
    message.pop_back();
  }
  return message.empty() ? "Error " + std::to_string(code) + "." : ToNarrow(CP_THREAD_ACP, message);
}

// A process's creation time, which tells it from a later one of the same PID; 0 where it
// cannot be read.
std::uint64_t CreationTime(HANDLE process) {
  FILETIME created{};
  FILETIME exited{};
  FILETIME kernel{};
  FILETIME user{};
  if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) {
    return 0;
  }
  return (std::uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime;
}

struct PipeCloser {
  void operator()(std::FILE* pipe) const { ::_pclose(pipe); }
};

}  // namespace

std::unique_ptr<ProcessSnapshot> WindowsWatchdogPlatform::SnapshotProcesses() {
  return std::unique_ptr<ProcessSnapshot>(new ToolHelpSnapshot());
}

bool WindowsWatchdogPlatform::CaptureOutput(const char* command, std::string& output) {
  const std::unique_ptr<std::FILE, PipeCloser> pipe(::_popen(command, "r"));
  if (!pipe) {
    return false;
  }
  // A line longer than one chunk arrives in pieces, appended one after the other.
  char chunk[kReadChunkSize];
  while (std::fgets(chunk, kReadChunkSize, pipe.get()) != nullptr) {
    output.append(chunk);
  }
  return true;
}

void WindowsWatchdogPlatform::RunCommand(const std::string& command) {
  // What the command made of it is not the watchdog's business: a survivor is caught by
  // the wait pass.
  static_cast<void>(std::system(command.c_str()));
}

CommandOutcome WindowsWatchdogPlatform::RunCommandWithin(
    const std::string& command, const boost::posix_time::time_duration& limit) {
  CommandOutcome outcome;
  // The job holds the interpreter and all that it starts, so that a command that hangs is
  // ended whole, without racing process ids. It does not kill on close: what a command
  // that ended in time left running is the command's business.
  const UniqueKernelHandle job(::CreateJobObjectW(nullptr, nullptr));
  // The same command line as system() gives the interpreter, in the ANSI code page.
  const std::string text = "\"" + CommandInterpreter() + "\" /c " + command;
  std::vector<char> line(text.begin(), text.end());
  line.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION created{};
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                        nullptr, &startup, &created)) {
    const DWORD error = ::GetLastError();
    outcome.status = CommandOutcome::Status::kNotStarted;
    outcome.error = SystemErrorText(error);
    return outcome;
  }
  const UniqueKernelHandle process(created.hProcess);
  const UniqueKernelHandle thread(created.hThread);
  const bool inJob = job && ::AssignProcessToJobObject(job.Get(), process.Get());
  ::ResumeThread(thread.Get());
  if (::WaitForSingleObject(process.Get(), Milliseconds(limit)) != WAIT_TIMEOUT) {
    DWORD exitCode = 0;
    if (::GetExitCodeProcess(process.Get(), &exitCode)) {
      outcome.exitCode = exitCode;
    }
    return outcome;
  }
  if (!inJob || !::TerminateJobObject(job.Get(), kEndedExitCode)) {
    ::TerminateProcess(process.Get(), kEndedExitCode);
  }
  outcome.status = CommandOutcome::Status::kTimedOut;
  return outcome;
}

ProcessImage WindowsWatchdogPlatform::InspectProcess(std::uint32_t processId,
                                                     const std::string& imagePath) {
  ProcessImage image;
  const std::wstring registered = ExecutableOfCommandLine(ToWide(CP_THREAD_ACP, imagePath));
  image.registeredPath = ToNarrow(CP_THREAD_ACP, registered);
  // Limited information is what a LocalSystem service is granted on protected processes
  // too; a process that has ended meanwhile cannot be opened, and stays unknown.
  const UniqueKernelHandle process(
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) {
    return image;
  }
  image.startTime = CreationTime(process.Get());
  std::vector<wchar_t> path(kLongPathUnits);
  DWORD length = kLongPathUnits;
  if (!::QueryFullProcessImageNameW(process.Get(), 0, path.data(), &length)) {
    return image;
  }
  const std::wstring executable(path.data(), length);
  image.path = ToNarrow(CP_THREAD_ACP, executable);
  switch (CompareFiles(executable, registered)) {
    case FileMatch::kSameFile:
      image.match = ProcessImage::Match::kRegisteredProgram;
      break;
    case FileMatch::kOtherFile:
      image.match = ProcessImage::Match::kOtherProgram;
      break;
    case FileMatch::kUnknown:
      break;
  }
  return image;
}

std::uint32_t WindowsWatchdogPlatform::WatchedServiceProcessId() {
  const ServiceView view = QueryServiceView(kWatchedServiceName, false);
  return view.error == 0 && (view.state == SERVICE_RUNNING || view.state == SERVICE_START_PENDING)
             ? view.processId
             : 0;
}

bool WindowsWatchdogPlatform::ReadImagePath(std::string& imagePath) {
  std::wstring text;
  if (!::ReadImagePath(text)) {
    return false;
  }
  imagePath = ToNarrow(CP_THREAD_ACP, text);
  return true;
}

void WindowsWatchdogPlatform::Pause(const boost::posix_time::time_duration& duration) {
  boost::this_thread::sleep(duration);
}

bool WindowsWatchdogPlatform::PauseUntilExit(const ServerProcess& server,
                                             const boost::posix_time::time_duration& duration) {
  const UniqueKernelHandle process(
      ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, server.processId));
  if (!process) {
    // A PID that names no process any more is a process that has ended.
    if (::GetLastError() == ERROR_INVALID_PARAMETER) {
      boost::this_thread::interruption_point();
      return true;
    }
    Pause(duration);
    return false;
  }
  const std::uint64_t created = CreationTime(process.Get());
  if (server.startTime == 0 || created == 0) {
    Pause(duration);
    return false;
  }
  // The PID has been given to another process since the check: the server has ended.
  if (created != server.startTime) {
    boost::this_thread::interruption_point();
    return true;
  }
  // Boost's own interruptible wait, the one that its sleep and join use on Windows: the
  // stop request's interruption and the process's end wake one and the same wait, and the
  // interruption ends it with thread_interrupted, as it ends a pause.
  return boost::this_thread::interruptible_wait(
      process.Get(),
      boost::detail::internal_platform_clock::now() + boost::detail::platform_duration(duration));
}

namespace {

// The IPv4 and IPv6 tables differ only in their rows' addresses, which are not read. The
// port is in network byte order in the low 16 bits.
template <typename Table>
void AppendListeners(const std::vector<unsigned char>& table, std::vector<Listener>& listeners) {
  const auto* rows = reinterpret_cast<const Table*>(table.data());
  for (DWORD i = 0; i < rows->dwNumEntries; ++i) {
    const DWORD raw = rows->table[i].dwLocalPort;
    listeners.push_back({static_cast<std::uint16_t>(((raw & 0xFFu) << 8) | ((raw >> 8) & 0xFFu)),
                         rows->table[i].dwOwningPid});
  }
}

// Room for some two thousand listeners of either family, so that one call is enough: each
// call costs as much as the owners' lookup, which under Wine takes a scan of every
// process's sockets.
constexpr DWORD kListenerTableGuess = 128 * 1024;

// One family's listeners. A table too large for the buffer makes the call fail with
// ERROR_INSUFFICIENT_BUFFER and the size needed, and so does a listener that opens between
// two calls, so it asks again.
bool ReadListenerTable(ULONG family, std::vector<Listener>& listeners) {
  std::vector<unsigned char> table;
  DWORD size = kListenerTableGuess;
  DWORD result = ERROR_INSUFFICIENT_BUFFER;
  for (int attempt = 0; attempt < 3 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
    table.resize(size);
    result =
        ::GetExtendedTcpTable(table.data(), &size, FALSE, family, TCP_TABLE_OWNER_PID_LISTENER, 0);
  }
  if (result != NO_ERROR) {
    return false;
  }
  if (family == AF_INET) {
    AppendListeners<MIB_TCPTABLE_OWNER_PID>(table, listeners);
  } else {
    AppendListeners<MIB_TCP6TABLE_OWNER_PID>(table, listeners);
  }
  return true;
}

}  // namespace

bool WindowsWatchdogPlatform::ReadListeners(std::vector<Listener>& listeners) {
  return ReadListenerTable(AF_INET, listeners) && ReadListenerTable(AF_INET6, listeners);
}

WatchdogPlatform* SystemWatchdogPlatform() {
  static WindowsWatchdogPlatform platform;
  return &platform;
}
