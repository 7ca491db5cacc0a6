// server.conf cases, which need Windows path rules and so run only under Wine.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>
#include <boost/filesystem.hpp>

#include "config/port_list.h"

namespace {

namespace fs = boost::filesystem;

PortSet DefaultsPlus(const PortSet& added) {
  PortSet ports = MakeDefaultPortSet();
  ports.insert(added.begin(), added.end());
  return ports;
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream file(path.string(), std::ios::binary);
  file << text;
  file.close();
  EXPECT_TRUE(file.good()) << "cannot write " << path;
}

class PortListFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = fs::temp_directory_path() / fs::unique_path("port-list-%%%%-%%%%-%%%%");
    fs::create_directories(directory_);
  }
  void TearDown() override {
    boost::system::error_code ignored;
    fs::remove_all(directory_, ignored);
  }

  PortSet Read(const std::string& configDirectory) const {
    PortSet ports = MakeDefaultPortSet();
    AddConfiguredPorts(ports, configDirectory);
    return ports;
  }
  PortSet Read() const { return Read(directory_.string()); }
  fs::path ConfigPath() const { return directory_ / "server.conf"; }

  fs::path directory_;
};

TEST_F(PortListFileTest, ReadsPortsFromEachShapeOfServerConf) {
  struct Case {
    const char* name;
    std::string text;
    PortSet added;
  };
  const std::string deep = std::string(20, '[') + std::string(20, ']');
  const std::string tooDeep = std::string(300, '[') + std::string(300, ']');
  const Case cases[] = {
      {"string list and number",
       R"({"listening_ports": "4040,4041", "ssl_port": 8443})",
       {"4040", "4041", "8443"}},
      {"blank after a comma", R"({"listening_ports": "4040, 4041"})", {"4040", " 4041"}},
      {"empty pieces", R"({"listening_ports": ",4040,,4041,"})", {"4040", "4041"}},
      {"a built-in port", R"({"listening_ports": "4033"})", {}},
      {"empty string", R"({"listening_ports": ""})", {}},
      {"commas only", R"({"listening_ports": ",,,"})", {}},
      {"escapes decoded, NUL ends", R"({"listening_ports": "40\u00340\u0000,4041"})", {"4040"}},
      {"array adds nothing, other key still read",
       R"({"listening_ports": [4040], "ssl_port": 1})",
       {"1"}},
      {"object and null", R"({"listening_ports": {"a": "4040"}, "ssl_port": null})", {}},
      {"fractional zero", R"({"ssl_port": 8443.0})", {"8443"}},
      {"negative", R"({"ssl_port": -1})", {"-1"}},
      {"true", R"({"ssl_port": true})", {"true"}},
      {"keys are case-sensitive", R"({"Listening_Ports": "4040", "SSL_PORT": 8443})", {}},
      {"first of duplicate keys wins", R"({"ssl_port": 1111, "ssl_port": 2222})", {"1111"}},
      {"key with a NUL is another key", R"({"ssl_port\u0000": 1111})", {}},
      {"beyond the read buffer", std::string(10000, ' ') + R"({"ssl_port": 8443})", {"8443"}},
      {"nested members", R"({"x": )" + deep + R"(, "ssl_port": 8443})", {"8443"}},
      {"trailing comma", R"({"ssl_port": 8443,})", {}},
      {"byte-order mark",
       "\xEF\xBB\xBF"
       R"({"ssl_port": 8443})",
       {}},
      {"array root", R"([{"ssl_port": 8443}])", {}},
      {"string root", R"("8443")", {}},
      {"empty file", "", {}},
      {"white space only", " \r\n\t", {}},
      {"text after the root", R"({"ssl_port": 8443} x)", {}},
      {"number too large", R"({"ssl_port": 1e400})", {}},
      {"nested too deep", R"({"ssl_port": 8443, "x": )" + tooDeep + "}", {}},
      {"a million open brackets", R"({"ssl_port": 8443, "x": )" + std::string(1000000, '['), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteText(ConfigPath(), c.text);
    EXPECT_EQ(Read(), DefaultsPlus(c.added));
  }
}

TEST_F(PortListFileTest, MissingOrUnopenableFileGivesTheBuiltInPorts) {
  EXPECT_EQ(Read(), MakeDefaultPortSet());
  EXPECT_EQ(Read((directory_ / "absent").string()), MakeDefaultPortSet());
  EXPECT_EQ(Read("Q:\\no\\such\\drive"), MakeDefaultPortSet());
  EXPECT_EQ(Read(std::string("C:\\bad|name") + '\x01'), MakeDefaultPortSet());

  fs::create_directory(ConfigPath());
  EXPECT_EQ(Read(), MakeDefaultPortSet());
}

TEST_F(PortListFileTest, LockedFileGivesTheBuiltInPorts) {
  WriteText(ConfigPath(), R"({"ssl_port": 8443})");
  const HANDLE lock = ::CreateFileW(ConfigPath().wstring().c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  std::FILE* probe = std::fopen(ConfigPath().string().c_str(), "rb");
  if (probe != nullptr) {
    std::fclose(probe);
    ::CloseHandle(lock);
    GTEST_SKIP() << "this Windows does not enforce share modes";
  }
  const PortSet ports = Read();
  ::CloseHandle(lock);
  EXPECT_EQ(ports, MakeDefaultPortSet());
  EXPECT_EQ(Read(), DefaultsPlus({"8443"}));
}

TEST_F(PortListFileTest, TrailingBackslashStillNamesTheFile) {
  WriteText(ConfigPath(), R"({"ssl_port": 8443})");
  EXPECT_EQ(Read(directory_.string() + "\\"), DefaultsPlus({"8443"}));
}

// An empty directory must not become "\server.conf", the root of the current drive. The
// case needs a server.conf of its own there: it never replaces one that is already
// there (a real one, or a concurrent run's), and skips where the root is not writable.
TEST_F(PortListFileTest, EmptyDirectoryReadsNoFile) {
  const fs::path drive = directory_.root_name();
  const fs::path rootConfig = directory_.root_path() / "server.conf";
  const HANDLE file = ::CreateFileW(rootConfig.wstring().c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    GTEST_SKIP() << "cannot create " << rootConfig << " of our own (error " << error << ")";
  }
  const std::string text = R"({"ssl_port": 8443})";
  DWORD written = 0;
  const BOOL wrote =
      ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  ::CloseHandle(file);

  const fs::path previous = fs::current_path();
  fs::current_path(directory_);
  const PortSet fromEmpty = Read("");
  const PortSet fromRoot = Read(drive.string());
  fs::current_path(previous);
  fs::remove(rootConfig);

  ASSERT_TRUE(wrote && written == text.size());
  EXPECT_EQ(fromRoot, DefaultsPlus({"8443"}));
  EXPECT_EQ(fromEmpty, MakeDefaultPortSet());
}

}  // namespace
