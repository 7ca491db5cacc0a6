// Shows the service's Event Log records as Event Viewer would, for the demo. Wine's
// ReportEventW stores nothing but prints each call, its ID and level on one line and each
// text on one more: "event_records <log> <module>" words those records with the message
// table of <module>, in English and in Korean.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

// Wine's debugstr_w text: L"..." with \" \\ and \xNNNN escapes.
std::wstring Unescape(const std::string& quoted) {
  std::wstring text;
  for (std::size_t i = 0; i < quoted.size(); ++i) {
    if (quoted[i] == '\\' && i + 1 < quoted.size() && quoted[++i] == 'x') {
      text += static_cast<wchar_t>(std::stoul(quoted.substr(i + 1, 4), nullptr, 16));
      i += 4;
    } else {
      text += static_cast<wchar_t>(static_cast<unsigned char>(quoted[i]));
    }
  }
  return text;
}

void PrintUtf8(const std::string& prefix, const std::wstring& text) {
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size > 1 ? size : 1), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], size, nullptr, nullptr);
  std::printf("%s%s\n", prefix.c_str(), utf8.c_str());
}

struct Record {
  WORD type;
  DWORD id;
  std::vector<std::wstring> texts;

  void Print(HMODULE module) const {
    std::vector<DWORD_PTR> inserts(9, reinterpret_cast<DWORD_PTR>(L""));
    for (std::size_t i = 0; i < texts.size() && i < inserts.size(); ++i) {
      inserts[i] = reinterpret_cast<DWORD_PTR>(texts[i].c_str());
    }
    const char* level = type == EVENTLOG_ERROR_TYPE     ? "Error      "
                        : type == EVENTLOG_WARNING_TYPE ? "Warning    "
                                                        : "Information";
    std::string prefix = "   " + std::to_string(id & 0xFFFF) + "  " + level + "  ";
    for (const WORD language : {WORD{0x409}, WORD{0x412}}) {
      wchar_t words[2048] = L"(no text for this ID)";
      ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, id,
                       language, words, 2048, reinterpret_cast<va_list*>(inserts.data()));
      std::wstring line = words;
      line.erase(line.find_last_not_of(L"\r\n") + 1);
      PrintUtf8(prefix, line);
      prefix = std::string(prefix.size(), ' ');
    }
  }
};

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
  const HMODULE module =
      argc == 3 ? ::LoadLibraryExW(argv[2], nullptr, LOAD_LIBRARY_AS_DATAFILE) : nullptr;
  if (module == nullptr) {
    std::fprintf(stderr, "usage: event_records <log> <module with the message table>\n");
    return 2;
  }
  std::vector<Record> records;
  std::ifstream log(argv[1]);
  for (std::string line; std::getline(log, line);) {
    // "(handle,type,category,id,...): stub", then L"text" lines of the same call.
    const std::size_t call = line.find(":advapi:ReportEventW (");
    const std::size_t text = line.find(":eventlog:ReportEventW L\"");
    if (call != std::string::npos) {
      const std::size_t type = line.find(',', call) + 1;
      const std::size_t id = line.find(',', line.find(',', type) + 1) + 1;
      records.push_back({static_cast<WORD>(std::stoul(line.substr(type), nullptr, 16)),
                         static_cast<DWORD>(std::stoul(line.substr(id), nullptr, 16)),
                         {}});
    } else if (text != std::string::npos && !records.empty()) {
      const std::size_t first = text + 25;
      records.back().texts.push_back(Unescape(line.substr(first, line.rfind('"') - first)));
    }
  }
  for (const Record& record : records) {
    record.Print(module);
  }
  ::FreeLibrary(module);
  return 0;
}
