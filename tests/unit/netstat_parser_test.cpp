#include "watchdog/netstat_parser.h"

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

// As "netstat -ano" prints it on Windows, with its banner and column titles.
const char kListing[] =
    "\n"
    "Active Connections\n"
    "\n"
    "  Proto  Local Address          Foreign Address        State           PID\n"
    "  TCP    0.0.0.0:135            0.0.0.0:0              LISTENING       1044\n"
    "  TCP    0.0.0.0:4033           0.0.0.0:0              LISTENING       812\n"
    "  TCP    127.0.0.1:4044         127.0.0.1:4046         ESTABLISHED     812\n"
    "  TCP    127.0.0.1:4046         127.0.0.1:4044         ESTABLISHED     964\n"
    "  TCP    10.0.0.5:4524          10.0.0.9:51234         TIME_WAIT       0\n"
    "  TCP    10.0.0.5:51235         10.0.0.9:4033          ESTABLISHED     3300\n"
    "  TCP    [::]:135               [::]:0                 LISTENING       1044\n"
    "  TCP    [::]:4033              [::]:0                 LISTENING       812\n"
    "  TCP    [::]:36039             [::]:0                 LISTENING       2816\n"
    "  UDP    0.0.0.0:4045           *:*                                    964\n"
    "  UDP    [fe80::1%4]:4526       *:*                                    120\n";

struct Row {
  std::string localAddress;
  std::string localPort;
  std::string foreignAddress;
  std::string foreignPort;
  bool isTcp;
  std::string pid;
};

bool operator==(const Row& a, const Row& b) {
  return a.localAddress == b.localAddress && a.localPort == b.localPort &&
         a.foreignAddress == b.foreignAddress && a.foreignPort == b.foreignPort &&
         a.isTcp == b.isTcp && a.pid == b.pid;
}

void PrintTo(const Row& row, std::ostream* os) {
  *os << "{" << row.localAddress << " | " << row.localPort << " | " << row.foreignAddress << " | "
      << row.foreignPort << " | " << (row.isTcp ? "TCP" : "-") << " | " << row.pid << "}";
}

Row Cut(const std::string& line) {
  CNetstatPort port;
  EXPECT_TRUE(port.ParseLine(line));
  return {port.localAddress, port.localPort, port.foreignAddress,
          port.foreignPort,  port.isTcp,     port.pid};
}

// The watchdog's calling order: parse only after a successful trim.
PidSet Lookup(const std::string& listing, const PortSet& ports) {
  CNetstatParser parser;
  parser.output = listing;
  if (parser.TrimToFirstTcp()) {
    parser.Parse();
  }
  return parser.FindPortOwners(ports);
}

TEST(NetstatPortTest, CutsLinesAtSpacesAndColons) {
  const std::pair<std::string, Row> cases[] = {
      {"TCP    0.0.0.0:4033           0.0.0.0:0              LISTENING       812",
       {"0.0.0.0", "4033", "0.0.0.0", "0", true, "812"}},
      {"TCP    127.0.0.1:4044         127.0.0.1:4046         ESTABLISHED     812",
       {"127.0.0.1", "4044", "127.0.0.1", "4046", true, "812"}},
      {"  UDP    0.0.0.0:4045           *:*                                    964",
       {"0.0.0.0", "4045", "*", "*", false, "964"}},
      {"  TCP    0.0.0.0:4033    0.0.0.0:0    LISTENING    812\r",
       {"0.0.0.0", "4033", "0.0.0.0", "0", true, "812\r"}},
      {"  TCP    0.0.0.0:4033    0.0.0.0:0    LISTENING ",
       {"0.0.0.0", "4033", "0.0.0.0", "0", true, ""}},
      {"TCP0.0.0.0:4033", {"TCP0.0.0.0", "4033", "TCP0.0.0.0", "4033", true, "TCP0.0.0.0:4033"}},
      {"Active Connections",
       {"Connections", "Active", "Connections", "Active", false, "Connections"}},
      {"  Proto  Local Address", {"Address", "", "Address", "", false, "Address"}},
      {"TCP", {"TCP", "TCP", "TCP", "TCP", true, "TCP"}},
      {" ", {"", "", "", "", false, ""}},
      {"", {"", "", "", "", false, ""}},
      {"  XTCPX  1.2.3.4:80  5.6.7.8:1  SYN_SENT  9", {"1.2.3.4", "80", "5.6.7.8", "1", true, "9"}},
  };
  for (const auto& [line, expected] : cases) {
    SCOPED_TRACE(line);
    EXPECT_EQ(Cut(line), expected);
  }
}

// A bracketed local column is cut after its "]:"; the foreign pair is still cut at the
// line's last colon.
TEST(NetstatPortTest, CutsBracketedIpv6LocalColumnAfterItsBracket) {
  const std::pair<std::string, Row> cases[] = {
      {"  TCP    [::]:4033              [::]:0                 LISTENING       812",
       {"[::]", "4033", "[::]", "0", true, "812"}},
      {"  UDP    [fe80::1%4]:4044       *:*                                    3240",
       {"[fe80::1%4]", "4044", "*", "*", false, "3240"}},
      {"  TCP    [fe80::1%4]:4044   [fe80::2%4]:51000   ESTABLISHED   77",
       {"[fe80::1%4]", "4044", "[fe80::2%4]", "51000", true, "77"}},
      {"  TCP    [::1]:", {"[::1]", "", "[::1]", "", true, "[::1]:"}},
      // Without a "]:" inside the column the plain first-colon cut applies.
      {"  TCP    [::1 4033  [::]:0  LISTENING  5", {"[", ":1", "[::]", "0", true, "5"}},
      {"  TCP    [::] 4033  [::]:0  LISTENING  5", {"[", ":]", "[::]", "0", true, "5"}},
      {"  TCP    [::]4033:1 [::]:0  LISTENING  5", {"[", ":]4033:1", "[::]", "0", true, "5"}},
  };
  for (const auto& [line, expected] : cases) {
    SCOPED_TRACE(line);
    EXPECT_EQ(Cut(line), expected);
  }
}

