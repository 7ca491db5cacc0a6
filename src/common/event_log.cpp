#include "common/event_log.h"

#include <atomic>

namespace {

// Set by the service's main thread, read by the watchdog thread.
std::atomic<EventLog*> g_eventLog{nullptr};

}  // namespace

void SetEventLog(EventLog* log) { g_eventLog.store(log); }

void WriteEvent(ServiceEvent event, const std::string& text) {
  WriteEvent(event, std::vector<std::string>{text});
}

void WriteEvent(ServiceEvent event, const std::vector<std::string>& texts) {
  EventLog* const log = g_eventLog.load();
  if (log != nullptr) {
    log->Write(event, texts);
  }
}
