// Feeds arbitrary bytes to the configuration reader as the whole of server.conf, and
// compares what it adds with an in-memory parse of the same bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <rapidjson/document.h>
#include <boost/filesystem.hpp>
#include <boost/tokenizer.hpp>

#include "config/port_list.h"

namespace {

namespace fs = boost::filesystem;

// The reader's own limit, below which it must agree with RapidJSON.
constexpr int kMaxNesting = 256;

void Require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "port_list_fuzz: %s\n", what);
    std::abort();
  }
}

// A scratch folder for the run. The reader joins its directory and the file name with a
// backslash, which on Linux is an ordinary byte of a name: the file it opens is called
// "conf\server.conf", inside the scratch folder.
class ScratchConfig {
 public:
  ScratchConfig()
      : folder_(fs::temp_directory_path() / fs::unique_path("port-list-fuzz-%%%%-%%%%-%%%%")),
        directory_((folder_ / "conf").string()),
        file_(directory_ + "\\server.conf") {
    fs::create_directories(folder_);
  }
  ~ScratchConfig() {
    boost::system::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  ScratchConfig(const ScratchConfig&) = delete;
  ScratchConfig& operator=(const ScratchConfig&) = delete;

  const std::string& Directory() const { return directory_; }

  void Write(const char* data, std::size_t size) const {
    std::ofstream file(file_, std::ios::binary | std::ios::trunc);
    file.write(data, static_cast<std::streamsize>(size));
    Require(static_cast<bool>(file), "cannot write the scratch server.conf");
  }

 private:
  fs::path folder_;
  std::string directory_;
  std::string file_;
};

// How deep the value nests, counted no further than limit so that this stays shallow.
int Depth(const rapidjson::Value& value, int limit) {
  if (limit == 0 || !(value.IsObject() || value.IsArray())) {
    return 0;
  }
  int deepest = 0;
  if (value.IsObject()) {
    for (const auto& member : value.GetObject()) {
      deepest = std::max(deepest, Depth(member.value, limit - 1));
    }
  } else {
    for (const auto& element : value.GetArray()) {
      deepest = std::max(deepest, Depth(element, limit - 1));
    }
  }
  return deepest + 1;
}

void AddMember(PortSet& ports, const rapidjson::Value& root, const char* key) {
  const auto member = root.FindMember(key);
  if (member == root.MemberEnd()) {
    return;
  }
  const std::string text = JsonValueToString(member->value, "");
  const boost::tokenizer<boost::char_separator<char>> pieces(text,
                                                             boost::char_separator<char>(","));
  for (const std::string& piece : pieces) {
    ports.insert(piece);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const ScratchConfig scratch;
  const char* bytes = reinterpret_cast<const char*>(data);
  scratch.Write(bytes, size);

  PortSet ports = MakeDefaultPortSet();
  AddConfiguredPorts(ports, scratch.Directory());

  // The file stream ends at the first NUL byte as a string does, and neither skips a
  // byte-order mark. The iterative parser accepts the same texts without recursing, so
  // that deep inputs cannot overflow the oracle's own stack.
  const std::string text(bytes, size);
  rapidjson::Document document;
  document.Parse<rapidjson::kParseIterativeFlag>(text.c_str());
  PortSet expected = MakeDefaultPortSet();
  if (!document.HasParseError() && document.IsObject() &&
      Depth(document, kMaxNesting + 1) <= kMaxNesting) {
    AddMember(expected, document, "listening_ports");
    AddMember(expected, document, "ssl_port");
  }
  Require(ports == expected, "the file and the in-memory parse disagree");
  return 0;
}
