// voranexmg.exe itself, run from a folder whose name has a space, against Wine's real
// SCM and registry: its lines, exit codes and what it leaves in the SCM.
#include <windows.h>
// Security descriptors need the types of windows.h declared first.
#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "config/port_list.h"
#include "event_messages.h"
#include "service/command_line.h"
#include "service_test_util.h"
#include "watchdog/windows_platform.h"
#include "win_test_util.h"

namespace {

constexpr wchar_t kName[] = L"Voranexmg";
constexpr wchar_t kWatched[] = L"voranexsv";
constexpr wchar_t kFolder[] = L"C:\\Program Files\\Voranex QZ";
// The event source, under HKLM\SYSTEM\CurrentControlSet\Services like the services.
constexpr wchar_t kEventSource[] = L"EventLog\\Application\\Voranexmg";
constexpr DWORD kMinusOne = static_cast<DWORD>(-1);

std::wstring InFolder(const wchar_t* file) { return std::wstring(kFolder) + L"\\" + file; }

// stdout is in text mode, so every LF that printf writes reaches the file as CR LF.
std::string TextMode(const std::string& text) {
  std::string bytes;
  for (const char c : text) {
    if (c == '\n') {
      bytes += '\r';
    }
    bytes += c;
  }
  return bytes;
}

// The failure line as the system words the code, through the narrow API; a code without
// text (Wine has none for WAIT_TIMEOUT) is named by its number.
std::string FailureLine(const char* verb, DWORD code) {
  char* text = nullptr;
  ::FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  const std::string message =
      text != nullptr ? text : "Unknown error " + std::to_string(code) + "\r\n";
  ::LocalFree(text);
  return TextMode(std::string(verb) + ": [Voranexmg] " + message + "\n");
}

std::string HelpText() {
  std::string text;
  for (const char* line : kHelpLines) {
    text += line;
  }
  return TextMode(text);
}

ProcessResult Voranexmg(const std::wstring& arguments, DWORD timeoutMs = 60000) {
  return RunCaptured(L"\"" + InFolder(L"voranexmg.exe") + L"\" " + arguments, timeoutMs);
}

// The process of the running watched service, other than `old`, within the time, or 0.
// Asked of the SCM: "voranexsv.exe -start", which asks the SCM for the service and then
// ends, has the same image name.
DWORD WaitForWatchedService(DWORD old, DWORD timeoutMs) {
  SERVICE_STATUS_PROCESS status{};
  const bool running = WaitUntil(
      [&] {
        return QueryStatus(kWatched, status) && status.dwCurrentState == SERVICE_RUNNING &&
               status.dwProcessId != 0 && status.dwProcessId != old;
      },
      timeoutMs);
  return running ? status.dwProcessId : 0;
}

// Wine's ReportEventW stores nothing, but the test prefix's services print each event's
// text here, as a wide C literal.
constexpr wchar_t kServiceEvents[] = L"C:\\services-events.log";

// An empty file beside the stand-in that changes what it does, there for one test.
struct MarkerFile {
  explicit MarkerFile(std::wstring file) : path(std::move(file)) {
    const HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    made = handle != INVALID_HANDLE_VALUE && ::CloseHandle(handle);
  }
  ~MarkerFile() { ::DeleteFileW(path.c_str()); }
  std::wstring path;
  bool made = false;
};

// How often the service's event log has held `what` since byte `since`.
std::size_t EventsSince(std::size_t since, const std::string& what) {
  const std::string events = ReadWholeFile(kServiceEvents);
  std::size_t count = 0;
  for (std::size_t at = events.find(what, since); at != std::string::npos;
       at = events.find(what, at + 1)) {
    ++count;
  }
  return count;
}

void KillAll(const wchar_t* image) {
  for (const DWORD id : ProcessIds(image)) {
    Kill(id);
  }
}

class VoranexmgExeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // A service left running by an earlier run would keep the copy from replacing it.
    CleanUp();
    ::CreateDirectoryW(kFolder, nullptr);
    for (const wchar_t* file : {L"voranexmg.exe", L"voranexsv.exe"}) {
      ASSERT_TRUE(
          ::CopyFileW((ProgramFolder() + L"\\" + file).c_str(), InFolder(file).c_str(), FALSE));
    }
  }
  void SetUp() override { CleanUp(); }
  void TearDown() override { CleanUp(); }

  // Installs the watched stand-in and Voranexmg, starts Voranexmg and waits for the
  // server that its watchdog starts.
  static void StartWithTheWatchedProgram(DWORD& server) {
    ASSERT_TRUE(CreateTestService(kWatched, InFolder(L"voranexsv.exe")));
    ASSERT_EQ(Voranexmg(L"-install").exitCode, 0u);
    ASSERT_EQ(Voranexmg(L"-start").exitCode, 0u);
    server = WaitForWatchedService(0, 30000);
    ASSERT_NE(server, 0u) << "the watchdog did not start voranexsv";
  }

  static void CleanUp() {
    RemoveService(kName);
    RemoveService(kWatched);
    KillAll(L"voranexsv.exe");
    DeleteMachineKey(
        (L"SYSTEM\\CurrentControlSet\\Services\\" + std::wstring(kEventSource)).c_str());
  }
};

