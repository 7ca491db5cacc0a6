#include "service/command_line.h"

#include <cstddef>

#include "common/ascii_text.h"

namespace {

struct OptionWord {
  const char* word;
  int operation;
};

constexpr OptionWord kOperationWords[] = {
    {"uninstall", kOperationUninstall},
    {"install", kOperationInstall},
    {"stop", kOperationStop},
    {"start", kOperationStart},
    {"consoleStart", kOperationConsoleStart},
    {"status", kOperationStatus},
};

// The option words are ASCII, so folding ASCII letters alone is enough and behaves the
// same on every platform and locale.
bool EqualsIgnoringCase(const wchar_t* text, const char* word) {
  std::size_t i = 0;
  for (; text[i] != L'\0' && word[i] != '\0'; ++i) {
    if (AsciiLower(text[i]) != AsciiLower(static_cast<wchar_t>(word[i]))) {
      return false;
    }
  }
  return text[i] == L'\0' && word[i] == '\0';
}

}  // namespace

ParsedCommandLine ParseCommandLine(int argc, const wchar_t* const* argv, int operation) {
  ParsedCommandLine parsed;
  parsed.operation = operation;
  for (int index = 1; index < argc; ++index) {
    const wchar_t* argument = argv[index];
    const bool prefixed = argument[0] == L'-' || argument[0] == L'/';
    const wchar_t* text = prefixed ? argument + 1 : argument;
    if (!prefixed || *text == L'\0') {
      parsed.outcome = ParsedCommandLine::Outcome::kInvalidValue;
      parsed.invalidArgument = argument;
      return parsed;
    }
    if (EqualsIgnoringCase(text, "help") || EqualsIgnoringCase(text, "?")) {
      parsed.outcome = ParsedCommandLine::Outcome::kHelp;
      return parsed;
    }
    bool known = false;
    for (const OptionWord& option : kOperationWords) {
      if (EqualsIgnoringCase(text, option.word)) {
        known = true;
        if (option.operation < parsed.operation) {
          parsed.operation = option.operation;
        }
        break;
      }
    }
    if (!known) {
      parsed.outcome = ParsedCommandLine::Outcome::kInvalidValue;
      parsed.invalidArgument = argument;
      return parsed;
    }
  }
  return parsed;
}

// u8 literals keep the Korean text UTF-8 whatever the compiler's execution character set.
const char* const kHelpLines[kHelpLineCount] = {
    u8"-help, -?: 도움말을 보여 줍니다\n\n",
    u8"-install: 서비스를 설치할 때 사용합니다.\n",
    u8"-uninstall: 서비스를 제거할 때 사용합니다. \n",
    u8"-start: 서비스를 시작합니다 \n",
    u8"-stop: 서비스를 중지합니다 \n",
    u8"-status: 서비스와 감시 대상 서버의 상태를 보여 줍니다 \n",
};
