#include "config/port_list.h"

#include <cstddef>
#include <cstdio>
#include <memory>

#include <rapidjson/document.h>
#include <rapidjson/filereadstream.h>
#include <boost/filesystem/operations.hpp>
#include <boost/lexical_cast.hpp>
#include <boost/system/system_error.hpp>
#include <boost/tokenizer.hpp>

#include "config/watched_program.h"

namespace {

// RapidJSON's reader recurses once per level of nesting, so a file of a few hundred
// thousand "[" would overflow the watchdog thread's stack. No configuration file nests
// anywhere near this deep.
constexpr int kMaxNesting = 256;

// Passes the file through to the reader and ends the text early once it nests deeper
// than kMaxNesting; the reader then reports an unexpected end, and the file counts as
// one that does not parse.
class NestingLimitedStream {
 public:
  using Ch = char;

  explicit NestingLimitedStream(rapidjson::FileReadStream& file) : file_(file) {}

  Ch Peek() const { return tooDeep_ ? '\0' : file_.Peek(); }
  Ch Take() {
    if (tooDeep_) {
      return '\0';
    }
    const Ch c = file_.Take();
    Track(c);
    return c;
  }
  std::size_t Tell() const { return file_.Tell(); }
  // Named by the reader's in-place branches, which a file stream never takes.
  Ch* PutBegin() { return file_.PutBegin(); }
  void Put(Ch c) { file_.Put(c); }
  void Flush() { file_.Flush(); }
  std::size_t PutEnd(Ch* begin) { return file_.PutEnd(begin); }

 private:
  void Track(Ch c) {
    if (inString_) {
      if (escaped_) {
        escaped_ = false;
      } else if (c == '\\') {
        escaped_ = true;
      } else if (c == '"') {
        inString_ = false;
      }
    } else if (c == '"') {
      inString_ = true;
    } else if (c == '[' || c == '{') {
      tooDeep_ = ++depth_ > kMaxNesting;
    } else if ((c == ']' || c == '}') && depth_ > 0) {
      --depth_;
    }
  }

  rapidjson::FileReadStream& file_;
  int depth_ = 0;
  bool inString_ = false;
  bool escaped_ = false;
  bool tooDeep_ = false;
};

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

bool ConfigFileExists(const std::string& path) {
  try {
    return boost::filesystem::exists(path);
  } catch (const boost::system::system_error&) {
    // No access to the directory, or a name that the platform cannot convert.
    return false;
  }
}

void AddPortList(PortSet& ports, const std::string& text) {
  const boost::char_separator<char> comma(",");
  const boost::tokenizer<boost::char_separator<char>> pieces(text, comma);
  ports.insert(pieces.begin(), pieces.end());
}

void AddPortsOfMember(PortSet& ports, const rapidjson::Value& root, const char* key) {
  const rapidjson::Value::ConstMemberIterator member = root.FindMember(key);
  if (member == root.MemberEnd()) {
    return;
  }
  const std::string text = JsonValueToString(member->value, "");
  if (!text.empty()) {
    AddPortList(ports, text);
  }
}

}  // namespace

PortSet MakeDefaultPortSet() {
  return PortSet{"4033", "4044", "4045", "4046", "36039", "4523", "4524", "4525", "4526", "36523"};
}

ConfigFileRead AddConfiguredPorts(PortSet& ports, std::string configDirectory) {
  if (configDirectory.empty()) {
    return ConfigFileRead::kNoFolder;
  }
  // The separator is appended even after a trailing one: Windows takes the doubled
  // backslash as a single one.
  const std::string path = configDirectory + "\\" + kConfigFileName;
  if (!ConfigFileExists(path)) {
    return ConfigFileRead::kMissing;
  }
  // A file that exists but cannot be opened (a directory, a sharing violation) is
  // taken as missing.
  const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    return ConfigFileRead::kUnreadable;
  }

  char buffer[4096];
  rapidjson::FileReadStream fileStream(file.get(), buffer, sizeof(buffer));
  NestingLimitedStream stream(fileStream);
  rapidjson::Document document;
  document.ParseStream<rapidjson::kParseDefaultFlags>(stream);
  // Member lookup is defined only on an object; RapidJSON asserts on an array root.
  if (document.HasParseError() || !document.IsObject()) {
    return ConfigFileRead::kUnreadable;
  }
  AddPortsOfMember(ports, document, kListeningPortsKey);
  AddPortsOfMember(ports, document, kSslPortKey);
  return ConfigFileRead::kRead;
}

std::string JsonValueToString(const rapidjson::Value& value, std::string defaultText) {
  if (value.IsString()) {
    // Up to the first NUL: an escaped \u0000 ends the text.
    return std::string(value.GetString());
  }
  if (value.IsBool()) {
    return value.GetBool() ? "true" : "false";
  }
  if (value.IsUint64()) {
    return boost::lexical_cast<std::string>(value.GetUint64());
  }
  if (value.IsInt64()) {
    return boost::lexical_cast<std::string>(value.GetInt64());
  }
  if (value.IsNumber()) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.*g", 17, value.GetDouble());
    return text;
  }
  return defaultText;
}
