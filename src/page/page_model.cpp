#include "page/page_model.h"

#include <unicode/uchar.h>

#include <unordered_map>
#include <vector>

#include "doc/file_util.h"
#include "doc/text_codec.h"
#include "net/http_client.h"
#include "net/url.h"
#include "page/element_text.h"
#include "page/html_builder.h"
#include "page/html_serializer.h"

namespace gm {

namespace {

// Live frame documents may nest; a snapshot from a hostile page cannot make the walks deeper.
constexpr int kMaxFrameDepth = 16;

std::wstring FoldCase(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t& c : out) c = static_cast<wchar_t>(u_tolower(static_cast<UChar32>(c)));
  return out;
}

bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() && FoldCase(a) == FoldCase(b);
}

int Depth(const CDomNode* n) {
  int d = 0;
  for (; n; n = n->Parent()) ++d;
  return d;
}

const CDomNode* CommonAncestor(const CDomNode* a, const CDomNode* b) {
  int da = Depth(a), db = Depth(b);
  for (; da > db; --da) a = a->Parent();
  for (; db > da; --db) b = b->Parent();
  while (a != b) {
    a = a->Parent();
    b = b->Parent();
  }
  return a;
}

// FRAME elements, then IFRAME elements, in document order: the order frames are loaded in.
std::vector<const CDomNode*> FramesByTag(const CDomNode* root) {
  std::vector<const CDomNode*> out = ElementsByName(root, L"FRAME");
  std::vector<const CDomNode*> iframes = ElementsByName(root, L"IFRAME");
  out.insert(out.end(), iframes.begin(), iframes.end());
  return out;
}

// FRAME and IFRAME elements together in document order: the order of the window's frames.
std::vector<const CDomNode*> FramesInOrder(const CDomNode* root) {
  std::vector<const CDomNode*> out;
  for (const CDomNode* n = root; n; n = NextInTree(n, root)) {
    if (n->IsElement() && (n->Name() == L"FRAME" || n->Name() == L"IFRAME")) out.push_back(n);
  }
  return out;
}

}  // namespace

CPageModel::CPageModel() : user_agent_(CHttpClient::DefaultUserAgent()) {}
CPageModel::~CPageModel() = default;

bool CPageModel::LoadText(std::wstring_view text, const std::wstring& base, bool load_frames,
                          const FrameLoader& loader, const std::function<bool()>& should_stop) {
  Release();
  document_.reset();  // the previous page's tree is not kept while the next one is built
  std::unique_ptr<CDomDocument> parsed = ParseHtml(text, should_stop);
  bool stopped = !parsed;
  AdoptDocument(stopped ? std::make_unique<CDomDocument>() : std::move(parsed), base);
  live_frames_ = !load_frames;
  if (stopped) return false;
  if (!load_frames || !loader) return true;
  for (const CDomNode* frame : FramesByTag(document_->Root())) {
    const std::wstring_view* src_attr = frame->FindAttribute(L"src");
    std::wstring src(src_attr ? *src_attr : std::wstring_view());
    std::wstring url;
    if (!CombineUrl(base_, src, &url)) url = src;
    if (EqualsIgnoringCase(url, base_)) continue;
    auto page = std::make_unique<CPageModel>();
    page->SetUserAgent(user_agent_);
    page->SetFilterHiddenText(filter_hidden_text_);
    if (!loader(url, base_, page.get())) continue;
    frames_.emplace(frame, std::move(page));  // an identity already present keeps its page
  }
  return true;
}

void CPageModel::AdoptDocument(std::unique_ptr<CDomDocument> document, const std::wstring& base) {
  Release();
  base_ = base;
  live_frames_ = true;
  live_ = false;
  document_ = std::move(document);
}

void CPageModel::SetLiveDocument(std::unique_ptr<CDomDocument> document, const std::wstring& base) {
  // A new snapshot of the same page: the stored fingerprint is what paging compares it with.
  frames_.clear();
  base_ = base;
  live_frames_ = true;
  live_ = true;
  document_ = std::move(document);
}

void CPageModel::Release() {
  frames_.clear();
  stored_fingerprint_.clear();
}

const CDomNode* CPageModel::DocumentElement() const {
  return document_ ? document_->DocumentElement() : nullptr;
}

const CDomNode* CPageModel::BodyNode() const {
  return document_ ? document_->Body() : nullptr;
}

const CPageModel* CPageModel::FramePage(const CDomNode* frame_element) const {
  auto it = frames_.find(frame_element);
  return it == frames_.end() ? nullptr : it->second.get();
}

const CDomNode* CPageModel::FrameDocumentElement(const CDomNode* frame) const {
  if (!frame) return nullptr;
  if (live_frames_) {
    const CDomDocument* doc = frame->ContentDocument();
    return doc ? doc->DocumentElement() : nullptr;
  }
  const CPageModel* page = FramePage(frame);
  return page ? page->DocumentElement() : nullptr;
}

std::wstring CPageModel::ElementText(const CDomNode* element) const {
  return gm::ElementText(element, filter_hidden_text_);
}

