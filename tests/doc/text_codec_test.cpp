#include "doc/text_codec.h"

#include <gtest/gtest.h>

#include "doc/output_encoding.h"

namespace gm {
namespace {

TEST(CodecTest, Utf8RoundTripAndInvalidInput) {
  std::wstring text = L"a\u00e9\u4e2d\U0001F600";
  EXPECT_EQ(ToUtf8(text), "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
  EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
  struct Case {
    std::string in;
    std::wstring out;
  } cases[] = {
      {"\xFF", L"\uFFFD"},           {"a\xE4\xB8", L"a\uFFFD"},  // truncated sequence
      {"\xC0\xAF", L"\uFFFD\uFFFD"},                             // overlong
      {"\xED\xA0\x80x", L"\uFFFDx"},                             // encoded surrogate
      {"\xE4\xB8z", L"\uFFFDz"},
  };
  for (const auto& c : cases) EXPECT_EQ(FromUtf8(c.in), c.out);
  EXPECT_EQ(ToUtf8(std::wstring(1, wchar_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(CodecTest, Utf16AndLength) {
  std::wstring text = L"A\U0001F600";
  EXPECT_EQ(ToUtf16LE(text), std::string("A\0\x3D\xD8\x00\xDE", 6));
  EXPECT_EQ(FromUtf16LE(ToUtf16LE(text)), text);
  EXPECT_EQ(FromUtf16LE(std::string("A\0B", 3)), L"A");  // odd byte ignored
  EXPECT_EQ(Utf16Length(text), 3u);
  EXPECT_EQ(ToUtf16BE(L"A"), std::string("\0A", 2));
}

TEST(CodecTest, AnsiCodePageSelection) {
  EXPECT_EQ(ToAnsi(L"\u4e2d\u6587"), "\xD6\xD0\xCE\xC4");  // GBK by default
  EXPECT_EQ(FromAnsi("\xD6\xD0\xCE\xC4"), L"\u4e2d\u6587");
  EXPECT_EQ(ToAnsi(L"\u00e9"), "\xA8\xA6");  // GBK has e-acute
  ASSERT_TRUE(SetAnsiCodePage("1252"));
  EXPECT_EQ(ToAnsi(L"\u00e9\u20ac"), "\xE9\x80");
  EXPECT_EQ(ToAnsi(L"\u4e2d"), "?");  // unmappable
  EXPECT_FALSE(SetAnsiCodePage("no-such-page"));
  EXPECT_EQ(AnsiCodePage(), "windows-1252");
  ASSERT_TRUE(SetAnsiCodePage("cp936"));
  EXPECT_EQ(ToAnsi(L"\u4e2d"), "\xD6\xD0");
}

TEST(CodecTest, WebCharsets) {
  std::wstring out;
  ASSERT_TRUE(DecodeCharset("big5", "\xA4\xA4\xA4\xE5", &out));
  EXPECT_EQ(out, L"\u4e2d\u6587");
  ASSERT_TRUE(DecodeCharset("shift_jis", "\x93\xFA\x96\x7B", &out));
  EXPECT_EQ(out, L"\u65e5\u672c");
  EXPECT_FALSE(DecodeCharset("x-unknown-charset", "abc", &out));
}

TEST(CodecTest, OutputEncodings) {
  EXPECT_EQ(ByteOrderMark(OutputEncoding::kAnsi), "");
  EXPECT_EQ(ByteOrderMark(OutputEncoding::kUtf8) + EncodeOutput(L"a", OutputEncoding::kUtf8),
            "\xEF\xBB\xBF"
            "a");
  EXPECT_EQ(ByteOrderMark(OutputEncoding::kUnicode) + EncodeOutput(L"a", OutputEncoding::kUnicode),
            std::string("\xFF\xFE"
                        "a\0",
                        4));
  EXPECT_EQ(ByteOrderMark(OutputEncoding::kUnicodeBigEndian) +
                EncodeOutput(L"a", OutputEncoding::kUnicodeBigEndian),
            std::string("\xFE\xFF\0a", 4));
  EXPECT_STREQ(OutputEncodingName(OutputEncoding::kUnicodeBigEndian), L"Unicode big endian");
}

}  // namespace
}  // namespace gm
