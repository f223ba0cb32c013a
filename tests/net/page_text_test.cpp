// Page text decoding with real legacy-charset bytes: marks, header charset, the head's meta
// element, and the legacy code page as last resort.
#include "net/page_text.h"

#include <gtest/gtest.h>

#include "doc/text_codec.h"
#include "net/cookie_jar.h"
#include "net/http_client.h"
#include "support/test_server.h"

namespace gm {
namespace {

const std::string kGbk = "\xD6\xD0\xCE\xC4";           // 中文
const std::string kGbkOnly = "\xE9\x46";               // 镕: in GBK, not in GB2312
const std::string kBig5 = "\xA4\xA4\xA4\xE5";          // 中文
const std::string kSjis = "\x93\xFA\x96\x7B\x8C\xEA";  // 日本語

const wchar_t* kCt = L"HTTP/1.1 200 OK\r\nContent-Type: text/html";

struct DecodeCase {
  const char* name;
  std::wstring header;
  std::string body;
  BodySource source;
  std::wstring text;
};

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {
 protected:
  void SetUp() override { ASSERT_TRUE(SetAnsiCodePage("936")); }
};

TEST_P(DecodeTest, PicksTheRightCharset) {
  const DecodeCase& c = GetParam();
  std::string padded = c.body + std::string(4, '\0');  // the client's data buffer
  BodySource source;
  std::wstring text =
      DecodeBodyBytes(c.header, std::string_view(padded.data(), c.body.size()), &source);
  EXPECT_EQ(source, c.source);
  EXPECT_EQ(text, c.text);
}

std::wstring H(const wchar_t* tail) {
  return std::wstring(kCt) + tail + L"\r\n\r\n";
}

INSTANTIATE_TEST_SUITE_P(
    Charsets, DecodeTest,
    ::testing::Values(
        DecodeCase{"Utf8MarkBeatsHeader", H(L"; charset=big5"), "\xEF\xBB\xBF\xE4\xB8\xAD",
                   BodySource::kUtf8Mark, L"中"},
        DecodeCase{"Utf16LeMarkKeepsTheMark", H(L""), std::string("\xFF\xFE\x2D\x4E\x41\x00", 6),
                   BodySource::kUtf16Buffer, L"\xFEFF中A"},
        DecodeCase{"Utf16BeMarkIsNotRecognised", H(L"; charset=utf-16be"),
                   std::string("\xFE\xFF\x4E\x2D", 4), BodySource::kCharset, L"\xFEFF中"},
        DecodeCase{"QuotedHeaderCharset", H(L"; charset=\"utf-8\""), "\xE4\xB8\xAD",
                   BodySource::kCharset, L"中"},
        DecodeCase{"HeaderGbk", H(L"; charset=GBK"), kGbk, BodySource::kCharset, L"中文"},
        DecodeCase{"Gb2312LabelCoversGbk", H(L";charset=gb2312"), kGbkOnly, BodySource::kCharset,
                   L"镕"},
        DecodeCase{"HeaderShiftJis", H(L"; charset=Shift_JIS"), kSjis, BodySource::kCharset,
                   L"日本語"},
        DecodeCase{"MetaBig5WithLowerCaseHttpEquiv", H(L""),
                   "<html><HEAD><title>t</title><meta http-equiv=content-type "
                   "content='text/html; charset=big5'></head><body>" +
                       kBig5,
                   BodySource::kCharset,
                   L"<html><HEAD><title>t</title><meta http-equiv=content-type "
                   L"content='text/html; charset=big5'></head><body>中文"},
        DecodeCase{"UnknownCharsetFallsBackToAnsi", H(L"; charset=x-no-such"), kGbk,
                   BodySource::kAnsi, L"中文"},
        DecodeCase{
            "HeadWithAttributesIsNotRead", H(L""),
            "<head lang=zh><meta http-equiv=Content-Type content=\"charset=big5\"></head>" + kGbk,
            BodySource::kAnsi,
            L"<head lang=zh><meta http-equiv=Content-Type content=\"charset=big5\"></head>中文"},
        // The Content-Type header is found by its name, in any case, and nowhere else.
        DecodeCase{"LowerCaseHeaderName",
                   L"HTTP/1.1 200 OK\r\ncontent-type: text/html; charset=utf-8\r\n\r\n",
                   "\xE4\xB8\xAD", BodySource::kCharset, L"中"},
        DecodeCase{"OtherHeaderNamingContentTypeFirst",
                   L"HTTP/1.1 200 OK\r\nX-Content-Type-Options: nosniff; x=big5\r\n"
                   L"Content-Type: text/html; charset=utf-8\r\n\r\n",
                   "\xE4\xB8\xAD", BodySource::kCharset, L"中"},
        DecodeCase{"MetaCharsetForm", H(L""), "<head><meta charset=\"utf-8\"></head>\xE4\xB8\xAD",
                   BodySource::kCharset, L"<head><meta charset=\"utf-8\"></head>中"},
        DecodeCase{"EqualsOnALaterLineIsNotUsed",
                   L"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nX-A: charset=big5\r\n\r\n", kGbk,
                   BodySource::kAnsi, L"中文"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HeadCharset, ReadsTheFirstContentTypeMeta) {
  EXPECT_EQ(HeadCharset("<head><meta name=x content=a=b><meta HTTP-EQUIV=\"Content-Type\" "
                        "CONTENT=\"text/html; charset= 'euc-jp'\"><meta http-equiv=content-type "
                        "content=\"charset=big5\"></head>"),
            "euc-jp");
  EXPECT_EQ(HeadCharset("<head><meta http-equiv=content-type content=text/html></head>"), "");
  // Both forms count, the first meta that declares one wins.
  EXPECT_EQ(HeadCharset("<head><meta charset=big5></head>"), "big5");
  EXPECT_EQ(HeadCharset("<head><meta charset='big5'><meta http-equiv=content-type "
                        "content='text/html; charset=utf-8'></head>"),
            "big5");
  EXPECT_EQ(HeadCharset("<head><meta http-equiv=content-type content='text/html; charset=utf-8'>"
                        "<meta charset=big5></head>"),
            "utf-8");
  EXPECT_EQ(HeadCharset("<head><meta http-equiv=content-type content=charset=big5>"), "");
}

TEST(DecodeBody, DecodesWhatTheClientReceived) {
  ASSERT_TRUE(SetAnsiCodePage("936"));
  test::CTestServer server(test::CTestServer::Always(
      "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=big5\r\nContent-Length: 4\r\n\r\n" +
      kBig5));
  CCookieJar jar(L"");
  CHttpClient client;
  client.SetCookieJar(&jar);
  client.Get(server.WUrl("/"), L"");
  ASSERT_EQ(WaitForTransaction(&client, nullptr, false), HttpWait::kReady);
  std::string charset;
  EXPECT_EQ(DecodeBody(client, nullptr, &charset), L"中文");
  EXPECT_EQ(charset, "big5");
}

}  // namespace
}  // namespace gm
