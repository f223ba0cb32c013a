// CPageModel: one analysed page. It owns the page's DOM (built from page text, or a snapshot of
// the live page in browser mode), the pages of its frames, and the reading operations that
// depend on the whole page: frame documents, text search, fingerprints and element text with
// the hidden-text filter.
//
// Threads: a model belongs to the runner thread that owns its location (or to the editor);
// it is never shared. Nodes handed out stay valid until the next LoadText, SetLiveDocument or
// the model's destruction; Release keeps the document.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "page/browser.h"
#include "page/dom.h"

namespace gm {

class CPageModel {
 public:
  // Loads one frame page through the engine's page-load procedure: download `url` with
  // `referer` as the referring page and external scripts inlined, then LoadText into
  // `frame_page` without frames. False when the page could not be loaded.
  using FrameLoader = std::function<bool(const std::wstring& url, const std::wstring& referer,
                                         CPageModel* frame_page)>;

  CPageModel();
  CPageModel(const CPageModel&) = delete;
  CPageModel& operator=(const CPageModel&) = delete;
  ~CPageModel();

  // Builds the tree from page text. With load_frames, every FRAME and then every IFRAME element
  // whose address (resolved against `base`) is not the page's own address gets a frame page
  // through `loader` (one level deep). Sets the live-frames flag to !load_frames. Any text
  // gives a tree: false only when `should_stop` (may be empty; asked about every 50 ms while a
  // long page is built) said stop, which leaves the model with an empty document.
  bool LoadText(std::wstring_view text, const std::wstring& base, bool load_frames,
                const FrameLoader& loader, const std::function<bool()>& should_stop = nullptr);
  // LoadText without frames for a tree already parsed from the page text (ParseHtml, perhaps
  // on another thread).
  void AdoptDocument(std::unique_ptr<CDomDocument> document, const std::wstring& base);
  // Browser mode: takes a snapshot of the live page; frames are reached through the snapshot's
  // frame documents (live-frames flag 1). The stored fingerprint stays.
  void SetLiveDocument(std::unique_ptr<CDomDocument> document, const std::wstring& base);
  // Deletes every frame page and empties the stored fingerprint; the document stays.
  void Release();

  const CDomDocument* Document() const { return document_.get(); }
  const CDomNode* DocumentElement() const;
  const CDomNode* BodyNode() const;
  const std::wstring& BaseAddress() const { return base_; }
  bool LiveFrames() const { return live_frames_; }
  // The document is a snapshot of the live page in the browser (SetLiveDocument), not a tree
  // built from downloaded text.
  bool Live() const { return live_; }

  // The fingerprint of the page after the last successful paging step; empty after Release.
  const std::string& StoredFingerprint() const { return stored_fingerprint_; }
  void SetStoredFingerprint(std::string fingerprint) {
    stored_fingerprint_ = std::move(fingerprint);
  }
  // The user agent the site reports; starts as the HTTP client's default.
  const std::wstring& UserAgent() const { return user_agent_; }
  void SetUserAgent(std::wstring user_agent) { user_agent_ = std::move(user_agent); }
  // The "filtertt" switch of the configuration: hidden text counts as empty element text.
  bool FilterHiddenText() const { return filter_hidden_text_; }
  void SetFilterHiddenText(bool on) { filter_hidden_text_ = on; }

  // The hidden browser page of browser mode; created by the engine on first use.
  CBrowserPage* Browser() const { return browser_.get(); }
  void SetBrowser(std::unique_ptr<CBrowserPage> browser) { browser_ = std::move(browser); }

  // The frame page loaded for a FRAME/IFRAME element of this page; null when none was loaded.
  const CPageModel* FramePage(const CDomNode* frame_element) const;
  size_t FramePageCount() const { return frames_.size(); }
  // The document element of the frame document of a FRAME/IFRAME element: from the frame map
  // when frames are stored, from the snapshot when they are live; null when there is none.
  const CDomNode* FrameDocumentElement(const CDomNode* frame_element) const;

  std::wstring ElementText(const CDomNode* element) const;
  // Element: ElementText; any other node: its value.
  std::wstring NodeText(const CDomNode* node) const;

  // The element that shows `text`: a search without regard to letter case over the rendered
  // text of the BODY of the node's document; for each match, the smallest element holding the
  // whole match is the result when its ElementText contains the text exactly; otherwise the
  // search goes on one character after the match start. Then the frames of that document in
  // order. Null when nothing is found or the text is empty.
  const CDomNode* FindTextElement(const CDomNode* any_node, std::wstring_view text) const;
  // The next-page link: the first A element at or above the element that shows `text` in the
  // page; null when there is none.
  const CDomNode* LinkShowingText(std::wstring_view text) const;
  // Where following `link` (an A element of this page) goes when it is a plain navigation: its
  // href resolved against the document's base (the first BASE element with an href, itself
  // resolved against the page address) or else the page address. Empty when following it needs
  // the page's scripts or does not lead this page on (no href, a "javascript:" href, an onclick
  // handler, a link inside a frame, a target window other than this one, or an address that is
  // not http or https).
  std::wstring LinkAddress(const CDomNode* link) const;

  // MD5 (32 lower-case hex digits) of the outerHTML of the document element followed by that of
  // every frame document (recursively, in frame order), as UTF-16LE code units.
  std::string Fingerprint() const;

 private:
  const CDomNode* FindInDocument(const CDomDocument* doc, std::wstring_view text, int depth) const;
  void AppendFingerprintText(const CDomDocument* doc, std::wstring* out, int depth) const;

  std::wstring base_;
  std::string stored_fingerprint_;
  bool live_frames_ = false;
  bool live_ = false;
  bool filter_hidden_text_ = false;
  std::unique_ptr<CDomDocument> document_;
  std::map<const CDomNode*, std::unique_ptr<CPageModel>> frames_;
  std::wstring user_agent_;
  std::unique_ptr<CBrowserPage> browser_;
};

}  // namespace gm
