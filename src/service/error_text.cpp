#include "service/error_text.h"

#include <cstdio>
#include <cstring>

namespace {

char g_errorText[kErrorTextSize];

constexpr char kLineEnd[] = "\r\n";
constexpr std::size_t kLineEndLength = sizeof(kLineEnd) - 1;

int NarrowLength(UINT codePage, const wchar_t* text, std::size_t length) {
  return ::WideCharToMultiByte(codePage, 0, text, static_cast<int>(length), nullptr, 0, nullptr,
                               nullptr);
}

bool IsHighSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// The longest prefix, never ending inside a surrogate pair, whose narrow form fits in room.
std::size_t FittingPrefix(UINT codePage, const wchar_t* text, std::size_t length,
                          std::size_t room) {
  std::size_t low = 0;
  std::size_t high = length;
  while (low < high) {
    const std::size_t middle = low + (high - low + 1) / 2;
    const int needed = NarrowLength(codePage, text, middle);
    if (needed > 0 && static_cast<std::size_t>(needed) <= room) {
      low = middle;
    } else {
      high = middle - 1;
    }
  }
  if (low > 0 && IsHighSurrogate(text[low - 1])) {
    --low;
  }
  return low;
}

}  // namespace

void StoreNarrowText(UINT codePage, const wchar_t* text, std::size_t length, char* buffer,
                     std::size_t capacity) {
  buffer[0] = '\0';
  const std::size_t room = capacity - 1;
  const int needed = NarrowLength(codePage, text, length);
  std::size_t units = length;
  bool cut = false;
  if (needed <= 0 || static_cast<std::size_t>(needed) > room) {
    units = FittingPrefix(codePage, text, length, room - kLineEndLength);
    cut = true;
  }
  const int written = units == 0
                          ? 0
                          : ::WideCharToMultiByte(codePage, 0, text, static_cast<int>(units),
                                                  buffer, static_cast<int>(room), nullptr, nullptr);
  std::size_t end = written > 0 ? static_cast<std::size_t>(written) : 0;
  if (cut) {
    std::memcpy(buffer + end, kLineEnd, kLineEndLength);
    end += kLineEndLength;
  }
  buffer[end] = '\0';
}

const char* FormatErrorText(DWORD code) {
  wchar_t* systemText = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&systemText), 0, nullptr);
  if (length == 0 || systemText == nullptr) {
    // The console line keeps its shape, CRLF included, when the system has no text.
    std::snprintf(g_errorText, sizeof(g_errorText), "Unknown error %lu\r\n",
                  static_cast<unsigned long>(code));
    return g_errorText;
  }
  StoreNarrowText(CP_ACP, systemText, length, g_errorText, sizeof(g_errorText));
  ::LocalFree(systemText);
  return g_errorText;
}
