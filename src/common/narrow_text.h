// Wide Windows text in a narrow code page, for the console lines and the narrow strings
// that the command interpreter is handed.
#pragma once

#include <windows.h>

#include <cstddef>
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
