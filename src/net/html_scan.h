// CHtmlScan: a light, tolerant scanner that turns raw HTML text into a tree of nodes pointing
// into that text (nothing is copied). It never fails: every input yields a tree. Used to find
// the charset a page's head declares and the external scripts of a downloaded page.
//
// The text must stay alive and unchanged while the tree is used. A scanner and its tree belong
// to one thread. Building and destruction are iterative, so deeply nested input is safe.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

namespace gm {

enum class HtmlNodeKind { kText = 0, kStartTag = 1, kEndTag = 2, kComment = 4 };

struct HtmlScanNode {
  HtmlScanNode* pending = nullptr;  // building only: an end tag handed up by a descendant
  HtmlScanNode* parent = nullptr;   // building only: the element whose content was being read
  HtmlScanNode* next = nullptr;
  HtmlScanNode* first_child = nullptr;
  const wchar_t* begin = nullptr;  // "<" for tags
  const wchar_t* end = nullptr;    // just after the node (its content and closing tag included)
  const wchar_t* name_start = nullptr;
  const wchar_t* name_end = nullptr;

  HtmlNodeKind Kind() const { return static_cast<HtmlNodeKind>(name_start - begin); }
  bool IsElement() const { return Kind() == HtmlNodeKind::kStartTag; }
  // The tag name; the text itself for text nodes and comments.
  std::wstring_view Name() const {
    return {name_start, static_cast<size_t>(name_end - name_start)};
  }
  std::wstring_view Source() const { return {begin, static_cast<size_t>(end - begin)}; }
};

class CHtmlScan {
 public:
  CHtmlScan() = default;
  CHtmlScan(const CHtmlScan&) = delete;
  CHtmlScan& operator=(const CHtmlScan&) = delete;

  // Replaces any earlier tree by the tree of `text`.
  void ScanHtml(std::wstring_view text);
  HtmlScanNode* First() const { return first_; }

  // Node path: "@" first child, "#" next sibling, a name matches the cursor if it is a start tag
  // of that name (ASCII letters in any case), else the following siblings. Null when a move
  // finds nothing.
  static HtmlScanNode* FindNode(HtmlScanNode* start, std::wstring_view path);
  HtmlScanNode* FindNode(std::wstring_view path) const { return FindNode(first_, path); }

  // The value of an attribute of a start tag (without quotes); empty when absent.
  static std::wstring TagAttribute(const HtmlScanNode* tag, std::wstring_view name);

  // Whether start tags of this name take content (the fixed list of container names).
  static bool IsContainerName(std::wstring_view name);

 private:
  HtmlScanNode* NewNode();
  HtmlScanNode* ReadNode(const wchar_t*& p, const wchar_t* end, HtmlScanNode* parent);

  std::deque<HtmlScanNode> nodes_;
  HtmlScanNode* first_ = nullptr;
};

}  // namespace gm
