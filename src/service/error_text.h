// The system's text for a Win32 error code, narrowed for the console lines.
#pragma once

#include <windows.h>

#include <cstddef>

inline constexpr std::size_t kErrorTextSize = 1024;

// Points into one process-wide buffer that the next call overwrites. The system's text ends
// in CRLF; so do the "Unknown error N" line for a code without text and a text cut to fit,
// so that every console line keeps its shape.
const char* FormatErrorText(DWORD code);

// Converts wide text into buffer in codePage, always NUL-terminated. Text that does not
// fit is cut after its last whole character that leaves room for a closing CRLF.
void StoreNarrowText(UINT codePage, const wchar_t* text, std::size_t length, char* buffer,
                     std::size_t capacity);
