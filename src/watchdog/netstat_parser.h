// Finds the processes that hold given local ports in the text of "netstat -ano".
#pragma once

#include <list>
#include <map>
#include <set>
#include <string>

#include <boost/shared_ptr.hpp>

#include "config/port_list.h"

// One line of the listing, cut at separators rather than column widths, so that TCP
// rows (with a state) and UDP rows (without) are cut alike.
class CNetstatPort {
 public:
  std::string localAddress;
  std::string localPort;
  std::string foreignAddress;
  std::string foreignPort;
  bool isTcp = false;
  std::string pid;

  // Takes one line without its "\n"; false only when the cut ran out of memory.
  bool ParseLine(std::string line);
};

// Process identifiers as netstat prints them; "120" sorts before "4".
using PidSet = std::set<std::string>;

// The listing of one recovery cycle and its rows, filed by local port.
class CNetstatParser {
 public:
  using RowList = std::list<boost::shared_ptr<CNetstatPort>>;

  std::string output;
  std::map<std::string, RowList> portRows;

  // Drops the banner and column titles; false when the listing has no TCP row at all.
  bool TrimToFirstTcp();
  void Parse();
  PidSet FindPortOwners(PortSet ports) const;
};
