#include "common/windows_event_log.h"

#include <cwchar>
#include <mutex>
#include <string>
#include <vector>

#include "common/event_log.h"
#include "common/narrow_text.h"
#include "common/win_handles.h"
#include "event_messages.h"

namespace {

constexpr wchar_t kApplicationLogKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";

struct EventKind {
  WORD type;
  DWORD messageId;
};

EventKind KindOf(ServiceEvent event) {
  switch (event) {
    case ServiceEvent::kPortOwnerKilled:
      return {EVENTLOG_INFORMATION_TYPE, MSG_PORT_OWNER_KILLED};
    case ServiceEvent::kServerRestarted:
      return {EVENTLOG_WARNING_TYPE, MSG_SERVER_RESTARTED};
    case ServiceEvent::kServerKeyMissing:
      return {EVENTLOG_ERROR_TYPE, MSG_SERVER_KEY_MISSING};
    case ServiceEvent::kRestartTimedOut:
      return {EVENTLOG_ERROR_TYPE, MSG_RESTART_TIMED_OUT};
    case ServiceEvent::kRestartLoop:
      return {EVENTLOG_ERROR_TYPE, MSG_RESTART_LOOP};
    case ServiceEvent::kRestartLoopOver:
      return {EVENTLOG_INFORMATION_TYPE, MSG_RESTART_LOOP_OVER};
    case ServiceEvent::kWeakPermissions:
      return {EVENTLOG_WARNING_TYPE, MSG_WEAK_PERMISSIONS};
    case ServiceEvent::kImpostorProcess:
      return {EVENTLOG_WARNING_TYPE, MSG_IMPOSTOR_PROCESS};
    case ServiceEvent::kRestartFailed:
      return {EVENTLOG_ERROR_TYPE, MSG_RESTART_FAILED};
    case ServiceEvent::kRestartNotRun:
      return {EVENTLOG_ERROR_TYPE, MSG_RESTART_NOT_RUN};
    case ServiceEvent::kServerNotListening:
      return {EVENTLOG_WARNING_TYPE, MSG_SERVER_NOT_LISTENING};
    case ServiceEvent::kServerListens:
      return {EVENTLOG_INFORMATION_TYPE, MSG_SERVER_LISTENS};
    case ServiceEvent::kLauncherRegistered:
      return {EVENTLOG_INFORMATION_TYPE, MSG_LAUNCHER_REGISTERED};
    case ServiceEvent::kWatchdogNotStarted:
      break;
  }
  return {EVENTLOG_ERROR_TYPE, MSG_WATCHDOG_NOT_STARTED};
}

class WindowsEventLog : public EventLog {
 public:
  void Open(const wchar_t* sourceName) {
    const std::lock_guard<std::mutex> lock(mutex_);
    source_.Reset(::RegisterEventSourceW(nullptr, sourceName));
  }
  void Close() {
    const std::lock_guard<std::mutex> lock(mutex_);
    source_.Reset();
  }

  void Write(ServiceEvent event, const std::vector<std::string>& texts) override {
    try {
      // The texts are the echo lines, in the ANSI code page like everything narrow here.
      std::vector<std::wstring> wide;
      std::vector<const wchar_t*> strings;
      for (const std::string& text : texts) {
        wide.push_back(ToWide(CP_THREAD_ACP, text));
      }
      for (const std::wstring& text : wide) {
        strings.push_back(text.c_str());
      }
      const EventKind kind = KindOf(event);
      const std::lock_guard<std::mutex> lock(mutex_);
      if (source_) {
        ::ReportEventW(source_.Get(), kind.type, 0, kind.messageId, nullptr,
                       static_cast<WORD>(strings.size()), 0, strings.data(), nullptr);
      }
    } catch (...) {
      // An event that cannot be written is dropped; the caller goes on as before.
    }
  }

 private:
  // The watchdog may be writing while the service's main thread closes the source.
  std::mutex mutex_;
  UniqueEventSource source_;
};

// Lives as long as the process: a watchdog that has been asked to stop may still write
// after ServiceMain has returned, and then finds the source closed.
WindowsEventLog g_serviceEventLog;

std::wstring SourceKeyPath(const wchar_t* sourceName) {
  return std::wstring(kApplicationLogKey) + sourceName;
}

}  // namespace

bool RegisterEventLogSource(const wchar_t* sourceName, const wchar_t* messageFile) {
  UniqueRegistryKey key;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, SourceKeyPath(sourceName).c_str(), 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, key.Put(), nullptr) != ERROR_SUCCESS) {
    key.Release();
    return false;
  }
  const DWORD fileBytes = static_cast<DWORD>((std::wcslen(messageFile) + 1) * sizeof(wchar_t));
  const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  return ::RegSetValueExW(key.Get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                          reinterpret_cast<const BYTE*>(messageFile), fileBytes) == ERROR_SUCCESS &&
         ::RegSetValueExW(key.Get(), L"TypesSupported", 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&types), sizeof(types)) == ERROR_SUCCESS;
}

void RemoveEventLogSource(const wchar_t* sourceName) {
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, SourceKeyPath(sourceName).c_str());
}

ScopedServiceEventLog::ScopedServiceEventLog(const wchar_t* sourceName) {
  if (sourceName != nullptr) {
    g_serviceEventLog.Open(sourceName);
    SetEventLog(&g_serviceEventLog);
  }
}

ScopedServiceEventLog::~ScopedServiceEventLog() {
  SetEventLog(nullptr);
  g_serviceEventLog.Close();
}
