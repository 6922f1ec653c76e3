#include "portlib32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// Frees the string when the test scope ends.
struct OwnedOsStr {
  OsStr str = nullptr;
  OwnedOsStr() = default;
  OwnedOsStr(const OwnedOsStr&) = delete;
  OwnedOsStr& operator=(const OwnedOsStr&) = delete;
  ~OwnedOsStr() { xfvOsStrDestruct(&str); }
};

const char* commonEmpty() { return xtOsStrCommonEmptyStr.chars; }

void formatThroughList(OsStr* out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  xfvOsStrFormatV(out, format, args);
  va_end(args);
}

}  // namespace

TEST(PortLib32Test, ConstructCopiesExactLengthWithEmbeddedNuls) {
  const char source[] = {'a', '\0', 'b', 'c', 'X'};
  OwnedOsStr s;
  xfvOsStrConstructFromCharArrayIgnoringNulls(&s.str, source, 4);
  ASSERT_NE(s.str, nullptr);
  EXPECT_NE(s.str, commonEmpty());
  EXPECT_EQ(xfnOsStrLength(s.str), 4u);
  EXPECT_EQ(std::string(s.str, 4), std::string("a\0bc", 4));
  EXPECT_EQ(s.str[4], '\0');

  // Null characters or a zero length give the shared empty string.
  OwnedOsStr fromNull;
  xfvOsStrConstructFromCharArrayIgnoringNulls(&fromNull.str, nullptr, 10);
  EXPECT_EQ(fromNull.str, commonEmpty());
  EXPECT_EQ(xfnOsStrLength(fromNull.str), 0u);
  OwnedOsStr fromZero;
  xfvOsStrConstructFromCharArrayIgnoringNulls(&fromZero.str, "abc", 0);
  EXPECT_EQ(fromZero.str, commonEmpty());
  EXPECT_STREQ(fromZero.str, "");

  // A null output is ignored; the shared empty string stays intact.
  xfvOsStrConstructFromCharArrayIgnoringNulls(nullptr, "abc", 3);
  EXPECT_EQ(xtOsStrCommonEmptyStr.control.length, 0u);
  EXPECT_EQ(xtOsStrCommonEmptyStr.chars[0], '\0');
}

TEST(PortLib32Test, FormatExpandsPrintfStyle) {
  OwnedOsStr s;
  xfvOsStrFormat(&s.str, "//%s[@%s=%s]/%s", "Scheduler", "ID", "//Schedulers/CurrentSchedulerId", "Manual");
  EXPECT_STREQ(s.str, "//Scheduler[@ID=//Schedulers/CurrentSchedulerId]/Manual");
  EXPECT_EQ(xfnOsStrLength(s.str), std::strlen(s.str));

  OwnedOsStr numbers;
  formatThroughList(&numbers.str, "%d-%ld-%05.2f", -12, 345678L, 2.5);
  EXPECT_STREQ(numbers.str, "-12-345678-02.50");
  EXPECT_EQ(xfnOsStrLength(numbers.str), 16u);

  // Longer than any small fixed buffer.
  OwnedOsStr wide;
  xfvOsStrFormat(&wide.str, "%0*d|", 1000, 7);
  ASSERT_EQ(xfnOsStrLength(wide.str), 1001u);
  EXPECT_EQ(wide.str[0], '0');
  EXPECT_EQ(wide.str[999], '7');
  EXPECT_EQ(wide.str[1000], '|');
  EXPECT_EQ(wide.str[1001], '\0');

  // A null format and an empty expansion give the shared empty string.
  OwnedOsStr nullFormat;
  xfvOsStrFormat(&nullFormat.str, nullptr);
  EXPECT_EQ(nullFormat.str, commonEmpty());
  OwnedOsStr emptyResult;
  xfvOsStrFormat(&emptyResult.str, "%s", "");
  EXPECT_EQ(emptyResult.str, commonEmpty());
  EXPECT_EQ(xfnOsStrLength(emptyResult.str), 0u);
}

TEST(PortLib32Test, DestructFreesAndLeavesSharedEmpty) {
  OsStr s = nullptr;
  xfvOsStrConstructFromCharArrayIgnoringNulls(&s, "hello", 5);
  ASSERT_NE(s, commonEmpty());
  xfvOsStrDestruct(&s);
  EXPECT_EQ(s, commonEmpty());
  EXPECT_EQ(xfnOsStrLength(s), 0u);

  // Destroying the shared empty string again (twice) keeps it usable.
  xfvOsStrDestruct(&s);
  xfvOsStrDestruct(&s);
  EXPECT_EQ(s, commonEmpty());
  EXPECT_EQ(xtOsStrCommonEmptyStr.control.length, 0u);
  EXPECT_STREQ(xtOsStrCommonEmptyStr.chars, "");

  // Null string and null pointer to string.
  OsStr nothing = nullptr;
  xfvOsStrDestruct(&nothing);
  EXPECT_EQ(nothing, commonEmpty());
  xfvOsStrDestruct(nullptr);
  EXPECT_EQ(xfnOsStrLength(nullptr), 0u);
}

TEST(PortLib32Test, StrncpyzTruncatesAndAlwaysTerminates) {
  char buffer[8];

  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(os_strncpyz(buffer, "abcdef", 4), buffer);
  EXPECT_STREQ(buffer, "abc");

  std::memset(buffer, 'x', sizeof buffer);
  os_strncpyz(buffer, "abcdefg", sizeof buffer);
  EXPECT_STREQ(buffer, "abcdefg");

  std::memset(buffer, 'x', sizeof buffer);
  os_strncpyz(buffer, "abcdefgh", sizeof buffer);
  EXPECT_STREQ(buffer, "abcdefg");

  std::memset(buffer, 'x', sizeof buffer);
  os_strncpyz(buffer, "ab", sizeof buffer);
  EXPECT_STREQ(buffer, "ab");

  std::memset(buffer, 'x', sizeof buffer);
  os_strncpyz(buffer, "abc", 1);
  EXPECT_STREQ(buffer, "");

  // Size 0 writes nothing at all.
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(os_strncpyz(buffer, "abc", 0), buffer);
  EXPECT_EQ(buffer[0], 'x');

  // Null source gives an empty string; null destination is ignored.
  std::memset(buffer, 'x', sizeof buffer);
  os_strncpyz(buffer, nullptr, sizeof buffer);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(os_strncpyz(nullptr, "abc", 4), nullptr);

  // Copying from an OsStr stops at its first NUL.
  OwnedOsStr s;
  xfvOsStrConstructFromCharArrayIgnoringNulls(&s.str, "ab\0cd", 5);
  std::memset(buffer, 'x', sizeof buffer);
  os_strncpyz(buffer, s.str, sizeof buffer);
  EXPECT_STREQ(buffer, "ab");
}
