#include <windows.h>

#include <string>
#include <vector>

#include "common/console_text.h"
#include "common/narrow_text.h"
#include "common/service_query.h"
#include "config/watched_executable.h"
#include "config/watched_program.h"
#include "config/watched_service.h"
#include "service/service_record.h"
#include "service/status.h"
#include "service/weak_permissions.h"
#include "watchdog/system_platform.h"

namespace {

constexpr LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr LANGID kKorean = MAKELANGID(LANG_KOREAN, SUBLANG_KOREAN);
// More than any text of the report takes: FormatMessage reads as many as a text names.
constexpr std::size_t kInsertSlots = 9;

ServiceFacts ToFacts(const ServiceView& view) {
  ServiceFacts facts;
  if (view.error == ERROR_SERVICE_DOES_NOT_EXIST) {
    facts.found = ServiceFacts::Found::kNotInstalled;
  } else if (view.error != 0) {
    facts.found = ServiceFacts::Found::kUnreadable;
    facts.error = "Win32 error " + std::to_string(view.error);
  } else {
    facts.found = ServiceFacts::Found::kInstalled;
    facts.state = view.state;
    facts.processId = view.processId;
    facts.commandLine = ToNarrow(CP_THREAD_ACP, view.commandLine);
  }
  return facts;
}

class WindowsStatusSystem : public StatusSystem {
 public:
  ServiceFacts QueryOwnService() override {
    return ToFacts(QueryServiceView(g_serviceRecord.serviceName, true));
  }
  ServiceFacts QueryWatchedService() override {
    return ToFacts(QueryServiceView(kWatchedServiceName, false));
  }
  bool ReadConfigPath(std::string& configPath) override {
    std::wstring text;
    if (!::ReadConfigPath(text)) {
      return false;
    }
    configPath = ToNarrow(CP_THREAD_ACP, text);
    return true;
  }
  std::vector<WeakFinding> FindWeakObjects(const std::string& imagePath,
                                           const std::string& configPath) override {
    std::vector<WeakFinding> findings;
    const std::vector<std::wstring> objects =
        SteeringObjects(OwnExecutable(), ExecutableOfCommandLine(ToWide(CP_THREAD_ACP, imagePath)),
                        ToWide(CP_THREAD_ACP, configPath));
    for (const WeakObject& weak : ::FindWeakObjects(objects)) {
      findings.push_back({ToNarrow(CP_THREAD_ACP, weak.path),
                          ToNarrow(CP_THREAD_ACP, weak.principals),
                          ToNarrow(CP_THREAD_ACP, weak.rights)});
    }
    return findings;
  }
  std::uint64_t CurrentTime() override {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    return (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
  }
};

// The texts of this executable's message table, in the user interface's language.
class MessageTableTexts : public StatusTexts {
 public:
  MessageTableTexts()
      : language_(PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_KOREAN ? kKorean : kEnglish) {
  }

  std::wstring Text(StatusText text, const std::vector<std::wstring>& inserts) const override {
    DWORD_PTR arguments[kInsertSlots] = {};
    for (std::size_t i = 0; i < kInsertSlots; ++i) {
      arguments[i] = reinterpret_cast<DWORD_PTR>(i < inserts.size() ? inserts[i].c_str() : L"");
    }
    std::wstring result = Format(static_cast<DWORD>(text), language_, arguments);
    if (result.empty() && language_ != kEnglish) {
      result = Format(static_cast<DWORD>(text), kEnglish, arguments);
    }
    return result.empty() ? L"#" + std::to_wstring(static_cast<DWORD>(text)) : result;
  }

  std::wstring FromAnsi(const std::string& text) const override {
    return ToWide(CP_THREAD_ACP, text);
  }

 private:
  static std::wstring Format(DWORD id, LANGID language, DWORD_PTR* arguments) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY |
                             FORMAT_MESSAGE_ALLOCATE_BUFFER,
                         nullptr, id, language, reinterpret_cast<wchar_t*>(&buffer), 0,
                         reinterpret_cast<va_list*>(arguments));
    std::wstring text = length > 0 && buffer != nullptr ? std::wstring(buffer, length) : L"";
    ::LocalFree(buffer);
    // Each text of the table ends in a line end of its own.
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) {
      text.pop_back();
    }
    return text;
  }

  const LANGID language_;
};

}  // namespace

int RunStatus() {
  WindowsStatusSystem system;
  const MessageTableTexts texts;
  const StatusReport report = MakeStatusReport(*SystemWatchdogPlatform(), system, texts);
  for (const std::wstring& line : report.lines) {
    const std::wstring text = line + L"\n";
    WriteStandardOutput(text, ToNarrow(CP_UTF8, text));
  }
  return static_cast<int>(report.level);
}
