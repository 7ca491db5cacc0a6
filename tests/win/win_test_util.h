// Helpers shared by the tests that run under Wine: child processes with captured
// output, and registry values set up and torn down by the test itself.
#pragma once

#include <windows.h>

#include <string>

struct ProcessResult {
  DWORD exitCode = 0;
  std::string output;  // standard output and standard error, bytes as written
};

// Polls `done` until it holds or timeoutMs has passed; true when it held.
template <typename Condition>
bool WaitUntil(Condition done, DWORD timeoutMs) {
  const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
  while (!done()) {
    if (::GetTickCount64() >= deadline) {
      return false;
    }
    ::Sleep(20);
  }
  return true;
}

// Runs a command line, waits at most timeoutMs for it and captures its output.
ProcessResult RunCaptured(const std::wstring& commandLine, DWORD timeoutMs = 30000);

// The folder that holds the running test program (and the programs built beside it).
std::wstring ProgramFolder();

// A fresh temporary file name inside the prefix's temp folder.
std::wstring TempFileName(const wchar_t* prefix);

std::string ReadWholeFile(const std::wstring& path);

// The test's own paths and names are ASCII, so each UTF-16 unit stands for one byte.
std::string Narrow(const std::wstring& text);

// Creates the key under HKLM if needed and stores a string value of the given type.
void SetMachineString(const wchar_t* key, const wchar_t* name, const std::wstring& value,
                      DWORD type = REG_SZ);
// Deletes a key under HKLM with everything below it; a missing key is fine.
void DeleteMachineKey(const wchar_t* key);
