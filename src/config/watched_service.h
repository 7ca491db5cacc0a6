// Where the watched program lives and where its configuration is, as read from the
// registry once at start-up, before the watchdog runs, and only read afterwards.
#pragma once

#include <string>

// The whole ImagePath text of the watched service, quotes and arguments included,
// in the thread's ANSI code page.
extern std::string g_watchedProgramPath;
// The product's configPath text, in the thread's ANSI code page.
extern std::string g_configDirectory;

#ifdef _WIN32
// Reads both values into the strings above and echoes the image path.
void DiscoverWatchedService();
// The ImagePath text as the registry holds it now, read as the discovery reads it; false
// when the watched service's key cannot be opened.
bool ReadImagePath(std::wstring& imagePath);
// The configPath text as the discovery reads it; false when the product's key cannot be
// opened in either registry view.
bool ReadConfigPath(std::wstring& configPath);
#endif
