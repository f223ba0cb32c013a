#include "fake_browser.h"

#include <chrono>
#include <thread>

#include "doc/text_codec.h"
#include "net/url.h"
#include "page/html_builder.h"

namespace gm::test {

class CFakePage : public CBrowserPage {
 public:
  CFakePage(CFakeWeb* web, int number) : web_(web), number_(number) {}
  ~CFakePage() override { web_->Write(number_, "closed"); }

  void SetUserAgent(const std::wstring& ua) override {
    if (ua != agent_) web_->Write(number_, "agent " + ToUtf8(ua));
    agent_ = ua;
  }
  void SetCredentials(const std::wstring& user, const std::wstring& password) override {
    web_->Write(number_, "credentials " + ToUtf8(user) + "/" + ToUtf8(password));
  }
  bool Navigate(const std::wstring& url, const std::wstring& headers,
                const std::string* post_body) override {
    web_->Write(number_,
                post_body ? "post " + ToUtf8(url) + " " + *post_body : "navigate " + ToUtf8(url));
    Show(url);
    return true;
  }
  bool WaitLoaded(int32_t timeout_ms, const StopCheck& should_stop) override {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    // As on a live page, a wait that reaches its time limit ends without asking the runner.
    for (;;) {
      if (!Loading()) return true;
      if (std::chrono::steady_clock::now() >= until) return false;
      if (should_stop && should_stop()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  bool IsBusy() override { return Loading(); }
  int64_t LoadsStarted() override { return loads_; }
  // A stalled page stays at 0; a slow one moves from 0 to 99 over its load time.
  int32_t Progress() override {
    if (!Loading()) return 100;
    if (stalled_) return 0;
    return static_cast<int32_t>(LoadedMs() * 99 / slow_ms_);
  }
  std::wstring LocationUrl() override { return url_; }
  std::wstring Title() override { return L""; }

  std::unique_ptr<CDomDocument> Snapshot(const StopCheck&) override {
    web_->Write(number_, "snapshot");
    if (Loading() && !stalled_) return BuildFrom("<html><head></head><body></body></html>");
    return BuildFrom(html_);
  }

  bool Click(int32_t node_id) override {
    if (node_id / 100000 != version_) {
      web_->Write(number_, "stale-click");
      return false;
    }
    std::unique_ptr<CDomDocument> doc = Build();
    const CDomNode* e = NodeBySnapshotId(doc.get(), node_id);
    if (!e || !e->IsElement()) return false;
    web_->Write(number_, "click " + ToUtf8(e->Name()));
    if (const std::wstring_view* code = e->FindAttribute(L"onclick")) {
      Run(std::wstring(*code));
      return true;
    }
    const std::wstring_view* href = e->FindAttribute(L"href");
    if (!href) return true;
    if (href->rfind(L"javascript:", 0) == 0) {
      Run(std::wstring(href->substr(11)));
    } else {
      GoTo(Resolve(doc.get(), std::wstring(*href)));
    }
    return true;
  }

  bool RunScript(const std::wstring& script, int32_t) override {
    web_->Write(number_, "script " + ToUtf8(script));
    return Run(script);
  }
  int32_t ElementAtPoint(int32_t, int32_t) override { return -1; }
  bool Geometry(int32_t, CNodeGeometry*) override { return false; }
  void SetForwardTarget(CBrowserPage* target) override { forward_ = target; }

 private:
  // The page as it is now, with snapshot numbers that carry the content version.
  std::unique_ptr<CDomDocument> Build() { return BuildFrom(html_); }
  std::unique_ptr<CDomDocument> BuildFrom(const std::string& html) {
    std::unique_ptr<CDomDocument> doc = ParseHtmlUtf8(html);
    int32_t index = 0;
    for (const CDomNode* n = doc->Root(); n; n = NextInTree(n, doc->Root())) {
      const_cast<CDomNode*>(n)->SetSnapshotId(version_ * 100000 + ++index);
    }
    doc->SetLiveUrl(url_);
    return doc;
  }

  void Show(const std::wstring& url) {
    url_ = url;
    if (!web_->Lookup(url, &html_)) html_ = "<html><body><p>not found</p></body></html>";
    stalled_ = web_->Stalled(url);
    slow_ms_ = web_->SlowLoadMs(url);
    shown_at_ = std::chrono::steady_clock::now();
    ++version_;
    ++loads_;
  }
  long long LoadedMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 shown_at_)
        .count();
  }
  bool Loading() const { return stalled_ || LoadedMs() < slow_ms_; }
  // A link's target as a browser takes it: against the first BASE element with an href (itself
  // against the page's address), else the page's address.
  std::wstring Resolve(const CDomDocument* doc, const std::wstring& href) const {
    std::wstring base = url_;
    for (const CDomNode* n = doc->Root(); n; n = NextInTree(n, doc->Root())) {
      const std::wstring_view* b =
          n->IsElement() && n->Name() == L"BASE" ? n->FindAttribute(L"href") : nullptr;
      if (!b) continue;
      std::wstring resolved;
      if (CombineUrl(url_, *b, &resolved)) base = resolved;
      break;
    }
    std::wstring target;
    return CombineUrl(base, href, &target) ? target : href;
  }
  // A navigation the page makes by itself.
  void GoTo(const std::wstring& url) {
    if (forward_) {
      web_->Write(number_, "forwarded " + ToUtf8(url));
      forward_->Navigate(url, L"", nullptr);
      return;
    }
    web_->Write(number_, "follow " + ToUtf8(url));
    Show(url);
  }
  bool Run(const std::wstring& code) {
    CFakeWeb::Action a{};
    if (!web_->FindScript(code, &a)) return false;
    switch (a.kind) {
      case CFakeWeb::Action::kGo:
        GoTo(a.arg);
        return true;
      case CFakeWeb::Action::kShow:
        web_->Lookup(a.arg, &html_);
        ++version_;
        return true;
      case CFakeWeb::Action::kOpen:
        if (forward_) GoTo(a.arg);  // pop-ups open only in a forward target
        return true;
      case CFakeWeb::Action::kFail:
        return false;
    }
    return false;
  }

  CFakeWeb* web_;
  int number_;
  std::wstring url_, agent_;
  std::string html_ = "<html><head></head><body></body></html>";
  bool stalled_ = false;
  int slow_ms_ = 0;
  std::chrono::steady_clock::time_point shown_at_;
  int32_t version_ = 1;
  int64_t loads_ = 0;  // navigations shown
  CBrowserPage* forward_ = nullptr;
};

void CFakeWeb::Page(const std::wstring& address, const std::string& html) {
  std::lock_guard<std::mutex> lock(mu_);
  pages_[address] = html;
}

void CFakeWeb::Script(const std::wstring& code, Action action) {
  std::lock_guard<std::mutex> lock(mu_);
  scripts_[code] = std::move(action);
}

void CFakeWeb::Stall(const std::wstring& address) {
  std::lock_guard<std::mutex> lock(mu_);
  stalled_.insert(address);
}

std::unique_ptr<CBrowserPage> CFakeWeb::NewPage() {
  std::lock_guard<std::mutex> lock(mu_);
  return std::make_unique<CFakePage>(this, ++made_);
}

bool CFakeWeb::Lookup(const std::wstring& address, std::string* html) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = pages_.find(address);
  if (it == pages_.end()) return false;
  *html = it->second;
  return true;
}

void CFakeWeb::SlowLoad(const std::wstring& address, int ms) {
  std::lock_guard<std::mutex> lock(mu_);
  slow_[address] = ms;
}

int CFakeWeb::SlowLoadMs(const std::wstring& address) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = slow_.find(address);
  return it == slow_.end() ? 0 : it->second;
}

bool CFakeWeb::Stalled(const std::wstring& address) {
  std::lock_guard<std::mutex> lock(mu_);
  return stalled_.count(address) != 0;
}

bool CFakeWeb::FindScript(const std::wstring& code, Action* action) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = scripts_.find(code);
  if (it == scripts_.end()) return false;
  *action = it->second;
  return true;
}

void CFakeWeb::Write(int page, const std::string& line) {
  std::lock_guard<std::mutex> lock(mu_);
  log_.push_back(std::to_string(page) + " " + line);
}

std::vector<std::string> CFakeWeb::Log() {
  std::lock_guard<std::mutex> lock(mu_);
  return log_;
}

std::vector<std::string> CFakeWeb::LogWith(const std::string& part) {
  std::vector<std::string> out;
  for (const std::string& l : Log()) {
    if (l.find(part) != std::string::npos) out.push_back(l);
  }
  return out;
}

int CFakeWeb::PagesMade() {
  std::lock_guard<std::mutex> lock(mu_);
  return made_;
}

}  // namespace gm::test
