// What the registered command line of the watched service runs, read as the command
// interpreter reads it. Portable, for wide Windows text and for the narrow copy alike.
#pragma once

#include <cstddef>
#include <string>

#include "common/ascii_text.h"
#include "config/watched_program.h"

// The executable part of an ImagePath: the quoted part, or the text up to the first
// ".exe" in any letter case, else the whole text. Environment variables stay unexpanded.
template <typename Char>
std::basic_string<Char> ExecutablePart(const std::basic_string<Char>& commandLine) {
  if (!commandLine.empty() && commandLine[0] == Char('"')) {
    return commandLine.substr(1, commandLine.find(Char('"'), 1) - 1);
  }
  static const char kExtension[] = ".exe";
  const std::size_t length = sizeof(kExtension) - 1;
  for (std::size_t at = 0; at + length <= commandLine.size(); ++at) {
    std::size_t same = 0;
    while (same < length && AsciiLower(commandLine[at + same]) == Char(kExtension[same])) {
      ++same;
    }
    if (same == length) {
      return commandLine.substr(0, at + length);
    }
  }
  return commandLine;
}

// True when the registered executable's own file name is "voranexsv.exe", in any letter
// case. Otherwise the command starts a launcher, whose file tells nothing about the
// server's processes.
inline bool NamesWatchedImage(const std::string& commandLine) {
  // The folder's separator, then the name.
  const std::string executable = "\\" + ExecutablePart(commandLine);
  const std::size_t length = sizeof(kWatchedImageName) / sizeof(kWatchedImageName[0]) - 1;
  if (executable.size() < length + 1) {
    return false;
  }
  const std::size_t name = executable.size() - length;
  if (executable[name - 1] != '\\' && executable[name - 1] != '/') {
    return false;
  }
  for (std::size_t i = 0; i < length; ++i) {
    if (static_cast<wchar_t>(AsciiLower(executable[name + i])) != kWatchedImageName[i]) {
      return false;
    }
  }
  return true;
}
