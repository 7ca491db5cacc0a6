#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "service/error_text.h"

namespace {

struct GuardedBuffer {
  char bytes[kErrorTextSize + 16];
  GuardedBuffer() { std::memset(bytes, '#', sizeof(bytes)); }
  bool GuardIntact() const {
    for (std::size_t i = kErrorTextSize; i < sizeof(bytes); ++i) {
      if (bytes[i] != '#') {
        return false;
      }
    }
    return true;
  }
};

std::string Store(UINT codePage, const std::wstring& text, GuardedBuffer& buffer) {
  StoreNarrowText(codePage, text.c_str(), text.size(), buffer.bytes, kErrorTextSize);
  return buffer.bytes;
}

TEST(ErrorTextTest, SystemTextKeepsItsOwnLineEnd) {
  const std::string text = FormatErrorText(ERROR_SERVICE_EXISTS);
  ASSERT_GT(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  EXPECT_EQ(text.find("\r\n"), text.size() - 2);
}

TEST(ErrorTextTest, CodeWithoutTextGivesAReadableLine) {
  EXPECT_STREQ(FormatErrorText(0x2A3B4C5Du), "Unknown error 708529245\r\n");
  EXPECT_STREQ(FormatErrorText(0xFFFFFFFFu), "Unknown error 4294967295\r\n");
}

TEST(ErrorTextTest, TextThatFitsIsStoredWhole) {
  GuardedBuffer buffer;
  const std::wstring longest(kErrorTextSize - 1, L'a');
  EXPECT_EQ(Store(CP_ACP, longest, buffer), std::string(kErrorTextSize - 1, 'a'));
  EXPECT_TRUE(buffer.GuardIntact());
}

TEST(ErrorTextTest, LongTextIsCutAtACharacterAndStillEndsTheLine) {
  struct Case {
    UINT codePage;
    std::wstring unit;
    std::string narrowUnit;
  };
  const Case cases[] = {
      {CP_ACP, L"a", "a"},
      {CP_UTF8, L"\u00E9", "\xC3\xA9"},
      {CP_UTF8, L"\uD55C", "\xED\x95\x9C"},
      {CP_UTF8, L"\U0001F600", "\xF0\x9F\x98\x80"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.narrowUnit);
    std::wstring text;
    for (int i = 0; i < 2000; ++i) {
      text += c.unit;
    }
    GuardedBuffer buffer;
    const std::string stored = Store(c.codePage, text, buffer);
    const std::size_t whole = (kErrorTextSize - 3) / c.narrowUnit.size();
    std::string expected;
    for (std::size_t i = 0; i < whole; ++i) {
      expected += c.narrowUnit;
    }
    EXPECT_EQ(stored, expected + "\r\n");
    EXPECT_TRUE(buffer.GuardIntact());
  }
}

TEST(ErrorTextTest, CutNeverSplitsASurrogatePair) {
  // One byte short of room for the pair's four bytes after the 'a's.
  std::wstring text(kErrorTextSize - 3 - 3, L'a');
  text += L"\U0001F600 and more text";
  GuardedBuffer buffer;
  EXPECT_EQ(Store(CP_UTF8, text, buffer), std::string(kErrorTextSize - 6, 'a') + "\r\n");
  EXPECT_TRUE(buffer.GuardIntact());
}

}  // namespace
