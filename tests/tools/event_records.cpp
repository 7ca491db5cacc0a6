// Shows the service's Event Log records as Event Viewer would, for the demo. Wine's
// ReportEventW stores nothing but prints each call, so the records come from that output:
// "event_records <log> <module>" reads the ReportEventW lines that Wine printed to <log>
// and words each record with the message table of <module>, in English and in Korean.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct Record {
  std::string thread;  // Wine's thread prefix, which ties the texts to their call
  WORD type = 0;
  DWORD id = 0;
  std::vector<std::wstring> texts;
};

// The text of Wine's debugstr_w: L"..." with \" \\ \n \r \t and \xNNNN escapes.
std::wstring Unescape(const std::string& quoted) {
  std::wstring text;
  for (std::size_t i = 0; i < quoted.size(); ++i) {
    if (quoted[i] != '\\' || i + 1 >= quoted.size()) {
      text += static_cast<wchar_t>(static_cast<unsigned char>(quoted[i]));
      continue;
    }
    const char next = quoted[++i];
    if (next == 'x' && i + 4 < quoted.size()) {
      text += static_cast<wchar_t>(std::stoul(quoted.substr(i + 1, 4), nullptr, 16));
      i += 4;
    } else {
      text += next == 'n' ? L'\n' : next == 'r' ? L'\r' : next == 't' ? L'\t' : wchar_t(next);
    }
  }
  return text;
}

std::vector<Record> ReadRecords(const wchar_t* path) {
  std::vector<Record> records;
  std::ifstream log(path);
  std::string line;
  while (std::getline(log, line)) {
    const std::size_t colon = line.find(':');
    const std::string thread = line.substr(0, colon);
    const std::size_t call = line.find("ReportEventW (");
    if (line.find(":advapi:") != std::string::npos && call != std::string::npos) {
      // (handle,type,category,id,sid,count,size,strings,data)
      std::vector<std::string> fields;
      std::size_t start = call + 14;
      for (std::size_t comma; (comma = line.find(',', start)) != std::string::npos;
           start = comma + 1) {
        fields.push_back(line.substr(start, comma - start));
      }
      if (fields.size() >= 4) {
        records.push_back({thread,
                           static_cast<WORD>(std::stoul(fields[1], nullptr, 16)),
                           static_cast<DWORD>(std::stoul(fields[3], nullptr, 16)),
                           {}});
      }
      continue;
    }
    const std::size_t text = line.find(":eventlog:ReportEventW L\"");
    if (text != std::string::npos && !records.empty() && records.back().thread == thread) {
      const std::size_t first = text + 25;
      const std::size_t last = line.rfind('"');
      records.back().texts.push_back(Unescape(line.substr(first, last - first)));
    }
  }
  return records;
}

std::wstring Words(HMODULE module, const Record& record, WORD language) {
  std::vector<DWORD_PTR> inserts;
  for (const std::wstring& text : record.texts) {
    inserts.push_back(reinterpret_cast<DWORD_PTR>(text.c_str()));
  }
  inserts.resize(9, reinterpret_cast<DWORD_PTR>(L""));
  wchar_t* message = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER,
      module, record.id, language, reinterpret_cast<wchar_t*>(&message), 0,
      reinterpret_cast<va_list*>(inserts.data()));
  std::wstring words = length > 0 ? std::wstring(message, length) : L"(no text for this ID)";
  ::LocalFree(message);
  while (!words.empty() && (words.back() == L'\n' || words.back() == L'\r')) {
    words.pop_back();
  }
  return words;
}

const char* LevelName(WORD type) {
  return type == EVENTLOG_ERROR_TYPE     ? "Error      "
         : type == EVENTLOG_WARNING_TYPE ? "Warning    "
                                         : "Information";
}

// The demo's terminal reads UTF-8.
void Print(const std::string& prefix, const std::wstring& text) {
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], size, nullptr, nullptr);
  std::printf("%s%s\n", prefix.c_str(), utf8.c_str());
}

}  // namespace

int wmain(int argc, wchar_t* argv[]) {
  if (argc != 3) {
    std::fwprintf(stderr, L"usage: event_records <log> <module>\n");
    return 2;
  }
  const HMODULE module = ::LoadLibraryExW(argv[2], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) {
    std::fwprintf(stderr, L"event_records: cannot load %ls (%lu)\n", argv[2], ::GetLastError());
    return 1;
  }
  for (const Record& record : ReadRecords(argv[1])) {
    Print("   " + std::to_string(record.id & 0xFFFF) + "  " + LevelName(record.type) + "  ",
          Words(module, record, 0x409));
    Print(std::string(22, ' '), Words(module, record, 0x412));
  }
  ::FreeLibrary(module);
  return 0;
}