TEST_F(VoranexmgExeTest, OptionsChooseOneOperationOrNone) {
  struct Case {
    const wchar_t* arguments;
    std::string output;
    DWORD exitCode;
    DWORD stateAfter;
  };
  const std::string installed = TextMode("Install: [Voranexmg] Success\n");
  const Case cases[] = {
      // Outside the SCM the dispatcher fails, silently.
      {L"", "", kMinusOne, 0},
      // Without a console window the console run is not possible either.
      {L"-consoleStart", "", kMinusOne, 0},
      {L"-", TextMode("Invalid Value: -\n"), kMinusOne, 0},
      {L"install", TextMode("Invalid Value: install\n"), kMinusOne, 0},
      {L"-install -x", TextMode("Invalid Value: -x\n"), kMinusOne, 0},
      {L"-install -?", HelpText(), kMinusOne, 0},
      {L"-? -x", HelpText(), kMinusOne, 0},
      {L"/INSTALL", installed, 0, SERVICE_STOPPED},
      {L"-install -start", installed, 0, SERVICE_STOPPED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "arguments: " << c.arguments);
    RemoveService(kName);
    const ProcessResult run = Voranexmg(c.arguments);
    EXPECT_EQ(run.output, c.output);
    EXPECT_EQ(run.exitCode, c.exitCode);
    EXPECT_EQ(QueryState(kName), c.stateAfter);
  }
}

TEST_F(VoranexmgExeTest, InstallRegistersAQuotedPathAndASecondInstallFails) {
  const ProcessResult first = Voranexmg(L"-install");
  EXPECT_EQ(first.output, TextMode("Install: [Voranexmg] Success\n"));
  EXPECT_EQ(first.exitCode, 0u);

  const std::wstring quotedPath = L"\"" + InFolder(L"voranexmg.exe") + L"\"";
  const std::pair<const wchar_t*, std::wstring> texts[] = {
      {L"ImagePath", quotedPath},
      {L"DisplayName", L"VORANEX QZ Management"},
      {L"Description", L"VORANEX QZ Management"},
      {L"ObjectName", L"LocalSystem"},
  };
  for (const auto& [value, expected] : texts) {
    EXPECT_EQ(ServiceValueText(kName, value), expected) << value;
  }
  const std::pair<const wchar_t*, DWORD> numbers[] = {
      {L"Start", SERVICE_AUTO_START},
      {L"Type", SERVICE_WIN32_OWN_PROCESS},
      {L"ErrorControl", SERVICE_ERROR_NORMAL},
  };
  for (const auto& [value, expected] : numbers) {
    EXPECT_EQ(ServiceValueNumber(kName, value), expected) << value;
  }
  // The event source points to the executable itself, unquoted, for its message table.
  EXPECT_EQ(ServiceValueText(kEventSource, L"EventMessageFile"), InFolder(L"voranexmg.exe"));
  EXPECT_EQ(ServiceValueNumber(kEventSource, L"TypesSupported"), 7u);

  const ProcessResult second = Voranexmg(L"-install");
  EXPECT_EQ(second.output, FailureLine("Install", ERROR_SERVICE_EXISTS));
  // The system's own CR LF, then the line's LF: CR CR LF CR LF once stdout has added its CRs.
  EXPECT_EQ(second.output.substr(second.output.size() - 5), "\r\r\n\r\n");
  EXPECT_EQ(second.exitCode, 0u);
  EXPECT_EQ(ServiceValueText(kName, L"ImagePath"), quotedPath);
}

