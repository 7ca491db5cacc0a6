// Times one listener check at rest: a table of 1,000 listeners, with the server's own
// listener last, as the watchdog makes it every ten seconds while the server runs.
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#include "watchdog/listener_check.h"

namespace {

constexpr std::uint32_t kServerPid = 812;

// The tables are made once; each read copies them, as the real read fills its vector.
class TablePlatform : public WatchdogPlatform {
 public:
  explicit TablePlatform(std::size_t count) {
    for (std::size_t i = 0; i + 1 < count; ++i) {
      table_.push_back({static_cast<std::uint16_t>(20000 + i), static_cast<std::uint32_t>(4 * i)});
    }
    table_.push_back({4033, kServerPid});
  }
  bool ReadListeners(std::vector<Listener>& listeners) override {
    listeners.insert(listeners.end(), table_.begin(), table_.end());
    return true;
  }
  std::unique_ptr<ProcessSnapshot> SnapshotProcesses() override { return nullptr; }
  bool CaptureOutput(const char*, std::string&) override { return false; }
  void RunCommand(const std::string&) override {}
  void Pause(const boost::posix_time::time_duration&) override {}

 private:
  std::vector<Listener> table_;
};

void BM_ListenerCheckAtRest(benchmark::State& state) {
  TablePlatform platform(static_cast<std::size_t>(state.range(0)));
  ListenerCheck check;
  const ServerProcess server{kServerPid, 1};
  const ListenerCheck::Clock::time_point found;
  check.OnServerFound(platform, found, server);
  const auto later = found + ListenerCheck::kGrace + std::chrono::seconds(10);
  for (auto _ : state) {
    check.OnServerFound(platform, later, server);
  }
}

}  // namespace

BENCHMARK(BM_ListenerCheckAtRest)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);
