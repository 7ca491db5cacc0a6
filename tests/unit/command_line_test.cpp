#include "service/command_line.h"

#include <gtest/gtest.h>

#include <cstddef>
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
      {{L"/Status"}, kOperationStatus},
      {{L"-install", L"-status"}, kOperationInstall},
      {{L"-status", L"-start"}, kOperationStart},
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

// Hangul syllables (U+AC00 to U+D7A3) in well-formed three-byte UTF-8, with ASCII
// between them; anything else, such as text in another code page, is refused.
bool IsKoreanUtf8(const std::string& text) {
  std::size_t syllables = 0;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    if ((lead & 0xF0) != 0xE0 || i + 2 >= text.size() ||
        (static_cast<unsigned char>(text[i + 1]) & 0xC0) != 0x80 ||
        (static_cast<unsigned char>(text[i + 2]) & 0xC0) != 0x80) {
      return false;
    }
    const unsigned codePoint = ((lead & 0x0Fu) << 12) |
                               ((static_cast<unsigned char>(text[i + 1]) & 0x3Fu) << 6) |
                               (static_cast<unsigned char>(text[i + 2]) & 0x3Fu);
    if (codePoint < 0xAC00 || codePoint > 0xD7A3) {
      return false;
    }
    ++syllables;
    i += 3;
  }
  return syllables > 0;
}

TEST(CommandLineTest, HelpLinesNameTheirOptionAndDescribeItInKorean) {
  struct Line {
    std::string begins;
    std::string ends;
  };
  const Line lines[kHelpLineCount] = {
      {"-help, -?: ", "\n\n"}, {"-install: ", ".\n"}, {"-uninstall: ", ". \n"},
      {"-start: ", " \n"},     {"-stop: ", " \n"},    {"-status: ", " \n"},
  };
  for (int i = 0; i < kHelpLineCount; ++i) {
    const std::string text = kHelpLines[i];
    const Line& line = lines[i];
    SCOPED_TRACE(line.begins);
    ASSERT_GT(text.size(), line.begins.size() + line.ends.size());
    EXPECT_EQ(text.substr(0, line.begins.size()), line.begins);
    EXPECT_EQ(text.substr(text.size() - line.ends.size()), line.ends);
    const std::string description =
        text.substr(line.begins.size(), text.size() - line.begins.size() - line.ends.size());
    EXPECT_TRUE(IsKoreanUtf8(description)) << description;
    EXPECT_EQ(description.find('\n'), std::string::npos);
  }
}

}  // namespace
