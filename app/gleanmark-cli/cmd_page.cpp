// gleanmark-cli page: element paths of a page, for people who write and debug tasks by hand.
//   page paths FILE|URL         every element in document order: path, tab, element text
//   page resolve FILE|URL PATH  the element text of the element the path leads to
// Option --filtertt applies the hidden-text filter to element texts.
#include <cstdio>
#include <filesystem>
#include <string>

#include "cli.h"
#include "doc/file_util.h"
#include "doc/text_codec.h"
#include "net/http_client.h"
#include "net/page_text.h"
#include "page/element_path.h"
#include "page/page_model.h"

namespace gm::cli {

namespace {

constexpr int kMaxRedirects = 5;
constexpr size_t kTextColumns = 200;

bool IsAddress(const std::string& source) { return source.find("://") != std::string::npos; }

// The page text of a local file or an http(s) address; false with a message on failure.
bool ReadPage(const std::string& source, std::wstring* text, std::wstring* base,
              std::string* error) {
  if (!IsAddress(source)) {
    std::string bytes;
    if (!ReadFileBytes(FromUtf8(source), &bytes)) {
      *error = "cannot read " + source;
      return false;
    }
    *text = DecodeBodyBytes(L"", bytes);
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(source, ec);
    *base = FromUtf8(ec ? source : absolute.string());
    return true;
  }
  CHttpClient client;
  client.SetTimeout(30000);
  std::wstring address = FromUtf8(source);
  client.Get(address, L"");
  for (int redirects = 0;;) {
    while (!client.WaitIdle(1000)) {
    }
    if (client.Error() != kHttpOk) {
      *error = "cannot fetch " + source + " (error " + std::to_string(client.Error()) + ")";
      return false;
    }
    if (redirects < kMaxRedirects && client.FollowRedirect()) {
      ++redirects;
      continue;
    }
    break;
  }
  if (client.GetStatus() != 200) {
    *error = "cannot fetch " + source + " (status " + std::to_string(client.GetStatus()) + ")";
    return false;
  }
  *text = DecodeBody(client);
  *base = client.Address();
  return true;
}

std::wstring EscapeLine(const std::wstring& text) {
  std::wstring out;
  for (wchar_t c : text) {
    if (out.size() >= kTextColumns) break;
    if (c == L'\t') {
      out += L"\\t";
    } else if (c == L'\n') {
      out += L"\\n";
    } else if (c == L'\r') {
      out += L"\\r";
    } else {
      out += c;
    }
  }
  if (out.size() > kTextColumns) out.resize(kTextColumns);
  return out;
}

void Print(const std::wstring& text) {
  std::string bytes = ToUtf8(text);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

}  // namespace

int CmdPage(const Args& arguments) {
  Args args = arguments;
  bool filter = TakeFlag(&args, "--filtertt");
  if (args.empty()) return Fail("page: expected 'paths' or 'resolve'");
  const std::string sub = args[0];
  if (sub == "paths" ? args.size() != 2 : sub == "resolve" ? args.size() != 3 : true)
    return Fail("usage: page paths FILE|URL | page resolve FILE|URL PATH");

  std::wstring text, base;
  std::string error;
  if (!ReadPage(args[1], &text, &base, &error)) return Fail(error);
  CPageModel model;
  model.SetFilterHiddenText(filter);
  model.LoadText(text, base, false, nullptr);
  const CDomNode* root = model.DocumentElement();

  if (sub == "resolve") {
    const CDomNode* found = ResolvePath(model, root, FromUtf8(args[2]));
    if (!found) return Fail("the path leads nowhere: " + args[2]);
    Print(model.NodeText(found) + L"\n");
    return 0;
  }
  std::wstring out;
  for (const CDomNode* n = root; n; n = NextInTree(n, root)) {
    // Paths never name SCRIPT and STYLE elements, so they are not listed.
    if (!n->IsElement() || n->IsIgnorable()) continue;
    out += BuildPath(n);
    out += L'\t';
    out += EscapeLine(model.ElementText(n));
    out += L'\n';
    if (out.size() > (1 << 16)) {
      Print(out);
      out.clear();
    }
  }
  Print(out);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace gm::cli
