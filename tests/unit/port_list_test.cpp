#include "config/port_list.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <rapidjson/document.h>

namespace {

TEST(PortListTest, DefaultSetHoldsTheTenBuiltInPortsInByteOrder) {
  const PortSet ports = MakeDefaultPortSet();
  const std::vector<std::string> expected = {"36039", "36523", "4033", "4044", "4045",
                                             "4046",  "4523",  "4524", "4525", "4526"};
  EXPECT_EQ(std::vector<std::string>(ports.begin(), ports.end()), expected);
}

TEST(PortListTest, PortsCompareAsUnsignedBytes) {
  PortSet ports = {"\xC3\xA9", "4040", "9", "40400"};
  const std::vector<std::string> expected = {"4040", "40400", "9", "\xC3\xA9"};
  EXPECT_EQ(std::vector<std::string>(ports.begin(), ports.end()), expected);
}

TEST(JsonValueToStringTest, ConvertsEachKindOfValue) {
  struct Case {
    const char* json;
    const char* text;
  };
  const Case cases[] = {
      {R"("4040,4041")", "4040,4041"},
      {R"(" 4040 ")", " 4040 "},
      {R"("")", ""},
      {R"("40\u00340")", "4040"},
      {R"("4040\u00004041")", "4040"},
      {"true", "true"},
      {"false", "false"},
      {"0", "0"},
      {"8443", "8443"},
      {"4294967296", "4294967296"},
      {"18446744073709551615", "18446744073709551615"},
      {"-1", "-1"},
      {"-2147483649", "-2147483649"},
      {"-9223372036854775808", "-9223372036854775808"},
      {"18446744073709551616", "1.8446744073709552e+19"},
      {"-9223372036854775809", "-9.2233720368547758e+18"},
      {"8443.0", "8443"},
      {"1e3", "1000"},
      {"0.5", "0.5"},
      {"-1.5", "-1.5"},
      {"null", "default"},
      {"[8443]", "default"},
      {R"({"port": 8443})", "default"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.json);
    rapidjson::Document document;
    document.Parse((std::string(R"({"v": )") + c.json + "}").c_str());
    ASSERT_FALSE(document.HasParseError());
    EXPECT_EQ(JsonValueToString(document["v"], "default"), c.text);
  }
}

}  // namespace
