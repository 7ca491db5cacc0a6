// The watched program's executable file, as the registered command line names it, and
// the one rule by which another path is taken for the same file.
#pragma once

#include <string>

// The executable that the command interpreter runs for an ImagePath: the quoted part, or
// the text up to the first ".exe", with its environment variables expanded.
std::wstring ExecutableOfCommandLine(const std::wstring& commandLine);

// The executable part of the discovered ImagePath; empty when none was read.
std::wstring WatchedExecutable();

enum class FileMatch { kUnknown, kSameFile, kOtherFile };

// Whether two paths name one file: the volume's serial number and the file's index on it
// decide, so short names, letter case and junctions need no rules of their own. Unknown
// when either file cannot be opened.
FileMatch CompareFiles(const std::wstring& first, const std::wstring& second);