TEST(NetstatParserTest, TrimDropsEverythingBeforeTheFirstTcp) {
  struct Case {
    std::string output;
    bool found;
    std::string trimmed;
  };
  const Case cases[] = {
      {"", false, ""},
      {"\nActive Connections\n\n  Proto  Local Address\n  UDP    0.0.0.0:4045  *:*  964\n", false,
       "\nActive Connections\n\n  Proto  Local Address\n  UDP    0.0.0.0:4045  *:*  964\n"},
      {"\r\nActive Connections\r\n\r\n  Proto\r\n  TCP    0.0.0.0:135  0.0.0.0:0  LISTENING  1\r\n",
       true, "TCP    0.0.0.0:135  0.0.0.0:0  LISTENING  1\r\n"},
      {"tcp UDP xTCPx", true, "TCPx"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    CNetstatParser parser;
    parser.output = c.output;
    EXPECT_EQ(parser.TrimToFirstTcp(), c.found);
    EXPECT_EQ(parser.output, c.trimmed);
  }
}

TEST(NetstatParserTest, FilesEveryLineUnderItsLocalPortInLineOrder) {
  using Filed = std::vector<std::pair<std::string, std::vector<std::string>>>;
  struct Case {
    const char* name;
    std::string listing;
    Filed expected;  // local port, then the pids of its rows in order
  };
  const Case cases[] = {
      {"banner, titles and both protocols",
       kListing,
       {{"135", {"1044", "1044"}},
        {"36039", {"2816"}},
        {"4033", {"812", "812"}},
        {"4044", {"812"}},
        {"4045", {"964"}},
        {"4046", {"964"}},
        {"4524", {"0"}},
        {"4526", {"120"}},
        {"51235", {"3300"}}}},
      {"blank lines and a final newline",
       "TCP 0.0.0.0:80 0.0.0.0:0 LISTENING 4\n\n\n  UDP 0.0.0.0:80 *:* 5\n\n",
       {{"80", {"4", "5"}}}},
      {"carriage returns",
       "  TCP 0.0.0.0:80 0.0.0.0:0 LISTENING 4\r\n  TCP 0.0.0.0:81 0.0.0.0:0 LISTENING 5\r\n\r\n",
       {{"\r", {"\r"}}, {"80", {"4\r"}}, {"81", {"5\r"}}}},
      {"lines without colons", "TCP rows\nmore text\n", {{"TCP", {"rows"}}, {"more", {"text"}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CNetstatParser parser;
    parser.output = c.listing;
    ASSERT_TRUE(parser.TrimToFirstTcp());
    parser.Parse();
    Filed filed;
    for (const auto& [port, rows] : parser.portRows) {
      filed.push_back({port, {}});
      for (const auto& row : rows) {
        EXPECT_EQ(row->localPort, port);
        filed.back().second.push_back(row->pid);
      }
    }
    EXPECT_EQ(filed, c.expected);
  }
}

TEST(NetstatParserTest, FindsTheOwnersOfTheGivenLocalPorts) {
  const std::string listing80 =
      "  TCP    0.0.0.0:80      0.0.0.0:0        LISTENING    4\n"
      "  TCP    0.0.0.0:8080    0.0.0.0:0        LISTENING    5\n"
      "  TCP    0.0.0.0:080     0.0.0.0:0        LISTENING    6\n"
      "  TCP    10.0.0.5:5000   10.0.0.9:80      ESTABLISHED  7\n";
  struct Case {
    const char* name;
    std::string listing;
    PortSet ports;
    std::vector<std::string> owners;  // in the set's order
  };
  const Case cases[] = {
      {"the built-in ports over a busy listing",
       kListing,
       MakeDefaultPortSet(),
       {"0", "120", "2816", "812", "964"}},
      {"an IPv6-only holder",
       "  TCP    [::]:4033    [::]:0    LISTENING    2000\n",
       MakeDefaultPortSet(),
       {"2000"}},
      {"80 is not 8080, 080 or a foreign 80", listing80, {"80"}, {"4"}},
      {"a leading zero or blank matches only that text", listing80, {"080", " 80", "80 "}, {"6"}},
      {"identifiers in byte order, each once",
       "  TCP    0.0.0.0:4033   0.0.0.0:0  LISTENING  812\n"
       "  TCP    0.0.0.0:4044   0.0.0.0:0  LISTENING  4\n"
       "  UDP    0.0.0.0:4044   *:*                   812\n"
       "  TCP    [::]:4044      [::]:0     LISTENING  4\n"
       "  TCP    127.0.0.1:4045 127.0.0.1:51000  CLOSE_WAIT  120\n"
       "  TCP    127.0.0.1:4045 127.0.0.1:51001  FIN_WAIT_2  812\n",
       {"4033", "4044", "4045"},
       {"120", "4", "812"}},
      {"carriage returns stay in the identifiers",
       "  TCP    0.0.0.0:4033   0.0.0.0:0  LISTENING  812\r\n",
       {"4033"},
       {"812\r"}},
      {"UDP rows only", "  UDP    0.0.0.0:4033   *:*   812\n", MakeDefaultPortSet(), {}},
      {"empty output", "", MakeDefaultPortSet(), {}},
      {"empty port set", kListing, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PidSet owners = Lookup(c.listing, c.ports);
    EXPECT_EQ(std::vector<std::string>(owners.begin(), owners.end()), c.owners);
  }
}

}  // namespace
