// The document tree: elements with ordered string attributes, text nodes, sibling chains.
//
// Ownership: a node owns its children; a CXmlDocument owns its top-level chain. Removing a node
// destroys exactly that node and its subtree. Nodes carry no locks: the thread that owns the
// document decides who may change it. Deep trees are handled without recursion (parsing,
// writing and destruction are iterative), so hostile input cannot exhaust the stack.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "doc/gost.h"
#include "doc/text_codec.h"

namespace gm {

enum XmlNodeType : int32_t { XmlElement = 0, XmlText = 1, XmlEndTag = 4 };

class CXmlNode {
 public:
  using AttributeMap = std::map<std::wstring, std::wstring, Utf16Less>;

  CXmlNode() = default;
  CXmlNode(std::wstring name, XmlNodeType type);
  // Deep copy through the text form: the copy carries the text form's normalisations.
  CXmlNode(const CXmlNode& source);
  CXmlNode& operator=(const CXmlNode&) = delete;
  ~CXmlNode();

  XmlNodeType Type() const { return type_; }
  const std::wstring& Name() const { return name_; }
  void SetName(std::wstring name) { name_ = std::move(name); }
  CXmlNode* Parent() const { return parent_; }
  CXmlNode* Next() const { return next_; }
  CXmlNode* FirstChild() const { return first_child_; }
  const AttributeMap& Attributes() const { return attributes_; }

  CXmlNode* Find(std::wstring_view path) const;
  CXmlNode* FindChild(std::wstring_view name) const;
  std::optional<std::wstring> GetText() const;
  std::optional<std::wstring> GetChildText(std::wstring_view name) const;
  std::optional<std::wstring> GetAttribute(std::wstring_view name) const;
  int32_t GetAttributeInt(std::wstring_view name, int32_t default_value) const;

  void SetAttribute(std::wstring_view name, std::wstring_view value);
  void SetAttributeInt(std::wstring_view name, int32_t value);
  bool RemoveAttribute(std::wstring_view name);
  void SetText(std::wstring_view text);
  void SetChildText(std::wstring_view name, std::wstring_view text);
  // Takes ownership. Returns the appended node.
  CXmlNode* AppendChild(CXmlNode* node);
  CXmlNode* AppendChild(std::unique_ptr<CXmlNode> node) { return AppendChild(node.release()); }
  CXmlNode* AppendSibling(CXmlNode* node);
  void RemoveChild(CXmlNode* node);
  // Unlinks a child without destroying it; the caller takes ownership.
  std::unique_ptr<CXmlNode> DetachChild(CXmlNode* node);

  // Text form.
  static void WriteText(const CXmlNode* node, std::wstring* out, int depth);
  static void WriteTextWithSiblings(const CXmlNode* node, std::wstring* out, int depth);
  // Reads one node from text[pos...]; returns the position after what was read. The text ends
  // at its end or at the first zero code unit.
  size_t ParseNode(std::wstring_view text, size_t pos);

 private:
  friend class CXmlDocument;
  void DeleteChildren();
  static size_t ParseHead(CXmlNode* node, std::wstring_view t, size_t p, bool* open);

  XmlNodeType type_ = XmlElement;
  std::wstring name_;
  CXmlNode* parent_ = nullptr;
  CXmlNode* next_ = nullptr;
  CXmlNode* first_child_ = nullptr;
  AttributeMap attributes_;
};

// A tree with several top-level nodes and the file it was loaded from.
class CXmlDocument {
 public:
  CXmlDocument() = default;
  CXmlDocument(const CXmlDocument&) = delete;
  CXmlDocument& operator=(const CXmlDocument&) = delete;
  ~CXmlDocument() { Clear(); }

  CXmlNode* First() const { return first_; }
  const std::wstring& Path() const { return path_; }
  void SetPath(std::wstring path) { path_ = std::move(path); }

  void Parse(std::wstring_view text);
  void Parse(const wchar_t* text) {
    if (text)
      Parse(std::wstring_view(text));
    else
      Clear();
  }
  std::wstring ToText() const;
  CXmlNode* Find(std::wstring_view path) const { return first_ ? first_->Find(path) : nullptr; }
  CXmlNode* FindTop(std::wstring_view name) const;
  CXmlNode* AppendTop(CXmlNode* node);
  CXmlNode* AppendTop(std::unique_ptr<CXmlNode> node) { return AppendTop(node.release()); }
  void RemoveTop(CXmlNode* node);
  void Clear();

  // Enciphered storage. Save writes a temporary file beside the target and renames it over the
  // target, so a failed save leaves the previous file intact. An empty path means Path().
  bool Save(const std::wstring& path, const GostKey& key) const;
  bool Save(const GostKey& key) const { return Save(std::wstring(), key); }
  bool Load(const std::wstring& path, const GostKey& key);
  // The same two steps on memory: the stored bytes of this document, and reading them back.
  bool EncodeStored(const GostKey& key, std::string* out) const;
  bool DecodeStored(std::string_view stored, const GostKey& key);

 private:
  CXmlNode* first_ = nullptr;
  std::wstring path_;
};

}  // namespace gm