// Explorer's Details tab and PowerShell's VersionInfo show these; the version is the
// build's own.
TEST_F(VoranexmgExeTest, VersionResourceNamesTheProductAndTheBuildsVersion) {
  const std::wstring file = InFolder(L"voranexmg.exe");
  DWORD ignored = 0;
  std::vector<BYTE> info(::GetFileVersionInfoSizeW(file.c_str(), &ignored));
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(::GetFileVersionInfoW(file.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
  const auto query = [&info](const std::wstring& path) -> const void* {
    void* value = nullptr;
    UINT length = 0;
    return ::VerQueryValueW(info.data(), path.c_str(), &value, &length) && length > 0 ? value
                                                                                      : nullptr;
  };
  const std::wstring version = TEXT(VORANEX_VERSION);
  const std::pair<const wchar_t*, std::wstring> strings[] = {
      {L"CompanyName", L"VORANEX"},
      {L"ProductName", L"VORANEX QZ"},
      {L"FileDescription", L"VORANEX QZ Management"},
      {L"InternalName", L"voranexmg.exe"},
      {L"OriginalFilename", L"voranexmg.exe"},
      {L"FileVersion", version},
      {L"ProductVersion", version},
  };
  for (const auto& [name, expected] : strings) {
    const void* value = query(std::wstring(L"\\StringFileInfo\\040904b0\\") + name);
    EXPECT_EQ(value ? static_cast<const wchar_t*>(value) : L"(missing)", expected) << name;
  }
  EXPECT_NE(query(L"\\StringFileInfo\\040904b0\\LegalCopyright"), nullptr);
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(query(L"\\"));
  ASSERT_NE(fixed, nullptr);
  EXPECT_EQ(fixed->dwFileVersionMS,
            static_cast<DWORD>(MAKELONG(VORANEX_VERSION_MINOR, VORANEX_VERSION_MAJOR)));
  EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(0, VORANEX_VERSION_PATCH)));
}

// Event Viewer takes each event's text from the executable, with the event's text in it.
TEST_F(VoranexmgExeTest, MessageTableWordsEveryEvent) {
  const std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&::FreeLibrary)> module(
      ::LoadLibraryExW(InFolder(L"voranexmg.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE),
      &::FreeLibrary);
  ASSERT_NE(module, nullptr);
  const DWORD ids[] = {MSG_PORT_OWNER_KILLED,    MSG_SERVER_RESTARTED,   MSG_SERVER_KEY_MISSING,
                       MSG_WATCHDOG_NOT_STARTED, MSG_RESTART_TIMED_OUT,  MSG_RESTART_LOOP,
                       MSG_RESTART_LOOP_OVER,    MSG_WEAK_PERMISSIONS,   MSG_IMPOSTOR_PROCESS,
                       MSG_RESTART_FAILED,       MSG_RESTART_NOT_RUN,    MSG_SERVER_NOT_LISTENING,
                       MSG_SERVER_LISTENS,       MSG_LAUNCHER_REGISTERED};
  const auto hasHangul = [](const std::wstring& text) {
    return std::any_of(text.begin(), text.end(),
                       [](wchar_t c) { return c >= 0xAC00 && c <= 0xD7A3; });
  };
  for (DWORD expected = 1000; expected < 1000 + std::size(ids); ++expected) {
    const DWORD id = ids[expected - 1000];
    EXPECT_EQ(id & 0xFFFF, expected);
    // Event Viewer shows the text in the viewer's language, English or Korean.
    for (const WORD language : {WORD{0x409}, WORD{0x412}}) {
      DWORD_PTR inserts[] = {
          reinterpret_cast<DWORD_PTR>(L"<1>"), reinterpret_cast<DWORD_PTR>(L"<2>"),
          reinterpret_cast<DWORD_PTR>(L"<3>"), reinterpret_cast<DWORD_PTR>(L"<4>")};
      wchar_t text[512] = {};
      EXPECT_GT(::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                 module.get(), id, language, text, 512,
                                 reinterpret_cast<va_list*>(inserts)),
                0u)
          << expected << " in " << language;
      EXPECT_NE(std::wstring(text).find(L"<1>"), std::wstring::npos) << expected;
      EXPECT_EQ(hasHangul(text), language == 0x412) << expected << " in " << language;
    }
  }
}

