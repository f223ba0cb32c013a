// gleanmark-cli page: element paths of a page, for people who write and debug tasks by hand.
//   page paths FILE|URL         every element in document order: path, tab, element text
//   page resolve FILE|URL PATH  the element text of the element the path leads to
// With --browser the page is opened in a hidden browser (scripts run) and read live.
// Frames of the page are loaded one level deep and listed and resolved through their FRAME and
// IFRAME elements.
// Option --filtertt applies the hidden-text filter to element texts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <filesystem>
#include <string>
#include <string_view>

#include "cli.h"
#include "doc/text_codec.h"
#include "net/http_client.h"
#include "net/page_text.h"
#include "net/url.h"
#include "page/browser.h"
#include "page/element_path.h"
#include "page/page_model.h"

namespace gm::cli {

namespace {

constexpr size_t kTextColumns = 200;

// `page paths` stops once the paths listed hold this many characters. A path names every
// earlier sibling of each element on its way, so a page of millions of siblings would make
// terabytes; real pages stay far below (a 38 000-element page lists about 4 million).
constexpr uint64_t kDefaultMaxPathChars = 64'000'000;

bool IsAddress(const std::string& source) {
  return source.find("://") != std::string::npos;
}

constexpr std::string_view kFileScheme = "file://";

// The page text of a local file (a path or a file:// address) or an http(s) address, and the
// address that relative frame addresses resolve against; false with a message on failure.
// `from_page` is the address of the page that names this one (empty for the command's own
// argument): a page that is not itself a local file never loads one.
bool ReadPage(const std::string& source, const std::wstring& from_page, std::wstring* text,
              std::wstring* base, std::string* error) {
  std::wstring address = FromUtf8(source);
  bool local = source.compare(0, kFileScheme.size(), kFileScheme) == 0 || !IsAddress(source);
  if (local) {
    std::string path = source;
    if (path.compare(0, kFileScheme.size(), kFileScheme) == 0) {
      path = path.substr(kFileScheme.size());
      for (size_t at; (at = path.find("%20")) != std::string::npos;) path.replace(at, 3, " ");
    }
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    std::string spelled = ec ? path : absolute.string();
    address = FromUtf8(spelled);  // the client reads an absolute path as a local file
    for (size_t at = 0; (at = spelled.find(' ', at)) != std::string::npos;)
      spelled.replace(at, 1, "%20");
    *base = FromUtf8(std::string(kFileScheme) + spelled);
  }
  if (!from_page.empty() && !PageMayLoad(from_page, address)) {
    *error = "refused to load the local file " + source + " from a web page";
    return false;
  }
  CHttpClient client;
  client.SetTimeout(30000);
  client.Get(address, L"");
  if (WaitForTransaction(&client, nullptr, true) != HttpWait::kReady) {
    *error = std::string(local ? "cannot read " : "cannot fetch ") + source + " (error " +
             std::to_string(client.Error()) + ": " + HttpErrorText(client.Error()) + ")";
    return false;
  }
  if (client.GetStatus() != 200) {
    *error = "cannot fetch " + source + " (status " + std::to_string(client.GetStatus()) + ")";
    return false;
  }
  *text = DecodeBody(client);
  if (!local) *base = client.Address();
  return true;
}

// Frames are loaded the same way, one level deep; a frame that cannot be read is left out.
bool LoadFrame(const std::wstring& url, const std::wstring& page, CPageModel* frame) {
  std::wstring text, base;
  std::string error;
  if (!ReadPage(ToUtf8(url), page, &text, &base, &error)) return false;
  return frame->LoadText(text, base, false, nullptr);
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

// The live page in a hidden browser: loaded, waited for (at most kBrowserWaitMs) and read
// through a snapshot. False with a message when there is no browser or no page.
constexpr int kBrowserWaitMs = 30000;

bool LoadLive(const std::string& source, CPageModel* model, std::string* error) {
  std::wstring url = FromUtf8(source);
  if (!IsAddress(source)) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(source, ec);
    if (!std::filesystem::exists(absolute, ec)) {
      *error = "cannot read " + source;
      return false;
    }
    url = FromUtf8(std::string(kFileScheme) + absolute.string());
  }
  if (!StartBrowser(error)) return false;
  std::unique_ptr<CBrowserPage> page = NewCliBrowserPage();
  std::unique_ptr<CDomDocument> doc;
  if (page && page->Navigate(url, L"", nullptr)) {
    // A page that does not finish in time is read as far as it got.
    page->WaitLoaded(kBrowserWaitMs, [] { return false; });
    doc = page->Snapshot([] { return false; });
  }
  if (!doc) {
    *error = "cannot open " + source + " in the browser";
    return false;
  }
  model->SetLiveDocument(std::move(doc), page->LocationUrl());
  return true;
}

}  // namespace

static int PageCommand(const Args& args, bool filter, bool browser, uint64_t max_path_chars) {
  if (args.empty()) return Fail("page: expected 'paths' or 'resolve'");
  const std::string sub = args[0];
  if (sub == "paths" ? args.size() != 2 : sub == "resolve" ? args.size() != 3 : true)
    return Fail("usage: page paths FILE|URL | page resolve FILE|URL PATH [--browser]");

  std::string error;
  CPageModel model;
  model.SetFilterHiddenText(filter);
  if (browser) {
    if (!LoadLive(args[1], &model, &error)) return Fail(error);
  } else {
    std::wstring text, base;
    if (!ReadPage(args[1], L"", &text, &base, &error)) return Fail(error);
    model.LoadText(text, base, true, &LoadFrame);
  }
  const CDomNode* root = model.DocumentElement();

  if (sub == "resolve") {
    const CDomNode* found = ResolvePath(model, root, FromUtf8(args[2]));
    if (!found) return Fail("the path leads nowhere: " + args[2]);
    Print(model.NodeText(found) + L"\n");
    return 0;
  }
  std::wstring out;
  uint64_t path_chars = 0;
  uint64_t listed = 0;
  bool cut = false;
  // The elements of a page; after a FRAME or IFRAME element whose page was loaded, the elements
  // of that page with the frame element's path in front, as the task paths through it read.
  auto list = [&](const CPageModel& page, const CDomNode* top, const std::wstring& prefix,
                  auto& self) -> void {
    for (const CDomNode* n = top; n && !cut; n = NextInTree(n, top)) {
      // Paths never name SCRIPT and STYLE elements, so they are not listed.
      if (!n->IsElement() || n->IsIgnorable()) continue;
      std::wstring path = prefix + BuildPath(n);
      path_chars += path.size();
      if (max_path_chars != 0 && path_chars > max_path_chars) {
        cut = true;
        break;
      }
      ++listed;
      out += path;
      out += L'\t';
      out += EscapeLine(page.ElementText(n));
      out += L'\n';
      if (out.size() > (1 << 16)) {
        Print(out);
        out.clear();
      }
      // A live page's frame documents hang below their frame elements; paths built there
      // already lead through the frame element.
      if (const CDomDocument* inner = n->ContentDocument()) {
        if (inner->DocumentElement()) self(page, inner->DocumentElement(), L"", self);
      } else if (const CPageModel* frame = model.FramePage(n)) {
        if (frame->DocumentElement()) self(*frame, frame->DocumentElement(), path + L"@", self);
      }
    }
  };
  list(model, root, L"", list);
  Print(out);
  if (std::fflush(stdout) != 0) return 1;
  if (cut) {
    return Fail("page paths: stopped after " + std::to_string(listed) +
                " elements: the paths would exceed " + std::to_string(max_path_chars) +
                " characters (a page with very many sibling elements); --max-path-chars N "
                "raises the limit, 0 lists everything");
  }
  return 0;
}

int CmdPage(const Args& arguments) {
  Args args = arguments;
  bool filter = TakeFlag(&args, "--filtertt");
  bool browser = TakeFlag(&args, "--browser");
  bool missing = false;
  std::optional<std::string> limit = TakeOption(&args, "--max-path-chars", &missing);
  uint64_t max_path_chars = kDefaultMaxPathChars;
  if (limit) {
    char* end = nullptr;
    max_path_chars = std::strtoull(limit->c_str(), &end, 10);
    missing = missing || limit->empty() || *end != '\0' || (*limit)[0] == '-';
  }
  if (missing) return Fail("--max-path-chars expects a number of characters (0: no limit)");
  int status = PageCommand(args, filter, browser, max_path_chars);
  EndBrowser();
  return status;
}

}  // namespace gm::cli
