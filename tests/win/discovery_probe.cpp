// Runs the registry discovery once, then writes the two strings it found, each ended
// by a NUL, to the file named by its argument, apart from the standard output.
#include <cstdio>

#include "config/watched_service.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    return 2;
  }
  DiscoverWatchedService();
  std::FILE* file = std::fopen(argv[1], "wb");
  if (file == nullptr) {
    return 3;
  }
  std::fwrite(g_watchedProgramPath.c_str(), 1, g_watchedProgramPath.size() + 1, file);
  std::fwrite(g_configDirectory.c_str(), 1, g_configDirectory.size() + 1, file);
  std::fclose(file);
  return 0;
}
