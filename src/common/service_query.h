// A service as the SCM shows it to any user: only the rights that a user who is not an
// administrator holds are asked for.
#pragma once

#include <windows.h>

#include <string>

struct ServiceView {
  // 0, or why the SCM could not be asked; ERROR_SERVICE_DOES_NOT_EXIST for a service
  // that is not installed.
  DWORD error = 0;
  DWORD state = 0;      // SERVICE_STOPPED to SERVICE_PAUSED
  DWORD processId = 0;  // while it has a process
  // Its registered command line, when asked for and readable.
  std::wstring commandLine;
};

ServiceView QueryServiceView(const wchar_t* name, bool withCommandLine);
