// Wide Windows text in a narrow code page, for the console lines and the narrow strings
// that the command interpreter is handed, and such narrow text back in UTF-16.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cwctype>
#include <string>

// Characters the code page lacks become its default character; empty when the text
// cannot be converted at all.
inline std::string ToNarrow(UINT codePage, const std::wstring& text) {
  if (text.empty()) {
    return std::string();
  }
  const int length = static_cast<int>(text.size());
  const int needed =
      ::WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) {
    return std::string();
  }
  std::string narrow(static_cast<std::size_t>(needed), '\0');
  ::WideCharToMultiByte(codePage, 0, text.data(), length, &narrow[0], needed, nullptr, nullptr);
  return narrow;
}

// The way back, for narrow text that goes to a wide API; empty when it cannot be converted.
inline std::wstring ToWide(UINT codePage, const std::string& text) {
  if (text.empty()) {
    return std::wstring();
  }
  const int length = static_cast<int>(text.size());
  const int needed = ::MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
  if (needed <= 0) {
    return std::wstring();
  }
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), length, &wide[0], needed);
  return wide;
}

// For comparisons that ignore letter case, as Windows file names do.
inline std::wstring Lowercase(std::wstring text) {
  for (wchar_t& c : text) {
    c = static_cast<wchar_t>(std::towlower(c));
  }
  return text;
}
