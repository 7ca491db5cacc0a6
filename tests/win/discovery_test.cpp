#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "config/watched_program.h"
#include "win_test_util.h"

namespace {

struct RegistryValue {
  std::wstring text;
  DWORD type = REG_SZ;
};

struct DiscoveryCase {
  const char* name;
  std::optional<RegistryValue> imagePath;   // absent: the watched service's key is missing
  std::optional<RegistryValue> configPath;  // absent: the product key is missing
  std::string expectedOutput;
  std::string expectedPath;
  std::string expectedConfig;
};

struct Discovered {
  std::string output;
  std::string path;
  std::string config;
};

class DiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override { Clear(); }
  void TearDown() override { Clear(); }
  static void Clear() {
    DeleteMachineKey(kWatchedServiceKey);
    DeleteMachineKey(L"SOFTWARE\\VORANEX");
    DeleteMachineKey(kProductKey32);
  }

  // Where a 32-bit installer's product key lands, as this 64-bit test sees it.
  static constexpr wchar_t kProductKey32[] = L"SOFTWARE\\WOW6432Node\\VORANEX";

  static Discovered Run(const DiscoveryCase& c) {
    if (c.imagePath) {
      SetMachineString(kWatchedServiceKey, kWatchedImagePathValue, c.imagePath->text,
                       c.imagePath->type);
    }
    if (c.configPath) {
      SetMachineString(kProductKey, kConfigPathValue, c.configPath->text, c.configPath->type);
    }
    const std::wstring resultFile = TempFileName(L"dsc");
    const ProcessResult run =
        RunCaptured(L"\"" + ProgramFolder() + L"\\discovery_probe.exe\" \"" + resultFile + L"\"");
    EXPECT_EQ(run.exitCode, 0u);
    const std::string strings = ReadWholeFile(resultFile);
    ::DeleteFileW(resultFile.c_str());
    Discovered found;
    found.output = run.output;
    const std::size_t split = strings.find('\0');
    if (split != std::string::npos) {
      found.path = strings.substr(0, split);
      found.config = strings.substr(split + 1, strings.size() - split - 2);
    }
    return found;
  }

  static void Check(const DiscoveryCase& c) {
    SCOPED_TRACE(c.name);
    const Discovered found = Run(c);
    EXPECT_EQ(found.output, c.expectedOutput);
    EXPECT_EQ(found.path, c.expectedPath);
    EXPECT_EQ(found.config, c.expectedConfig);
    Clear();
  }
};

// Standard output is in text mode, so every line feed reaches the file as CR LF.
TEST_F(DiscoveryTest, ReadsBothValuesAsStored) {
  const DiscoveryCase cases[] = {
      {"unquoted path", RegistryValue{L"C:\\svc\\voranexsv.exe"}, RegistryValue{L"C:\\svc\\conf"},
       "voraiot path : C:\\svc\\voranexsv.exe\r\n\r\n", "C:\\svc\\voranexsv.exe", "C:\\svc\\conf"},
      {"quoted path with an argument",
       RegistryValue{L"\"C:\\Program Files\\VORANEX\\voranexsv.exe\" -service"},
       RegistryValue{L"C:\\Program Files\\VORANEX\\conf\\"},
       "voraiot path : \"C:\\Program Files\\VORANEX\\voranexsv.exe\" -service\r\n\r\n",
       "\"C:\\Program Files\\VORANEX\\voranexsv.exe\" -service",
       "C:\\Program Files\\VORANEX\\conf\\"},
      {"expandable string kept unexpanded",
       RegistryValue{L"%SystemRoot%\\voranexsv.exe", REG_EXPAND_SZ},
       RegistryValue{L"%ProgramData%\\VORANEX", REG_EXPAND_SZ},
       "voraiot path : %SystemRoot%\\voranexsv.exe\r\n\r\n", "%SystemRoot%\\voranexsv.exe",
       "%ProgramData%\\VORANEX"},
  };
  for (const DiscoveryCase& c : cases) {
    Check(c);
  }
}

TEST_F(DiscoveryTest, MissingKeysLeaveTheirStringsEmpty) {
  const DiscoveryCase cases[] = {
      {"watched service key absent", std::nullopt, RegistryValue{L"C:\\conf"},
       "voraam RegOpen Error.\r\nvoraiot path : \r\n\r\n", "", "C:\\conf"},
      {"product key absent", RegistryValue{L"C:\\svc\\voranexsv.exe"}, std::nullopt,
       "voraiot path : C:\\svc\\voranexsv.exe\r\n\r\n", "C:\\svc\\voranexsv.exe", ""},
      {"both absent", std::nullopt, std::nullopt,
       "voraam RegOpen Error.\r\nvoraiot path : \r\n\r\n", "", ""},
  };
  for (const DiscoveryCase& c : cases) {
    Check(c);
  }
}

TEST_F(DiscoveryTest, ValueMustFitTheBufferWithItsTerminator) {
  const std::wstring fits = L"C:\\" + std::wstring(256, L'a');  // 259 characters
  const std::wstring tooLong = fits + L"b";                     // 260 characters
  const std::string fitsNarrow = "C:\\" + std::string(256, 'a');
  const DiscoveryCase cases[] = {
      {"259 characters read whole", RegistryValue{fits}, RegistryValue{fits},
       "voraiot path : " + fitsNarrow + "\r\n\r\n", fitsNarrow, fitsNarrow},
      {"260 characters give nothing", RegistryValue{tooLong}, RegistryValue{tooLong},
       "voraiot path : \r\n\r\n", "", ""},
  };
  for (const DiscoveryCase& c : cases) {
    Check(c);
  }
}

TEST_F(DiscoveryTest, CharacterOutsideTheAnsiCodePageBecomesItsDefaultCharacter) {
  CPINFO info = {};
  ASSERT_TRUE(::GetCPInfo(CP_THREAD_ACP, &info));
  if (info.MaxCharSize != 1) {
    GTEST_SKIP() << "the thread's ANSI code page is not a single-byte one";
  }
  const std::string d(1, static_cast<char>(info.DefaultChar[0]));
  // "C:\보라 넥스\x.exe -service": the echo in a file goes on past the Korean.
  const Discovered found = Run({"", RegistryValue{L"C:\\\xBCF4\xB77C \xB125\xC2A4\\x.exe -service"},
                                RegistryValue{L"C:\\conf\\\x4E2D"}, "", "", ""});
  const std::string path = "C:\\" + d + d + " " + d + d + "\\x.exe -service";
  EXPECT_EQ(found.path, path);
  EXPECT_EQ(found.config, "C:\\conf\\" + d);
  EXPECT_EQ(found.output, "voraiot path : " + path + "\r\n\r\n");
}

// A 32-bit server keeps its product key in the 32-bit view; the own view wins when both
// have one.
TEST_F(DiscoveryTest, ProductKeyIsAlsoFoundInThe32BitView) {
  const std::wstring key32 = std::wstring(kProductKey32) + L"\\VORANEXSV";
  const RegistryValue path{L"C:\\svc\\voranexsv.exe"};
  const std::string echo = "voraiot path : C:\\svc\\voranexsv.exe\r\n\r\n";

  SetMachineString(key32.c_str(), kConfigPathValue, L"C:\\conf32");
  EXPECT_EQ(Run({"", path, std::nullopt, "", "", ""}).config, "C:\\conf32");

  const Discovered both = Run({"", path, RegistryValue{L"C:\\conf64"}, "", "", ""});
  EXPECT_EQ(both.config, "C:\\conf64");
  EXPECT_EQ(both.output, echo);
}

}  // namespace
