#include "task_check.h"

#include <cwctype>
#include <utility>
#include <vector>

#include "doc/text_codec.h"
#include "task/crawl_model.h"

namespace gm::cli {
namespace {

class TextChecker {
 public:
  explicit TextChecker(std::wstring_view t) : t_(t) {}

  bool Check(std::string* error) {
    SkipSpace();
    if (t_.substr(p_, 5) == L"<?xml") {
      size_t end = t_.find(L"?>", p_);
      if (end == std::wstring_view::npos) return Fail("the <?xml declaration is not closed", error);
      p_ = end + 2;
    }
    int top_elements = 0;
    while (p_ < t_.size()) {
      if (open_.empty()) SkipSpace();
      if (p_ >= t_.size()) break;
      if (t_[p_] != L'<') {
        if (open_.empty()) return Fail("text outside the task element", error);
        p_ = std::min(t_.find(L'<', p_), t_.size());
        continue;
      }
      if (t_.substr(p_, 4) == L"<!--") return Fail("comments are not part of the format", error);
      if (t_.substr(p_, 2) == L"</") {
        if (!EndTag(error)) return false;
        continue;
      }
      if (open_.empty() && ++top_elements > 1) return Fail("more than one top element", error);
      if (!StartTag(error)) return false;
    }
    if (!open_.empty()) {
      return Fail("<" + ToUtf8(open_.back().first) + "> opened on line " +
                      std::to_string(open_.back().second) + " is never closed",
                  error);
    }
    if (top_elements == 0) return Fail("no element", error);
    return true;
  }

 private:
  static bool NameChar(wchar_t c) {
    return !std::iswspace(c) && c != L'<' && c != L'>' && c != L'=' && c != L'"' && c != L'/';
  }
  void SkipSpace() {
    while (p_ < t_.size() && std::iswspace(t_[p_])) ++p_;
  }
  std::wstring Name() {
    size_t b = p_;
    while (p_ < t_.size() && NameChar(t_[p_])) ++p_;
    return std::wstring(t_.substr(b, p_ - b));
  }
  int Line() const {
    int line = 1;
    for (size_t i = 0; i < p_ && i < t_.size(); ++i) line += t_[i] == L'\n';
    return line;
  }
  bool Fail(const std::string& what, std::string* error) const {
    *error = "line " + std::to_string(Line()) + ": " + what;
    return false;
  }

  bool StartTag(std::string* error) {
    ++p_;
    int line = Line();
    std::wstring name = Name();
    if (name.empty()) return Fail("a \"<\" that starts no element", error);
    for (;;) {
      SkipSpace();
      if (p_ >= t_.size()) return Fail("the start tag <" + ToUtf8(name) + "> is cut off", error);
      if (t_[p_] == L'>') {
        ++p_;
        open_.emplace_back(name, line);
        return true;
      }
      if (t_.substr(p_, 2) == L"/>") {
        p_ += 2;
        return true;
      }
      std::wstring attr = Name();
      if (attr.empty() || p_ + 1 >= t_.size() || t_[p_] != L'=' || t_[p_ + 1] != L'"') {
        return Fail("malformed attribute in <" + ToUtf8(name) + ">", error);
      }
      size_t close = t_.find(L'"', p_ + 2);
      if (close == std::wstring_view::npos) {
        return Fail("the value of " + ToUtf8(attr) + " is not closed", error);
      }
      p_ = close + 1;
    }
  }

  bool EndTag(std::string* error) {
    p_ += 2;
    std::wstring name = Name();
    if (p_ >= t_.size() || t_[p_] != L'>') return Fail("malformed end tag", error);
    ++p_;
    if (open_.empty()) return Fail("</" + ToUtf8(name) + "> closes nothing", error);
    if (open_.back().first != name) {
      return Fail("</" + ToUtf8(name) + "> does not close <" + ToUtf8(open_.back().first) +
                      "> opened on line " + std::to_string(open_.back().second),
                  error);
    }
    open_.pop_back();
    return true;
  }

  std::wstring_view t_;
  size_t p_ = 0;
  std::vector<std::pair<std::wstring, int>> open_;
};

}  // namespace

bool CheckTaskText(std::wstring_view text, std::string* error) {
  if (!text.empty() && text[0] == 0xFEFF) text.remove_prefix(1);
  return TextChecker(text).Check(error);
}

bool CheckTaskNesting(const CXmlNode& task, std::string* error) {
  // Location levels, counted through nested locations and the locations of link items.
  std::vector<std::pair<const CXmlNode*, int>> stack{{&task, 0}};
  while (!stack.empty()) {
    auto [node, depth] = stack.back();
    stack.pop_back();
    for (const CXmlNode* c = node->FirstChild(); c; c = c->Next()) {
      if (c->Name() == L"location") {
        // The crawl model reads levels 0 to kMaxLocationNesting.
        if (depth + 1 > kMaxLocationNesting + 1) {
          *error = "location levels are nested deeper than " + std::to_string(kMaxLocationNesting);
          return false;
        }
        stack.push_back({c, depth + 1});
      } else if (c->Name() == L"data") {
        stack.push_back({c, depth});
      }
    }
  }
  return true;
}

}  // namespace gm::cli
