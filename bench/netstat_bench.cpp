// Times the listing path (trim, parse, lookup) over listings shaped like the
// "netstat -ano" output of a busy server.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "config/port_list.h"
#include "watchdog/netstat_parser.h"

namespace {

// Fields as netstat pads them: two spaces, then columns of 7, 23, 23 and 16 characters.
void AppendRow(std::string& listing, const char* proto, const std::string& local,
               const std::string& foreign, const char* state, unsigned pid) {
  char row[160];
  std::snprintf(row, sizeof(row), "  %-7s%-22s %-22s %-16s%u\r\n", proto, local.c_str(),
                foreign.c_str(), state, pid);
  listing += row;
}

// A fixed seed, so that every run times the same text.
struct ListingMaker {
  std::mt19937 random{20240611u};

  unsigned Below(unsigned bound) { return static_cast<unsigned>(random() % bound); }
  std::string Ephemeral() { return std::to_string(49152 + Below(16384)); }
  unsigned Pid() { return Below(100) == 0 ? 0 : 4 * (1 + Below(400)); }
  std::string Ipv4() {
    return "10." + std::to_string(Below(256)) + "." + std::to_string(Below(256)) + "." +
           std::to_string(1 + Below(254));
  }
  std::string Ipv6() {
    char address[48];
    std::snprintf(address, sizeof(address), "[2001:db8:%x:%x::%x]", Below(0x10000), Below(0x10000),
                  1 + Below(0xFFFF));
    return address;
  }
  // Most connections go to a handful of server ports, a few to the watched ones.
  std::string ServerPort() {
    static const char* const ports[] = {"443", "80", "4033", "4044", "8443", "135", "445"};
    return ports[Below(sizeof(ports) / sizeof(ports[0]))];
  }
  const char* TcpState() {
    const unsigned roll = Below(100);
    if (roll < 8) return "LISTENING";
    if (roll < 70) return "ESTABLISHED";
    if (roll < 90) return "TIME_WAIT";
    if (roll < 95) return "CLOSE_WAIT";
    return roll < 98 ? "FIN_WAIT_2" : "SYN_SENT";
  }

  // netstat lists TCP over IPv4, then over IPv6, then UDP: here 60 %, 20 % and 20 %.
  std::string Make(std::size_t rows) {
    std::string listing =
        "\r\nActive Connections\r\n\r\n"
        "  Proto  Local Address          Foreign Address        State           PID\r\n";
    const std::size_t tcp4 = rows * 6 / 10;
    const std::size_t tcp6 = rows * 2 / 10;
    for (std::size_t i = 0; i < rows; ++i) {
      if (i < tcp4 + tcp6) {
        const bool v6 = i >= tcp4;
        const char* state = TcpState();
        const bool listening = state[0] == 'L';
        const std::string local =
            v6 ? (listening ? "[::]" : Ipv6()) : (listening ? "0.0.0.0" : Ipv4());
        const std::string localPort = listening || Below(4) == 0 ? ServerPort() : Ephemeral();
        const std::string foreign = listening
                                        ? (v6 ? "[::]:0" : "0.0.0.0:0")
                                        : (v6 ? Ipv6() : Ipv4()) + ":" +
                                              (localPort.size() < 5 ? Ephemeral() : ServerPort());
        AppendRow(listing, "TCP", local + ":" + localPort, foreign, state, Pid());
      } else {
        const bool v6 = Below(3) == 0;
        const std::string local = (v6 ? std::string("[::]") : std::string("0.0.0.0")) + ":" +
                                  (Below(10) == 0 ? ServerPort() : Ephemeral());
        AppendRow(listing, "UDP", local, "*:*", "", Pid());
      }
    }
    return listing;
  }
};

const std::string& Listing(std::size_t rows) {
  static std::string listings[3];
  std::string& listing = listings[rows <= 1000 ? 0 : rows <= 10000 ? 1 : 2];
  if (listing.empty()) {
    listing = ListingMaker().Make(rows);
  }
  return listing;
}

PortSet WatchedPorts() {
  PortSet ports = MakeDefaultPortSet();
  ports.insert({"4040", "8443"});
  return ports;
}

void Count(benchmark::State& state, const std::string& listing) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(listing.size()));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_TrimToFirstTcp(benchmark::State& state) {
  const std::string& listing = Listing(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    CNetstatParser parser;
    parser.output = listing;
    state.ResumeTiming();
    benchmark::DoNotOptimize(parser.TrimToFirstTcp());
  }
  Count(state, listing);
}

void BM_Parse(benchmark::State& state) {
  const std::string& listing = Listing(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    {
      CNetstatParser parser;
      parser.output = listing;
      parser.TrimToFirstTcp();
      state.ResumeTiming();
      parser.Parse();
      benchmark::DoNotOptimize(parser.portRows);
      state.PauseTiming();
    }
    state.ResumeTiming();
  }
  Count(state, listing);
}

void BM_FindPortOwners(benchmark::State& state) {
  const std::string& listing = Listing(static_cast<std::size_t>(state.range(0)));
  CNetstatParser parser;
  parser.output = listing;
  parser.TrimToFirstTcp();
  parser.Parse();
  const PortSet ports = WatchedPorts();
  for (auto _ : state) {
    benchmark::DoNotOptimize(parser.FindPortOwners(ports));
  }
  Count(state, listing);
}

// What one recovery cycle pays: the captured text in, the PID set out, the rows freed.
void BM_WholePath(benchmark::State& state) {
  const std::string& listing = Listing(static_cast<std::size_t>(state.range(0)));
  const PortSet ports = WatchedPorts();
  for (auto _ : state) {
    CNetstatParser parser;
    parser.output = listing;
    if (parser.TrimToFirstTcp()) {
      parser.Parse();
    }
    benchmark::DoNotOptimize(parser.FindPortOwners(ports));
  }
  Count(state, listing);
}

// On a shared machine the fastest repetition is the truest: run with
// --benchmark_repetitions=N to get it.
double Fastest(const std::vector<double>& times) {
  return *std::min_element(times.begin(), times.end());
}

void Sizes(benchmark::internal::Benchmark* benchmark) {
  benchmark->Arg(1000)->Arg(10000)->Arg(100000)->ComputeStatistics("min", Fastest);
}

BENCHMARK(BM_TrimToFirstTcp)->Apply(Sizes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Parse)->Apply(Sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindPortOwners)->Apply(Sizes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WholePath)->Apply(Sizes)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
