#include "watchdog/windows_platform.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <boost/thread/thread.hpp>

#include "common/win_handles.h"
#include "watchdog/system_platform.h"

namespace {

constexpr int kReadChunkSize = 1024;
constexpr UINT kEndedExitCode = 1;

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
    return true;
  }

  UniqueSnapshot handle_;
  PROCESSENTRY32W entry_{};
};

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

bool WindowsWatchdogPlatform::RunCommandWithin(const std::string& command,
                                               const boost::posix_time::time_duration& limit) {
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
    // As with system(): a command that cannot be run has ended.
    return true;
  }
  const UniqueKernelHandle process(created.hProcess);
  const UniqueKernelHandle thread(created.hThread);
  const bool inJob = job && ::AssignProcessToJobObject(job.Get(), process.Get());
  ::ResumeThread(thread.Get());
  if (::WaitForSingleObject(process.Get(), Milliseconds(limit)) != WAIT_TIMEOUT) {
    return true;
  }
  if (!inJob || !::TerminateJobObject(job.Get(), kEndedExitCode)) {
    ::TerminateProcess(process.Get(), kEndedExitCode);
  }
  return false;
}

void WindowsWatchdogPlatform::Pause(const boost::posix_time::time_duration& duration) {
  boost::this_thread::sleep(duration);
}

WatchdogPlatform* SystemWatchdogPlatform() {
  static WindowsWatchdogPlatform platform;
  return &platform;
}
