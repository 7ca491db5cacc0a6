// The watched program's executable file, as the registered command line names it, and
// the rules by which a running process's image is taken for that file.
#pragma once

#include <string>

// The executable that the command interpreter runs for an ImagePath: the quoted part, or
// the text up to the first ".exe", with its environment variables expanded.
std::wstring ExecutableOfCommandLine(const std::wstring& commandLine);

// The executable part of the discovered ImagePath; empty when none was read.
std::wstring WatchedExecutable();

enum class FileMatch { kUnknown, kSameFile, kOtherFile };

// Whether a process's image is the registered executable. The volume's serial number and
// the file's index on it decide, so short names, letter case and junctions need no rules
// of their own. An image that cannot be opened beside a registered file that can is
// judged by its path: the registered file's final path against the image's long path,
// in any letter case. Unknown when the registered file cannot be opened.
FileMatch CompareFiles(const std::wstring& image, const std::wstring& registered);
