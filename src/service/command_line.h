// The command line of voranexmg: which one operation a run performs, decided without side effects.
#pragma once

#include <string>

// The values that the options set; when several are given the smallest wins, so
// uninstall beats install, install beats the console run, and so on.
inline constexpr int kOperationUninstall = 0;
inline constexpr int kOperationInstall = 1;
inline constexpr int kOperationConsoleStart = 2;
inline constexpr int kOperationStop = 3;
inline constexpr int kOperationStart = 4;
// Only reads, so it gives way to every operation that acts.
inline constexpr int kOperationStatus = 5;
inline constexpr int kOperationNone = 255;

struct ParsedCommandLine {
  enum class Outcome { kRun, kHelp, kInvalidValue };

  Outcome outcome = Outcome::kRun;
  int operation = kOperationNone;
  // The whole offending argument, prefix included, when the outcome is kInvalidValue.
  std::wstring invalidArgument;
};

// Looks at argv[1] up to argv[argc - 1]; help and the first bad argument end the parse.
ParsedCommandLine ParseCommandLine(int argc, const wchar_t* const* argv,
                                   int operation = kOperationNone);

// The help text, one printed line per entry, UTF-8.
inline constexpr int kHelpLineCount = 6;
extern const char* const kHelpLines[kHelpLineCount];
