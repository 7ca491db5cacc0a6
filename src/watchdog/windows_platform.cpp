#include "watchdog/windows_platform.h"

#include <cstdio>
#include <cstdlib>

#include <boost/thread/thread.hpp>

#include "common/win_handles.h"
#include "watchdog/system_platform.h"

namespace {

constexpr int kReadChunkSize = 1024;

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

void WindowsWatchdogPlatform::Pause(const boost::posix_time::time_duration& duration) {
  boost::this_thread::sleep(duration);
}

WatchdogPlatform* SystemWatchdogPlatform() {
  static WindowsWatchdogPlatform platform;
  return &platform;
}
