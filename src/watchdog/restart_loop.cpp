#include "watchdog/restart_loop.h"

#include <vector>

#include "common/event_log.h"

namespace {

std::string Seconds(RestartLoopMonitor::Clock::duration span) {
  return std::to_string(std::chrono::duration_cast<std::chrono::seconds>(span).count());
}

}  // namespace

void RestartLoopMonitor::OnRestart(Clock::time_point now, const std::string& command) {
  foundSinceRestart_ = false;
  recentStarts_.push_back(now);
  while (now - recentStarts_.front() > kLoopWindow) {
    recentStarts_.pop_front();
  }
  if (inLoop_) {
    ++loopStarts_;
    if (now - lastTold_ < kRepeatAfter) {
      return;
    }
  } else if (static_cast<int>(recentStarts_.size()) >= kLoopStarts) {
    inLoop_ = true;
    loopStarts_ = static_cast<int>(recentStarts_.size());
    loopBegan_ = recentStarts_.front();
  } else {
    return;
  }
  lastTold_ = now;
  WriteEvent(
      ServiceEvent::kRestartLoop,
      std::vector<std::string>{std::to_string(loopStarts_), Seconds(now - loopBegan_), command});
}

void RestartLoopMonitor::OnServerFound(Clock::time_point now) {
  if (!inLoop_) {
    return;
  }
  if (!foundSinceRestart_) {
    foundSinceRestart_ = true;
    foundSince_ = now;
  }
  if (now - foundSince_ < kSettledAfter) {
    return;
  }
  WriteEvent(ServiceEvent::kRestartLoopOver, std::to_string(loopStarts_));
  inLoop_ = false;
  loopStarts_ = 0;
  recentStarts_.clear();
}

int RepeatedFailure::OnFailure(Clock::time_point now) {
  if (failing_) {
    ++untold_;
    if (now - lastTold_ < RestartLoopMonitor::kRepeatAfter) {
      return 0;
    }
  } else {
    failing_ = true;
    untold_ = 1;
  }
  lastTold_ = now;
  const int count = untold_;
  untold_ = 0;
  return count;
}
