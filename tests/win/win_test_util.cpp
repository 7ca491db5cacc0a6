#include "win_test_util.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "common/win_handles.h"

ProcessResult RunCaptured(const std::wstring& commandLine, DWORD timeoutMs) {
  ProcessResult result;
  const std::wstring outPath = TempFileName(L"out");
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  {
    UniqueKernelHandle out(::CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (out.Get() == INVALID_HANDLE_VALUE) {
      out.Release();
      ADD_FAILURE() << "cannot create " << outPath.size();
      return result;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = out.Get();
    startup.hStdError = out.Get();
    PROCESS_INFORMATION info = {};
    std::wstring mutableLine = commandLine;
    if (!::CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                          &startup, &info)) {
      const DWORD error = ::GetLastError();
      ADD_FAILURE() << "CreateProcessW failed: " << error;
      return result;
    }
    UniqueKernelHandle process(info.hProcess);
    UniqueKernelHandle thread(info.hThread);
    if (::WaitForSingleObject(process.Get(), timeoutMs) != WAIT_OBJECT_0) {
      ::TerminateProcess(process.Get(), 1);
      ADD_FAILURE() << "the child did not end in time";
    }
    ::GetExitCodeProcess(process.Get(), &result.exitCode);
  }
  result.output = ReadWholeFile(outPath);
  ::DeleteFileW(outPath.c_str());
  return result;
}

std::string Narrow(const std::wstring& text) {
  std::string narrow;
  for (const wchar_t c : text) {
    narrow += static_cast<char>(c);
  }
  return narrow;
}

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L'\\'));
}

std::wstring TempFileName(const wchar_t* prefix) {
  wchar_t folder[MAX_PATH] = {};
  wchar_t name[MAX_PATH] = {};
  ::GetTempPathW(MAX_PATH, folder);
  ::GetTempFileNameW(folder, prefix, 0, name);
  return name;
}

std::string ReadWholeFile(const std::wstring& path) {
  UniqueKernelHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string bytes;
  if (file.Get() == INVALID_HANDLE_VALUE) {
    file.Release();
    return bytes;
  }
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    bytes.append(buffer, read);
  }
  return bytes;
}

void SetMachineString(const wchar_t* key, const wchar_t* name, const std::wstring& value,
                      DWORD type) {
  UniqueRegistryKey handle;
  ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_WRITE, nullptr,
                              handle.Put(), nullptr),
            ERROR_SUCCESS);
  const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  ASSERT_EQ(::RegSetValueExW(handle.Get(), name, 0, type,
                             reinterpret_cast<const BYTE*>(value.c_str()), bytes),
            ERROR_SUCCESS);
}

void DeleteMachineKey(const wchar_t* key) { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key); }
