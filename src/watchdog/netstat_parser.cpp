#include "watchdog/netstat_parser.h"

#include <algorithm>
#include <cstddef>
#include <exception>
#include <memory_resource>
#include <string_view>
#include <unordered_map>
#include <utility>

#include <boost/make_shared.hpp>
#include <boost/tokenizer.hpp>

namespace {

constexpr std::size_t kNone = std::string::npos;

// The text after the colon at `colon` up to the next space, and the text before it back
// to the previous space. With no colon the port starts at the line's first byte and
// the address reaches back from the line's end.
void CutPair(const std::string& line, std::size_t colon, std::string& address, std::string& port) {
  const std::size_t portBegin = colon == kNone ? 0 : colon + 1;
  const std::size_t portEnd = line.find(' ', portBegin);
  port.assign(line, portBegin, portEnd == kNone ? kNone : portEnd - portBegin);

  const std::size_t addressEnd = colon == kNone ? line.size() : colon;
  const std::size_t space = addressEnd == 0 ? kNone : line.rfind(' ', addressEnd - 1);
  const std::size_t addressBegin = space == kNone ? 0 : space + 1;
  address.assign(line, addressBegin, addressEnd - addressBegin);
}

// Splits at "\n" and drops empty lines, exactly as boost::char_separator<char>("\n")
// does, but looks for each line's end with one search instead of testing every byte
// against a delimiter set: on a listing of 100,000 rows that test was most of the
// parse time.
class LineSeparator {
 public:
  void reset() {}

  template <typename Iterator, typename Token>
  bool operator()(Iterator& next, Iterator end, Token& line) const {
    next = std::find_if(next, end, [](char c) { return c != '\n'; });
    if (next == end) {
      return false;
    }
    const Iterator begin = next;
    next = std::find(next, end, '\n');
    line.assign(begin, next);
    return true;
  }
};

}  // namespace

bool CNetstatPort::ParseLine(std::string line) {
  try {
    const std::size_t lastSpace = line.rfind(' ');
    pid.assign(line, lastSpace == kNone ? 0 : lastSpace + 1, kNone);

    CutPair(line, line.rfind(':'), foreignAddress, foreignPort);

    const std::size_t firstColon = line.find(':');
    CutPair(line, firstColon, localAddress, localPort);
    // An IPv6 address holds colons of its own, so a bracketed local column is cut after
    // its "]:" instead; otherwise "[::]:4033" would be filed under ":]:4033".
    if (firstColon != kNone && !localAddress.empty() && localAddress[0] == '[') {
      const std::size_t columnBegin = firstColon - localAddress.size();
      const std::size_t columnEnd = line.find(' ', columnBegin);
      const std::size_t close = line.find(']', columnBegin);
      if (close != kNone && close < columnEnd && close + 1 < line.size() &&
          line[close + 1] == ':') {
        localAddress.assign(line, columnBegin, close + 1 - columnBegin);
        const std::size_t portEnd = line.find(' ', close + 2);
        localPort.assign(line, close + 2, portEnd == kNone ? kNone : portEnd - (close + 2));
      }
    }

    isTcp = line.find("TCP") != kNone;
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

bool CNetstatParser::TrimToFirstTcp() {
  const std::size_t first = output.find("TCP");
  if (first == kNone) {
    return false;
  }
  output.erase(0, first);
  return true;
}

void CNetstatParser::Parse() {
  // Most rows share their local port with an earlier row. Finding that row's list by
  // hash spares a walk down the map, which on a large listing misses the cache at
  // nearly every level. The views point at the map's own keys, which never move. The
  // index lives in an arena of its own, so that its nodes do not scatter between the
  // rows on the heap.
  std::pmr::monotonic_buffer_resource arena;
  std::pmr::unordered_map<std::string_view, RowList*> listOfPort(&arena);
  const boost::tokenizer<LineSeparator> lines(output, LineSeparator());
  for (const std::string& line : lines) {
    boost::shared_ptr<CNetstatPort> row = boost::make_shared<CNetstatPort>();
    if (!row->ParseLine(line)) {
      continue;
    }
    auto list = listOfPort.find(row->localPort);
    if (list == listOfPort.end()) {
      auto& filed = *portRows.try_emplace(row->localPort).first;
      list = listOfPort.emplace(filed.first, &filed.second).first;
    }
    list->second->push_back(std::move(row));
  }
}

PidSet CNetstatParser::FindPortOwners(PortSet ports) const {
  PidSet owners;
  for (const std::string& port : ports) {
    const auto found = portRows.find(port);
    if (found == portRows.end()) {
      continue;
    }
    for (const boost::shared_ptr<CNetstatPort>& row : found->second) {
      owners.insert(row->pid);
    }
  }
  return owners;
}