std::wstring CPageModel::NodeText(const CDomNode* node) const {
  if (!node) return std::wstring();
  if (node->IsElement()) return ElementText(node);
  return std::wstring(node->Value());
}

const CDomNode* CPageModel::FindTextElement(const CDomNode* any_node,
                                            std::wstring_view text) const {
  if (!any_node || text.empty()) return nullptr;
  return FindInDocument(any_node->Document(), text, 0);
}

const CDomNode* CPageModel::LinkShowingText(std::wstring_view text) const {
  const CDomNode* e = FindTextElement(DocumentElement(), text);
  while (e && !(e->IsElement() && e->Name() == L"A")) e = e->ParentElement();
  return e;
}

std::wstring CPageModel::LinkAddress(const CDomNode* link) const {
  // A link of a frame, or one that opens another window, does not change this page.
  if (!link || !link->IsElement() || !document_ || link->Document() != document_.get() ||
      link->FindAttribute(L"onclick")) {
    return {};
  }
  if (const std::wstring_view* target = link->FindAttribute(L"target")) {
    if (!target->empty() && *target != L"_self" && *target != L"_top" && *target != L"_parent") {
      return {};
    }
  }
  const std::wstring_view* href = link->FindAttribute(L"href");
  if (!href) return {};
  // The document's base: its first BASE element with an href, as browsers take it.
  std::wstring doc_base = base_;
  for (const CDomNode* b : ElementsByName(document_->Root(), L"BASE")) {
    const std::wstring_view* base_href = b->FindAttribute(L"href");
    if (!base_href) continue;
    std::wstring resolved;
    if (CombineUrl(base_, *base_href, &resolved)) doc_base = resolved;
    break;
  }
  std::wstring target;
  if (!CombineUrl(doc_base, *href, &target)) return {};
  CHttpAddress parts;
  if (!ParseHttpAddress(target, &parts) || (parts.scheme != L"http" && parts.scheme != L"https")) {
    return {};
  }
  return target;
}

const CDomNode* CPageModel::FindInDocument(const CDomDocument* doc, std::wstring_view text,
                                           int depth) const {
  if (!doc || depth > kMaxFrameDepth) return nullptr;
  if (const CDomNode* body = doc->Body()) {
    CRenderedText rendered;
    RenderText(body, &rendered);
    std::wstring haystack = FoldCase(rendered.text);
    std::wstring needle = FoldCase(text);
    size_t from = 0;
    std::unordered_map<const CDomNode*, bool> checked;
    for (;;) {
      size_t pos = haystack.find(needle, from);
      if (pos == std::wstring::npos) break;
      // The smallest element holding the match: the common ancestor of the first and last
      // characters that come from the page's text (line breaks and tabs of the layout belong to
      // no node).
      const CDomNode* first = nullptr;
      const CDomNode* last = nullptr;
      for (size_t i = pos; i < pos + needle.size(); ++i) {
        if (const CDomNode* s = rendered.sources[i]) {
          if (!first) first = s;
          last = s;
        }
      }
      const CDomNode* element = first ? CommonAncestor(first, last) : body;
      while (element && !element->IsElement()) element = element->Parent();
      // Many matches can share one smallest element (a common word in a long text): each
      // element's text is rendered and checked once per search.
      if (element) {
        auto [it, fresh] = checked.emplace(element, false);
        if (fresh) it->second = ElementText(element).find(text) != std::wstring::npos;
        if (it->second) return element;
      }
      from = pos + 1;
    }
  }
  const CDomNode* root = doc->DocumentElement();
  if (!root) return nullptr;
  for (const CDomNode* frame : FramesInOrder(root)) {
    const CDomNode* frame_root = nullptr;
    if (live_frames_) {
      frame_root = frame->ContentDocument() ? frame->ContentDocument()->DocumentElement() : nullptr;
    } else if (doc == document_.get()) {
      frame_root = FrameDocumentElement(frame);
    }
    if (!frame_root) continue;
    if (const CDomNode* found = FindInDocument(frame_root->Document(), text, depth + 1))
      return found;
  }
  return nullptr;
}

void CPageModel::AppendFingerprintText(const CDomDocument* doc, std::wstring* out,
                                       int depth) const {
  if (!doc || depth > kMaxFrameDepth) return;
  const CDomNode* root = doc->DocumentElement();
  if (!root) return;
  SerializeNode(root, out);
  for (const CDomNode* frame : FramesInOrder(root)) {
    const CDomNode* frame_root = nullptr;
    if (live_frames_) {
      frame_root = frame->ContentDocument() ? frame->ContentDocument()->DocumentElement() : nullptr;
    } else if (doc == document_.get()) {
      frame_root = FrameDocumentElement(frame);
    }
    if (frame_root) AppendFingerprintText(frame_root->Document(), out, depth + 1);
  }
}

std::string CPageModel::Fingerprint() const {
  std::wstring text;
  AppendFingerprintText(document_.get(), &text, 0);
  return Md5Hex(ToUtf16LE(text));
}

}  // namespace gm
