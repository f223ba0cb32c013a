#include "page/markup_bounds.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <utility>
#include <vector>

namespace gm {

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

bool IsAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool OneOf(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool IsVoid(std::string_view n) {
  return OneOf(n, {"area", "base", "basefont", "bgsound", "br", "col", "embed", "frame", "hr",
                   "img", "input", "keygen", "link", "meta", "param", "source", "track", "wbr"});
}

// Elements whose content is text up to their own end tag.
bool IsRawText(std::string_view n) {
  return OneOf(n, {"script", "style", "textarea", "title", "xmp", "noscript", "iframe", "noembed",
                   "noframes"});
}

// Elements a new start tag of the same group closes (a second li closes the first, a td the
// open th, and so on); empty for the others.
std::string_view Group(std::string_view n) {
  if (n == "th") return "td";
  if (n == "dt") return "dd";
  if (n == "thead" || n == "tfoot") return "tbody";
  if (n == "rb" || n == "rtc" || n == "rp") return "rt";
  if (OneOf(n, {"td", "dd", "tbody", "rt", "li", "p", "tr", "option", "optgroup", "a", "nobr",
                "button"})) {
    return n;
  }
  return {};
}

// Where the search for an open element of the same group stops.
bool IsScopeBoundary(std::string_view n) {
  return OneOf(n, {"table", "ul", "ol", "dl", "select", "html", "body", "template", "td", "th"});
}

// Scans tags as the HTML tokenizer sees them (comments, raw text and quoted attribute values
// skipped) and keeps a model of the open elements good enough to measure nesting depth.
class Bounder {
 public:
  Bounder(std::string_view in, CStopPoll* stop) : in_(in), stop_(stop) {}

  // Ranges of the input to leave out, in order.
  std::vector<std::pair<size_t, size_t>> Run() {
    size_t i = 0;
    while (i < in_.size()) {
      const void* lt = std::memchr(in_.data() + i, '<', in_.size() - i);
      if (!lt) break;
      i = static_cast<size_t>(static_cast<const char*>(lt) - in_.data());
      i = Tag(i);
      if (stop_ && (++tags_ & 1023) == 0 && stop_->Poll()) break;
    }
    return std::move(cuts_);
  }

 private:
  size_t Find(std::string_view what, size_t from) const {
    size_t at = in_.find(what, from);
    return at == std::string_view::npos ? in_.size() : at;
  }

  // Case-insensitive search for "</name".
  size_t FindEndTag(std::string_view name, size_t from) const {
    for (size_t at = from; (at = in_.find("</", at)) != std::string_view::npos; at += 2) {
      size_t k = 0;
      while (k < name.size() && at + 2 + k < in_.size() && Lower(in_[at + 2 + k]) == name[k]) ++k;
      if (k == name.size()) return at;
    }
    return in_.size();
  }

  std::string Name(size_t* j) const {
    std::string name;
    while (*j < in_.size() && !IsSpace(in_[*j]) && in_[*j] != '/' && in_[*j] != '>') {
      name += Lower(in_[(*j)++]);
    }
    return name;
  }

  // The tag at `i` ("<" there); returns where scanning goes on.
  size_t Tag(size_t i) {
    size_t n = in_.size();
    if (in_.compare(i, 4, "<!--") == 0) return std::min(n, Find("-->", i + 4) + 3);
    if (i + 1 >= n) return n;
    char c = in_[i + 1];
    if (c == '!' || c == '?') return std::min(n, Find(">", i + 1) + 1);
    if (c == '/' && i + 2 < n && IsAlpha(in_[i + 2])) {
      size_t j = i + 2;
      std::string name = Name(&j);
      Close(name);
      return std::min(n, Find(">", j) + 1);
    }
    if (!IsAlpha(c)) return i + 1;
    return StartTag(i);
  }

  size_t StartTag(size_t i) {
    size_t n = in_.size();
    size_t j = i + 1;
    std::string name = Name(&j);
    size_t attributes = 0;
    size_t cut_from = 0;
    for (;;) {
      while (j < n && (IsSpace(in_[j]) || in_[j] == '/')) ++j;
      if (j >= n || in_[j] == '>') break;
      size_t start = j++;  // a name may begin with "=" too
      while (j < n && !IsSpace(in_[j]) && in_[j] != '/' && in_[j] != '>' && in_[j] != '=') ++j;
      size_t k = j;
      while (k < n && IsSpace(in_[k])) ++k;
      if (k < n && in_[k] == '=') {
        j = k + 1;
        while (j < n && IsSpace(in_[j])) ++j;
        if (j < n && (in_[j] == '"' || in_[j] == '\'')) {
          j = std::min(n, Find(std::string_view(&in_[j], 1), j + 1) + 1);
        } else {
          while (j < n && !IsSpace(in_[j]) && in_[j] != '>') ++j;
        }
      }
      if (++attributes == kMaxAttributes + 1) cut_from = start;
    }
    size_t gt = j;  // the ">" (or the end of the text)
    bool self_closing = gt < n && gt > i && in_[gt - 1] == '/';
    if (cut_from) cuts_.push_back({cut_from, self_closing ? gt - 1 : gt});
    size_t next = std::min(n, gt + 1);
    if (name == "plaintext") return n;
    if (IsRawText(name)) return FindEndTag(name, next);
    if (IsVoid(name) || self_closing) return next;
    std::string_view group = Group(name);
    if (!group.empty()) CloseSameGroup(group);
    if (stack_.size() >= kMaxDepth) {
      // Too deep: the tag is left out and its content joins the deepest open element.
      if (cut_from) cuts_.pop_back();
      cuts_.push_back({i, next});
      return next;
    }
    ++open_[name];
    stack_.push_back(std::move(name));
    return next;
  }

  void PopTo(size_t depth) {
    while (stack_.size() > depth) {
      --open_[stack_.back()];
      stack_.pop_back();
    }
  }

  // An end tag closes the nearest open element of its name and everything opened inside it;
  // one without an open element is ignored.
  void Close(const std::string& name) {
    auto it = open_.find(name);
    if (it == open_.end() || it->second <= 0) return;
    for (size_t d = stack_.size(); d-- > 0;) {
      if (stack_[d] == name) {
        PopTo(d);
        return;
      }
    }
  }

  void CloseSameGroup(std::string_view group) {
    for (size_t d = stack_.size(), steps = 0; d-- > 0 && steps < 64; ++steps) {
      if (Group(stack_[d]) == group) {
        PopTo(d);
        return;
      }
      if (IsScopeBoundary(stack_[d])) return;
    }
  }

  std::string_view in_;
  CStopPoll* stop_;
  size_t tags_ = 0;
  std::vector<std::string> stack_;
  std::unordered_map<std::string, int> open_;  // open elements per name
  std::vector<std::pair<size_t, size_t>> cuts_;
};

}  // namespace

std::string_view BoundMarkup(std::string_view utf8, std::string* storage, CStopPoll* stop) {
  std::vector<std::pair<size_t, size_t>> cuts = Bounder(utf8, stop).Run();
  if (cuts.empty()) return utf8;
  storage->clear();
  storage->reserve(utf8.size());
  size_t pos = 0;
  for (const auto& [from, to] : cuts) {
    if (from < pos) continue;
    storage->append(utf8, pos, from - pos);
    pos = to;
  }
  storage->append(utf8, pos, std::string_view::npos);
  return *storage;
}

}  // namespace gm
