#include "service/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Outcome = ParsedCommandLine::Outcome;

ParsedCommandLine Parse(std::vector<const wchar_t*> arguments) {
  arguments.insert(arguments.begin(), L"C:\\svc\\voranexmg.exe");
  return ParseCommandLine(static_cast<int>(arguments.size()), arguments.data());
}

struct OperationCase {
  std::vector<const wchar_t*> arguments;
  int operation;
};

TEST(CommandLineTest, SmallestRequestedOperationWins) {
  const OperationCase cases[] = {
      {{}, kOperationNone},
      {{L"-install"}, kOperationInstall},
      {{L"/INSTALL"}, kOperationInstall},
      {{L"-UnInstall"}, kOperationUninstall},
      {{L"-ConsoleStart"}, kOperationConsoleStart},
      {{L"/consolestart"}, kOperationConsoleStart},
      {{L"-stop"}, kOperationStop},
      {{L"-START"}, kOperationStart},
      {{L"-install", L"-start"}, kOperationInstall},
      {{L"-start", L"-stop"}, kOperationStop},
      {{L"-stop", L"-uninstall"}, kOperationUninstall},
      {{L"-start", L"-consoleStart", L"-stop"}, kOperationConsoleStart},
      {{L"-start", L"-start", L"/start"}, kOperationStart},
  };
  for (const OperationCase& c : cases) {
    const ParsedCommandLine parsed = Parse(c.arguments);
    SCOPED_TRACE(c.arguments.empty() ? L"(none)" : c.arguments[0]);
    EXPECT_EQ(parsed.outcome, Outcome::kRun);
    EXPECT_EQ(parsed.operation, c.operation);
  }
}

TEST(CommandLineTest, StartsFromTheOperationAlreadyRequested) {
  const wchar_t* argv[] = {L"voranexmg", L"-start"};
  EXPECT_EQ(ParseCommandLine(2, argv, kOperationInstall).operation, kOperationInstall);
  EXPECT_EQ(ParseCommandLine(2, argv, kOperationNone).operation, kOperationStart);
}

struct InvalidCase {
  std::vector<const wchar_t*> arguments;
  std::wstring offending;
};

TEST(CommandLineTest, FirstBadArgumentIsReportedWhole) {
  const InvalidCase cases[] = {
      {{L"-"}, L"-"},
      {{L"/"}, L"/"},
      {{L""}, L""},
      {{L"install"}, L"install"},
      {{L"-install", L"-x"}, L"-x"},
      {{L"--install"}, L"--install"},
      {{L"-installx"}, L"-installx"},
      {{L"-instal"}, L"-instal"},
      {{L"-help2"}, L"-help2"},
      {{L"-consoleStart "}, L"-consoleStart "},
      {{L"-? "}, L"-? "},
      {{L"\\install"}, L"\\install"},
      // Parsing stops at the first bad argument, so a later help is never seen.
      {{L"-x", L"-?"}, L"-x"},
      {{L"-start", L"stop", L"-y"}, L"stop"},
  };
  for (const InvalidCase& c : cases) {
    const ParsedCommandLine parsed = Parse(c.arguments);
    SCOPED_TRACE(c.offending);
    EXPECT_EQ(parsed.outcome, Outcome::kInvalidValue);
    EXPECT_EQ(parsed.invalidArgument, c.offending);
  }
}

TEST(CommandLineTest, HelpEndsTheParseWhateverSurroundsIt) {
  const std::vector<const wchar_t*> cases[] = {
      {L"-?"},        {L"/?"},
      {L"-help"},     {L"/HELP"},
      {L"-Help"},     {L"-install", L"-?"},
      {L"-?", L"-x"}, {L"-uninstall", L"/help", L"bad"},
  };
  for (const auto& arguments : cases) {
    const ParsedCommandLine parsed = Parse(arguments);
    SCOPED_TRACE(arguments.back());
    EXPECT_EQ(parsed.outcome, Outcome::kHelp);
  }
}

}  // namespace