// The SCM keeps the restart actions in the binary value FailureActions: a reset period,
// two unused offsets, the action count, a fourth offset, then {type, delay} per action.
TEST_F(VoranexmgExeTest, RegistryHoldsThreeRestartActions) {
  ASSERT_EQ(Voranexmg(L"-install").exitCode, 0u);
  const std::wstring key = std::wstring(L"SYSTEM\\CurrentControlSet\\Services\\") + kName;
  DWORD words[11] = {};
  DWORD bytes = sizeof(words);
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"FailureActions", RRF_RT_REG_BINARY, nullptr,
                     words, &bytes) != ERROR_SUCCESS) {
    GTEST_SKIP() << "this SCM keeps no failure actions (Wine accepts them and stores nothing); "
                    "InstallServiceTest checks what install hands over";
  }
  ASSERT_EQ(bytes, sizeof(words));
  EXPECT_EQ(words[0], 24u * 60 * 60);
  EXPECT_EQ(words[3], 3u);
  const DWORD delays[] = {5000, 15000, 60000};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(words[5 + 2 * i], static_cast<DWORD>(SC_ACTION_RESTART));
    EXPECT_EQ(words[6 + 2 * i], delays[i]);
  }
}

TEST_F(VoranexmgExeTest, OperationsOnAServiceThatIsNotInstalledSaySo) {
  const std::pair<const wchar_t*, const char*> cases[] = {
      {L"-start", "Start"}, {L"-stop", "Stop"}, {L"-uninstall", "Uninstall"}};
  for (const auto& [option, verb] : cases) {
    SCOPED_TRACE(verb);
    const ProcessResult run = Voranexmg(option);
    EXPECT_EQ(run.output, FailureLine(verb, ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(run.exitCode, 0u);
  }
}

// The watchdog runs in the service; while paused it leaves a dead watched program alone.
TEST_F(VoranexmgExeTest, StartPauseContinueAndStopWithTheWatchedProgram) {
  // Registered as its installer would: unquoted, although the path has a space.
  ASSERT_TRUE(CreateTestService(kWatched, InFolder(L"voranexsv.exe")));
  ASSERT_EQ(Voranexmg(L"-install").exitCode, 0u);

  const std::size_t eventsBefore = ReadWholeFile(kServiceEvents).size();
  const ProcessResult start = Voranexmg(L"-start");
  EXPECT_EQ(start.output, TextMode("Start: [Voranexmg] Success\n"));
  EXPECT_EQ(QueryState(kName), static_cast<DWORD>(SERVICE_RUNNING));
  // The watchdog's first look comes at once and finds the watched program missing.
  const DWORD first = WaitForWatchedService(0, 30000);
  ASSERT_NE(first, 0u) << "the watchdog did not start voranexsv";
  // A service has no console: the restart is on record in the Event Log, as a warning.
  const std::string restartEvent =
      R"(warn:eventlog:ReportEventW L"\"C:\\Program Files\\Voranex QZ\\voranexsv.exe\" -start")";
  EXPECT_TRUE(WaitUntil(
      [&] {
        return ReadWholeFile(kServiceEvents).find(restartEvent, eventsBefore) != std::string::npos;
      },
      10000))
      << "no event " << restartEvent;

  ASSERT_TRUE(SendControl(kName, SERVICE_CONTROL_PAUSE));
  ASSERT_TRUE(WaitForState(kName, SERVICE_PAUSED, 10000));
  Kill(first);
  ASSERT_TRUE(WaitForExit(first, 10000));
  // Longer than one watchdog cycle of ten seconds: not even the starter may appear.
  EXPECT_FALSE(WaitUntil([] { return !ProcessIds(L"voranexsv.exe").empty(); }, 12000))
      << "restarted while paused";

  ASSERT_TRUE(SendControl(kName, SERVICE_CONTROL_CONTINUE));
  EXPECT_TRUE(WaitForState(kName, SERVICE_RUNNING, 10000));
  const DWORD second = WaitForWatchedService(first, 30000);
  EXPECT_NE(second, 0u) << "not restarted after continue";

  const ProcessResult stop = Voranexmg(L"-stop");
  EXPECT_EQ(stop.output, TextMode("Stop: [Voranexmg] Success\n"));
  EXPECT_EQ(QueryState(kName), static_cast<DWORD>(SERVICE_STOPPED));
}

// The server's starter hangs, and the watchdog with it: pause, continue and stop are each
// answered in a few seconds all the same, and the stop ends the service's process.
TEST_F(VoranexmgExeTest, ControlsAreAnsweredWhileTheStarterHangs) {
  const MarkerFile hang(InFolder(L"voranexsv.hang"));
  ASSERT_TRUE(hang.made);
  ASSERT_TRUE(CreateTestService(kWatched, InFolder(L"voranexsv.exe")));
  ASSERT_EQ(Voranexmg(L"-install").exitCode, 0u);
  ASSERT_EQ(Voranexmg(L"-start").output, TextMode("Start: [Voranexmg] Success\n"));
  const DWORD servicePid = ServiceProcessId(kName);
  ASSERT_NE(servicePid, 0u);
  ASSERT_TRUE(WaitUntil([] { return !ProcessIds(L"voranexsv.exe").empty(); }, 30000))
      << "the watchdog did not run the starter";

  const std::pair<DWORD, DWORD> steps[] = {{SERVICE_CONTROL_PAUSE, SERVICE_PAUSED},
                                           {SERVICE_CONTROL_CONTINUE, SERVICE_RUNNING},
                                           {SERVICE_CONTROL_STOP, SERVICE_STOPPED}};
  for (const auto& [control, state] : steps) {
    SCOPED_TRACE(control);
    const ULONGLONG began = ::GetTickCount64();
    EXPECT_TRUE(SendControl(kName, control)) << "ControlService: " << ::GetLastError();
    EXPECT_TRUE(WaitForState(kName, state, 5000));
    EXPECT_LT(::GetTickCount64() - began, 5000u);
  }
  EXPECT_TRUE(WaitForExit(servicePid, 10000)) << "the service's process still runs";
}

// Installed from a folder that everyone may write to, the service says so once per run,
// at start, not again before its restart; the watched program's normal folder is fine.
TEST_F(VoranexmgExeTest, AWorldWritableFolderIsToldOfOnce) {
  std::wstring weak = L"C:\\Voranexmg Weak";
  ::CreateDirectoryW(weak.c_str(), nullptr);
  ASSERT_TRUE(
      ::CopyFileW(InFolder(L"voranexmg.exe").c_str(), (weak + L"\\voranexmg.exe").c_str(), FALSE));
  PSECURITY_DESCRIPTOR open = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:(A;;FA;;;BA)(A;;FA;;;SY)(A;;FA;;;WD)", SDDL_REVISION_1, &open, nullptr));
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  ::GetSecurityDescriptorDacl(open, &present, &dacl, &defaulted);
  const DWORD set = ::SetNamedSecurityInfoW(&weak[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                            nullptr, nullptr, dacl, nullptr);
  ::LocalFree(open);
  ASSERT_EQ(set, static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_TRUE(CreateTestService(kWatched, InFolder(L"voranexsv.exe")));

  const std::size_t eventsBefore = ReadWholeFile(kServiceEvents).size();
  ASSERT_EQ(RunCaptured(L"\"" + weak + L"\\voranexmg.exe\" -install").exitCode, 0u);
  ASSERT_EQ(RunCaptured(L"\"" + weak + L"\\voranexmg.exe\" -start").exitCode, 0u);
  // The restart of the watched program checks again.
  EXPECT_NE(WaitForWatchedService(0, 30000), 0u);
  const std::string restarted = R"(warn:eventlog:ReportEventW L"\"C:\\Program Files)";
  ASSERT_TRUE(WaitUntil(
      [&] {
        return ReadWholeFile(kServiceEvents).find(restarted, eventsBefore) != std::string::npos;
      },
      10000));
  const std::string events = ReadWholeFile(kServiceEvents).substr(eventsBefore);
  const std::string told = R"(warn:eventlog:ReportEventW L"C:\\Voranexmg Weak")";
  const std::size_t first = events.find(told);
  EXPECT_NE(first, std::string::npos) << events;
  EXPECT_EQ(events.find(told, first + 1), std::string::npos) << "told twice";
  EXPECT_NE(events.find(R"(warn:eventlog:ReportEventW L"Everyone")"), std::string::npos) << events;
  EXPECT_EQ(events.find(R"(warn:eventlog:ReportEventW L"C:\\Program Files)"), std::string::npos)
      << "a normal folder told of:\n"
      << events;
  RemoveService(kName);
}

// Anyone may run a program named voranexsv.exe from a folder of their own. It must not
// hide the server's death, and is told of once, by its path; nothing is done to it.
TEST_F(VoranexmgExeTest, AProgramOfTheServersNameFromAnotherFolderIsNotTheServer) {
  const std::wstring folder = L"C:\\Voranex Impostor";
  const std::wstring impostor = folder + L"\\voranexsv.exe";
  ::CreateDirectoryW(folder.c_str(), nullptr);
  ASSERT_TRUE(
      ::CopyFileW((ProgramFolder() + L"\\port_holder.exe").c_str(), impostor.c_str(), FALSE));
  const std::size_t eventsBefore = ReadWholeFile(kServiceEvents).size();
  DWORD first = 0;
  ASSERT_NO_FATAL_FAILURE(StartWithTheWatchedProgram(first));

  ASSERT_EQ(RunCaptured(L"cmd /c start \"\" \"" + impostor + L"\" 47131").exitCode, 0u);
  DWORD other = 0;
  ASSERT_TRUE(WaitUntil(
      [&] {
        for (const DWORD id : ProcessIds(L"voranexsv.exe")) {
          other = id != first ? id : other;
        }
        return other != 0;
      },
      10000))
      << "the program of the same name did not start";
  Kill(first);
  EXPECT_NE(WaitForWatchedService(first, 30000), 0u) << "the server was not restarted";

  const std::string told = R"(warn:eventlog:ReportEventW L"C:\\Voranex Impostor\\voranexsv.exe")";
  EXPECT_TRUE(WaitUntil([&] { return EventsSince(eventsBefore, told) > 0; }, 10000));
  EXPECT_EQ(EventsSince(eventsBefore, told), 1u);
  EXPECT_GT(EventsSince(eventsBefore, R"(ReportEventW L")" + std::to_string(other) + "\""), 0u);
  EXPECT_FALSE(WaitForExit(other, 0)) << "the program of the same name was ended";
}

// Slow: a server has 60 s to listen. One that never opens its listener is told of after
// that and a cycle or two; once it listens, the next server process is not.
TEST_F(VoranexmgExeTest, AServerThatNeverListensIsToldOfAndOneThatListensIsNot) {
  std::vector<Listener> listeners;
  ASSERT_TRUE(WindowsWatchdogPlatform().ReadListeners(listeners));
  for (const Listener& listener : listeners) {
    // Wine 8 lists the host's own listeners too, each with owner 0, which counts as the
    // server's.
    if (MakeDefaultPortSet().count(std::to_string(listener.port)) != 0) {
      GTEST_SKIP() << "port " << listener.port << " is held on this machine already";
    }
  }
  const MarkerFile deaf(InFolder(L"voranexsv.deaf"));
  ASSERT_TRUE(deaf.made);
  const std::size_t eventsBefore = ReadWholeFile(kServiceEvents).size();
  DWORD first = 0;
  ASSERT_NO_FATAL_FAILURE(StartWithTheWatchedProgram(first));

  const std::string warned = R"(warn:eventlog:ReportEventW L"36039, 36523, 4033, 4044, 4045, )"
                             R"(4046, 4523, 4524, 4525, 4526")";
  EXPECT_TRUE(WaitUntil([&] { return EventsSince(eventsBefore, warned) == 1; }, 100000));
  EXPECT_GT(EventsSince(eventsBefore, R"(ReportEventW L")" + std::to_string(first) + "\""), 0u);

  ::DeleteFileW(deaf.path.c_str());
  Kill(first);
  ASSERT_NE(WaitForWatchedService(first, 30000), 0u) << "the server was not restarted";
  // The grace and two cycles.
  EXPECT_FALSE(WaitUntil([&] { return EventsSince(eventsBefore, warned) > 1; }, 85000))
      << "a listening server told of";
}

