// Takes the place of "netstat" for the tests, because Wine's own prints no PID column:
// it prints, byte for byte, a listing that the test has written in the "netstat -ano"
// format. The listing is the file named by NETSTAT_STANDIN_LISTING, else listing.txt
// beside this program; without one only the column titles are printed. Only "-ano" is
// answered: any other listing would lack the PID column that the watchdog relies on.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "common/win_handles.h"

namespace {

constexpr char kTitlesOnly[] =
    "\r\nActive Connections\r\n\r\n"
    "  Proto  Local Address          Foreign Address        State           PID\r\n";

std::wstring ListingPath() {
  wchar_t fromEnvironment[MAX_PATH] = {};
  const DWORD length =
      ::GetEnvironmentVariableW(L"NETSTAT_STANDIN_LISTING", fromEnvironment, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    return std::wstring(fromEnvironment, length);
  }
  wchar_t module[MAX_PATH] = {};
  const DWORD moduleLength = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  std::wstring path(module, moduleLength);
  return path.substr(0, path.find_last_of(L'\\') + 1) + L"listing.txt";
}

bool WriteAll(HANDLE out, const char* bytes, DWORD size) {
  while (size > 0) {
    DWORD written = 0;
    if (!::WriteFile(out, bytes, size, &written, nullptr) || written == 0) {
      return false;
    }
    bytes += written;
    size -= written;
  }
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2 || std::wcscmp(argv[1], L"-ano") != 0) {
    std::fwprintf(stderr, L"netstat stand-in: only -ano is answered\n");
    return 1;
  }
  // Raw bytes: a C runtime stream in text mode would turn the listing's CR LF into CR CR LF.
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  UniqueKernelHandle listing(::CreateFileW(ListingPath().c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (listing.Get() == INVALID_HANDLE_VALUE) {
    listing.Release();
    return WriteAll(out, kTitlesOnly, sizeof(kTitlesOnly) - 1) ? 0 : 1;
  }
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(listing.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    if (!WriteAll(out, buffer, read)) {
      return 1;
    }
  }
  return 0;
}
