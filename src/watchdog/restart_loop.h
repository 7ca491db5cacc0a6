// Tells a server that dies right after each start from one that crashed once, for the
// Event Log: the watchdog never gives up or slows down, but it says when its restarts are
// not helping, and when that is over.
#pragma once

#include <chrono>
#include <deque>
#include <string>

class RestartLoopMonitor {
 public:
  using Clock = std::chrono::steady_clock;

  // Three starts within ten minutes make a loop; it is over once the server has been
  // found running at every check for ten minutes. While it lasts it is told again at
  // most once an hour.
  static constexpr int kLoopStarts = 3;
  static constexpr std::chrono::minutes kLoopWindow{10};
  static constexpr std::chrono::minutes kSettledAfter{10};
  static constexpr std::chrono::hours kRepeatAfter{1};

  // Each writes its event, if one is due, through the event log seam.
  void OnRestart(Clock::time_point now, const std::string& command);
  void OnServerFound(Clock::time_point now);

 private:
  std::deque<Clock::time_point> recentStarts_;
  bool inLoop_ = false;
  int loopStarts_ = 0;
  Clock::time_point loopBegan_;
  Clock::time_point lastTold_;
  bool foundSinceRestart_ = false;
  Clock::time_point foundSince_;
};

// A start that fails in the same way at every cycle would write its error every eleven
// seconds. The first failure is told; while such failures go on, they are told again at
// most once an hour, with how many there were since the last time.
class RepeatedFailure {
 public:
  using Clock = std::chrono::steady_clock;

  // The count to tell with, or 0 when this failure is not to be told now.
  int OnFailure(Clock::time_point now);
  // A start that did not fail this way: the next failure is a first one again.
  void Reset() { failing_ = false; }

 private:
  bool failing_ = false;
  int untold_ = 0;
  Clock::time_point lastTold_;
};