// -status reads what the watchdog would see: the watched pair is OK, and once the service
// is stopped and the server killed, nothing keeps the server alive.
TEST_F(VoranexmgExeTest, StatusIsOkWithAWatchedServerAndCriticalWithout) {
  DWORD server = 0;
  ASSERT_NO_FATAL_FAILURE(StartWithTheWatchedProgram(server));
  // The stand-in opens its listener just after it reports running.
  ProcessResult ok;
  EXPECT_TRUE(WaitUntil(
      [&] {
        ok = Voranexmg(L"-status");
        return ok.output.find("VORANEXMG OK - the server (PID " + std::to_string(server) + ")") ==
                   0 &&
               ok.output.find(" port 4033") < ok.output.find(" | server_uptime=");
      },
      20000))
      << ok.output;
  EXPECT_EQ(ok.exitCode, 0u);

  ASSERT_EQ(Voranexmg(L"-stop").exitCode, 0u);
  // Stopped rather than killed: Wine's SCM takes some 20 s to notice a killed service.
  ASSERT_TRUE(SendControl(kWatched, SERVICE_CONTROL_STOP));
  ASSERT_TRUE(WaitForExit(server, 10000));
  const ProcessResult critical = Voranexmg(L"-status");
  EXPECT_EQ(critical.exitCode, 2u);
  EXPECT_EQ(critical.output.find("VORANEXMG CRITICAL - no process of the registered program runs"),
            0u)
      << critical.output;
}

