#include "config/watched_service.h"

std::string g_watchedProgramPath;
std::string g_configDirectory;
