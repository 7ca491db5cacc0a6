#include "config/watched_executable.h"

#include <windows.h>

#include <vector>

#include "common/narrow_text.h"
#include "common/win_handles.h"
#include "config/registered_command.h"
#include "config/watched_service.h"

namespace {

// No access rights are asked for: a file that is running, or locked for writing, still
// tells its identity. Backup semantics let a folder be opened too.
UniqueKernelHandle OpenForIdentity(const std::wstring& path) {
  UniqueKernelHandle file;
  if (!path.empty()) {
    file.Reset(::CreateFileW(path.c_str(), 0,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  }
  if (file.Get() == INVALID_HANDLE_VALUE) {
    file.Release();
  }
  return file;
}

// "\\?\C:\x" as "C:\x" and "\\?\UNC\host\share" as "\\host\share", the forms in which
// Windows reports a process's image.
std::wstring WithoutLongPrefix(const std::wstring& path) {
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
    return L"\\" + path.substr(7);
  }
  return path.compare(0, 4, L"\\\\?\\") == 0 ? path.substr(4) : path;
}

std::wstring FinalPath(HANDLE file) {
  const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
  const DWORD needed = ::GetFinalPathNameByHandleW(file, nullptr, 0, flags);
  if (needed == 0) {
    return std::wstring();
  }
  std::vector<wchar_t> path(needed + 1);
  const DWORD length = ::GetFinalPathNameByHandleW(file, path.data(), needed + 1, flags);
  return length > 0 && length <= needed ? WithoutLongPrefix(std::wstring(path.data(), length))
                                        : std::wstring();
}

// A path in its long form, as far as it exists: the image of a process may have been
// renamed or deleted since it started, and then only its folder can be expanded.
std::wstring LongPath(const std::wstring& path) {
  const auto expand = [](const std::wstring& text, std::wstring& expanded) {
    const DWORD needed = ::GetLongPathNameW(text.c_str(), nullptr, 0);
    if (needed == 0) {
      return false;
    }
    std::vector<wchar_t> buffer(needed);
    const DWORD length = ::GetLongPathNameW(text.c_str(), buffer.data(), needed);
    expanded.assign(buffer.data(), length < needed ? length : 0);
    return !expanded.empty();
  };
  const std::wstring plain = WithoutLongPrefix(path);
  std::wstring expanded;
  if (expand(plain, expanded)) {
    return expanded;
  }
  const std::size_t slash = plain.find_last_of(L'\\');
  if (slash != std::wstring::npos && slash > 0 && expand(plain.substr(0, slash), expanded)) {
    return expanded + plain.substr(slash);
  }
  return plain;
}

}  // namespace

std::wstring ExecutableOfCommandLine(const std::wstring& commandLine) {
  const std::wstring path = ExecutablePart(commandLine);
  wchar_t expanded[MAX_PATH];
  const DWORD length = ::ExpandEnvironmentStringsW(path.c_str(), expanded, MAX_PATH);
  return length > 0 && length <= MAX_PATH ? std::wstring(expanded) : path;
}

std::wstring WatchedExecutable() {
  return ExecutableOfCommandLine(ToWide(CP_THREAD_ACP, g_watchedProgramPath));
}

FileMatch CompareFiles(const std::wstring& image, const std::wstring& registered) {
  const UniqueKernelHandle registeredFile = OpenForIdentity(registered);
  BY_HANDLE_FILE_INFORMATION b{};
  if (!registeredFile || !::GetFileInformationByHandle(registeredFile.Get(), &b)) {
    return FileMatch::kUnknown;
  }
  const UniqueKernelHandle imageFile = OpenForIdentity(image);
  BY_HANDLE_FILE_INFORMATION a{};
  if (!imageFile || !::GetFileInformationByHandle(imageFile.Get(), &a)) {
    // A program that renamed its own file away, or denies us access to it, must not pass
    // for the server; nor must the server whose image path cannot be opened as written.
    const std::wstring finalPath = FinalPath(registeredFile.Get());
    if (finalPath.empty()) {
      return FileMatch::kUnknown;
    }
    const std::wstring imagePath = LongPath(image);
    return ::CompareStringOrdinal(finalPath.c_str(), -1, imagePath.c_str(), -1, TRUE) == CSTR_EQUAL
               ? FileMatch::kSameFile
               : FileMatch::kOtherFile;
  }
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
                 a.nFileIndexLow == b.nFileIndexLow
             ? FileMatch::kSameFile
             : FileMatch::kOtherFile;
}
