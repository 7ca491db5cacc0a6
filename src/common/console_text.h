// Standard output for the lines that a person reads. A console shows the bytes of a
// narrow line in its own output code page, which is neither UTF-8 nor, on most systems,
// the ANSI code page; UTF-16 it shows right whatever that code page is.
#pragma once

#include <string>

// Writes `text` with WriteConsoleW when standard output is a console, and otherwise
// `bytes` through the C runtime's standard output, as printf would have written them.
void WriteStandardOutput(const std::wstring& text, const std::string& bytes);
