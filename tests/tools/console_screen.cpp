// Runs a program in this process's console, whose output code page it first sets to 949
// (Korean), and writes what the screen then shows to a file, as UTF-8 lines. So a test
// sees the characters that a person at that console would read.
// Usage: console_screen OUT_FILE MARKER PROGRAM [ARGUMENT...]
//   It reads the screen once MARKER shows on it, or once the program has ended, and ends a
//   program that is still running then. Exit code 0 when the marker was seen.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/narrow_text.h"
#include "common/win_handles.h"

namespace {

constexpr UINT kKoreanCodePage = 949;
constexpr DWORD kPollMs = 100;
constexpr int kPolls = 300;

std::vector<std::wstring> ScreenRows(HANDLE console) {
  std::vector<std::wstring> rows;
  CONSOLE_SCREEN_BUFFER_INFO info = {};
  if (!::GetConsoleScreenBufferInfo(console, &info)) {
    return rows;
  }
  // One row at a time, at the buffer's own width: a longer read runs into the next row.
  std::wstring row(static_cast<std::size_t>(info.dwSize.X), L' ');
  for (SHORT y = 0; y < info.dwSize.Y; ++y) {
    DWORD read = 0;
    ::ReadConsoleOutputCharacterW(console, &row[0], static_cast<DWORD>(row.size()), {0, y}, &read);
    std::wstring text = row.substr(0, read);
    text.erase(text.find_last_not_of(L' ') + 1);
    rows.push_back(text);
  }
  return rows;
}

bool Shows(const std::vector<std::wstring>& rows, const std::wstring& marker) {
  for (const std::wstring& row : rows) {
    if (row.find(marker) != std::wstring::npos) {
      return true;
    }
  }
  return false;
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
  if (argc < 4) {
    return 2;
  }
  const HANDLE console =
      ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (console == INVALID_HANDLE_VALUE) {
    std::fputs("console_screen: no console\n", stderr);
    return 3;
  }
  const UniqueKernelHandle consoleHandle(console);
  if (!::SetConsoleOutputCP(kKoreanCodePage)) {
    std::fputs("console_screen: the console's output code page cannot be set\n", stderr);
    return 3;
  }

  // Joined without quotes: a command line that passes through wineconsole loses them.
  std::wstring commandLine = argv[3];
  for (int i = 4; i < argc; ++i) {
    commandLine += std::wstring(L" ") + argv[i];
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
    const DWORD error = ::GetLastError();
    std::fprintf(stderr, "console_screen: CreateProcessW failed: %lu\n",
                 static_cast<unsigned long>(error));
    return 4;
  }
  const UniqueKernelHandle process(info.hProcess);
  const UniqueKernelHandle thread(info.hThread);

  const std::wstring marker = argv[2];
  bool seen = false;
  for (int i = 0; i < kPolls && !seen; ++i) {
    const bool ended = ::WaitForSingleObject(process.Get(), kPollMs) == WAIT_OBJECT_0;
    seen = Shows(ScreenRows(console), marker);
    if (ended) {
      break;
    }
  }
  ::TerminateProcess(process.Get(), 1);
  ::WaitForSingleObject(process.Get(), 5000);

  std::FILE* out = nullptr;
  if (_wfopen_s(&out, argv[1], L"wb") != 0) {
    return 5;
  }
  for (const std::wstring& row : ScreenRows(console)) {
    const std::string line = ToNarrow(CP_UTF8, row) + "\n";
    std::fwrite(line.data(), 1, line.size(), out);
  }
  std::fclose(out);
  return seen ? 0 : 1;
}