TEST_F(VoranexmgExeTest, UninstallOfARunningServiceStopsItFirst) {
  ASSERT_EQ(Voranexmg(L"-install").exitCode, 0u);
  ASSERT_EQ(Voranexmg(L"-start").output, TextMode("Start: [Voranexmg] Success\n"));
  const DWORD servicePid = ServiceProcessId(kName);
  ASSERT_NE(servicePid, 0u);

  const ProcessResult run = Voranexmg(L"-uninstall");
  EXPECT_EQ(run.output, TextMode("Uninstall: [Voranexmg] Success\n"));
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(QueryState(kName), 0u) << "still installed";
  EXPECT_EQ(ServiceValueText(kEventSource, L"EventMessageFile"), L"(missing)");
  EXPECT_TRUE(WaitForExit(servicePid, 10000)) << "the service's process still runs";
}

// Slow: the start waits its full 29 polls of a second each.
TEST_F(VoranexmgExeTest, SlowStartThatNeverRunsEndsInWaitTimeout) {
  ASSERT_TRUE(CreateTestService(kName, L"\"" + ProgramFolder() + L"\\service_stub.exe\""));
  const ULONGLONG began = ::GetTickCount64();
  const ProcessResult run = Voranexmg(L"-start", 90000);
  const ULONGLONG elapsed = ::GetTickCount64() - began;
  EXPECT_EQ(run.output, FailureLine("Start", WAIT_TIMEOUT));
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_GE(elapsed, 29000u);
  EXPECT_LT(elapsed, 60000u);
}

}  // namespace
