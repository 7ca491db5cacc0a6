#include "common/console_text.h"

#include <windows.h>

#include <cstdio>

void WriteStandardOutput(const std::wstring& text, const std::string& bytes) {
  const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (output == nullptr || output == INVALID_HANDLE_VALUE || !::GetConsoleMode(output, &mode)) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    return;
  }
  // The C runtime's stream may still hold earlier lines, which must come first.
  std::fflush(stdout);
  DWORD written = 0;
  ::WriteConsoleW(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}
