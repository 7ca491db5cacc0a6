#include "config/watched_executable.h"

#include <windows.h>

#include "common/narrow_text.h"
#include "common/win_handles.h"
#include "config/watched_service.h"

namespace {

bool IdentifyFile(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
  if (path.empty()) {
    return false;
  }
  // No access rights are asked for: a file that is running, or locked for writing, still
  // tells its identity. Backup semantics let a folder be opened too.
  UniqueKernelHandle file(
      ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (file.Get() == INVALID_HANDLE_VALUE) {
    file.Release();
    return false;
  }
  return ::GetFileInformationByHandle(file.Get(), &info) != FALSE;
}

}  // namespace

std::wstring ExecutableOfCommandLine(const std::wstring& commandLine) {
  std::wstring path;
  if (!commandLine.empty() && commandLine[0] == L'"') {
    path = commandLine.substr(1, commandLine.find(L'"', 1) - 1);
  } else {
    const std::size_t exe = Lowercase(commandLine).find(L".exe");
    path = exe == std::wstring::npos ? commandLine : commandLine.substr(0, exe + 4);
  }
  wchar_t expanded[MAX_PATH];
  const DWORD length = ::ExpandEnvironmentStringsW(path.c_str(), expanded, MAX_PATH);
  return length > 0 && length <= MAX_PATH ? std::wstring(expanded) : path;
}

std::wstring WatchedExecutable() {
  return ExecutableOfCommandLine(ToWide(CP_THREAD_ACP, g_watchedProgramPath));
}

FileMatch CompareFiles(const std::wstring& first, const std::wstring& second) {
  BY_HANDLE_FILE_INFORMATION a{};
  BY_HANDLE_FILE_INFORMATION b{};
  if (!IdentifyFile(first, a) || !IdentifyFile(second, b)) {
    return FileMatch::kUnknown;
  }
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
                 a.nFileIndexLow == b.nFileIndexLow
             ? FileMatch::kSameFile
             : FileMatch::kOtherFile;
}
