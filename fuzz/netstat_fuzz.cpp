// Drives the whole listing path (trim, parse, lookup) with arbitrary bytes and checks
// the results against a second, independent reading of the same text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include <boost/tokenizer.hpp>

#include "config/port_list.h"
#include "watchdog/netstat_parser.h"

namespace {

void Require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "netstat_fuzz: %s\n", what);
    std::abort();
  }
}

bool HasSpace(const std::string& text) { return text.find(' ') != std::string::npos; }

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool SameRow(const CNetstatPort& a, const CNetstatPort& b) {
  return a.localAddress == b.localAddress && a.localPort == b.localPort &&
         a.foreignAddress == b.foreignAddress && a.foreignPort == b.foreignPort &&
         a.isTcp == b.isTcp && a.pid == b.pid;
}

void CheckRow(const std::string& line, const CNetstatPort& row) {
  Require(!HasSpace(row.pid) && EndsWith(line, row.pid), "pid is not the last word");
  Require(!HasSpace(row.localPort) && !HasSpace(row.foreignPort), "a port holds a space");
  Require(!HasSpace(row.localAddress) && !HasSpace(row.foreignAddress), "an address holds a space");
  Require(row.isTcp == (line.find("TCP") != std::string::npos), "isTcp disagrees with the line");
  // Both pairs stay joined by their colon; a bracketed cut keeps the colons of the
  // address inside it, the first-colon cut leaves none.
  if (line.find(':') != std::string::npos) {
    Require(line.find(row.localAddress + ":" + row.localPort) != std::string::npos,
            "local pair not adjacent in the line");
    Require(line.find(row.foreignAddress + ":" + row.foreignPort) != std::string::npos,
            "foreign pair not adjacent in the line");
  }
  Require(row.localAddress.find(':') == std::string::npos ||
              (row.localAddress.front() == '[' && row.localAddress.back() == ']'),
          "local address holds a colon outside brackets");
}

// Every line that boost::char_separator<char>("\n") yields must be a row, filed in line
// order under its own local port, and nothing else may be filed.
void CheckFiledRows(const CNetstatParser& parser) {
  std::map<std::string, CNetstatParser::RowList::const_iterator> next;
  std::size_t lines = 0;
  const boost::tokenizer<boost::char_separator<char>> reference(parser.output,
                                                                boost::char_separator<char>("\n"));
  for (const std::string& line : reference) {
    CNetstatPort expected;
    Require(expected.ParseLine(line), "ParseLine failed");
    CheckRow(line, expected);
    const auto filed = parser.portRows.find(expected.localPort);
    Require(filed != parser.portRows.end(), "row not filed");
    const auto cursor = next.emplace(expected.localPort, filed->second.begin()).first;
    Require(cursor->second != filed->second.end(), "fewer rows than lines");
    Require(SameRow(**cursor->second, expected), "filed row differs from its line");
    ++cursor->second;
    ++lines;
  }
  std::size_t rows = 0;
  for (const auto& entry : parser.portRows) {
    Require(!entry.second.empty(), "empty list under a key");
    rows += entry.second.size();
  }
  Require(rows == lines, "more rows than lines");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string listing(reinterpret_cast<const char*>(data), size);

  CNetstatParser parser;
  parser.output = listing;
  const std::size_t first = listing.find("TCP");
  const bool trimmed = parser.TrimToFirstTcp();
  Require(trimmed == (first != std::string::npos), "trim result");
  Require(parser.output == (trimmed ? listing.substr(first) : listing), "trimmed text");
  if (trimmed) {
    parser.Parse();
    CheckFiledRows(parser);
  }
  // Parse on its own, untrimmed, must hold to the same rules.
  CNetstatParser untrimmed;
  untrimmed.output = listing;
  untrimmed.Parse();
  CheckFiledRows(untrimmed);

  // Ask for the built-in ports and every second local port that occurs, so that the
  // lookup meets both found and missing keys.
  PortSet ports = MakeDefaultPortSet();
  bool take = true;
  for (const auto& entry : parser.portRows) {
    if (take) {
      ports.insert(entry.first);
    }
    take = !take;
  }
  PidSet expectedOwners;
  for (const auto& [port, list] : parser.portRows) {
    if (ports.count(port) != 0) {
      for (const auto& row : list) {
        expectedOwners.insert(row->pid);
      }
    }
  }
  Require(parser.FindPortOwners(ports) == expectedOwners, "owners differ");
  return 0;
}
