// voranexmg: installs, removes, starts and stops its own service, or runs as that service.
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <string>

#include "common/console_text.h"
#include "common/narrow_text.h"
#include "service/command_line.h"
#include "service/error_text.h"
#include "service/service_record.h"
#include "service/service_runtime.h"
#include "service/status.h"

namespace {

constexpr wchar_t kServiceName[] = L"Voranexmg";
constexpr wchar_t kDisplayName[] = L"VORANEX QZ Management";

template <std::size_t TargetSize, std::size_t SourceSize>
void CopyText(wchar_t (&target)[TargetSize], const wchar_t (&source)[SourceSize]) {
  static_assert(SourceSize <= TargetSize, "the text does not fit the record");
  std::copy(source, source + SourceSize, target);
}

void WriteIdentity() {
  CopyText(g_serviceRecord.serviceName, kServiceName);
  CopyText(g_serviceRecord.displayName, kDisplayName);
  CopyText(g_serviceRecord.description, kDisplayName);
}

// A line made of ANSI text: the system's error text comes in that code page.
void WriteAnsiLine(const std::string& line) { WriteStandardOutput(ToWide(CP_ACP, line), line); }

// Failures are told in the line only: installer scripts rely on the exit code being 0.
int ReportOperation(const char* verb, DWORD error) {
  const std::string name = ToNarrow(CP_ACP, g_serviceRecord.serviceName);
  WriteAnsiLine(std::string(verb) + ": [" + name + "] " +
                (error == 0 ? "Success" : FormatErrorText(error)) + "\n");
  return 0;
}

int RunDispatcher() { return RunServiceDispatcher() ? 0 : -1; }

int Run(int argc, wchar_t* argv[]) {
  CServiceManager manager;
  CServiceUtility utility;
  WriteIdentity();

  const ParsedCommandLine parsed = ParseCommandLine(argc, argv, g_serviceRecord.requestedOperation);
  switch (parsed.outcome) {
    case ParsedCommandLine::Outcome::kHelp:
      for (const char* line : kHelpLines) {
        WriteStandardOutput(ToWide(CP_UTF8, line), line);
      }
      return -1;
    case ParsedCommandLine::Outcome::kInvalidValue:
      // The argument may hold characters that the ANSI code page lacks; a console shows them.
      WriteStandardOutput(L"Invalid Value: " + parsed.invalidArgument + L"\n",
                          "Invalid Value: " + ToNarrow(CP_ACP, parsed.invalidArgument) + "\n");
      return -1;
    case ParsedCommandLine::Outcome::kRun:
      break;
  }
  g_serviceRecord.requestedOperation = parsed.operation;

  switch (parsed.operation) {
    case kOperationUninstall:
      return ReportOperation("Uninstall", UninstallService());
    case kOperationInstall:
      return ReportOperation("Install", InstallService());
    case kOperationStop:
      return ReportOperation("Stop", StopServiceAndWait());
    case kOperationStart:
      return ReportOperation("Start", StartServiceAndWait());
    case kOperationStatus:
      return RunStatus();
    case kOperationConsoleStart:
      if (::GetConsoleWindow() != nullptr) {
        return static_cast<int>(RunServiceMain());
      }
      return RunDispatcher();
    default:
      return RunDispatcher();
  }
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
  try {
    return Run(argc, argv);
  } catch (...) {
    return -1;
  }
}
