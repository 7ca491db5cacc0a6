// SCM and registry look-ups for the service tests, made directly rather than through
// the code under test.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

bool QueryStatus(const wchar_t* name, SERVICE_STATUS_PROCESS& status);
// The state as the SCM holds it, or 0 when the service is not installed.
DWORD QueryState(const wchar_t* name);
// The process of a running service, or 0.
DWORD ServiceProcessId(const wchar_t* name);
bool WaitForState(const wchar_t* name, DWORD state, DWORD timeoutMs);
// Stops the service if it runs and deletes it; fine when it is not installed.
void RemoveService(const wchar_t* name);
// Registers an own-process, demand-start service with the command line as given.
bool CreateTestService(const wchar_t* name, const std::wstring& commandLine);
bool SendControl(const wchar_t* name, DWORD control);
// Changes the command line of the service, through the SCM and so in ImagePath too.
bool SetServiceCommandLine(const wchar_t* name, const std::wstring& commandLine);
bool StartTestService(const wchar_t* name);

// The identifiers of the processes with exactly this image name, or of all of them for
// nullptr.
std::vector<DWORD> ProcessIds(const wchar_t* image);
// True once the process has ended, or when there is no such process.
bool WaitForExit(DWORD processId, DWORD timeoutMs);
// Ends the process and waits a little for it to be gone.
void Kill(DWORD processId);

// Values of the service's key under HKLM\SYSTEM\CurrentControlSet\Services.
std::wstring ServiceValueText(const wchar_t* name, const wchar_t* value);
DWORD ServiceValueNumber(const wchar_t* name, const wchar_t* value);
