#include "browser/snapshot_reader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <map>

#include "page/css_style.h"

namespace gm {

namespace {

enum RecordKind { kClose = 0, kElement = 1, kText = 3, kComment = 8, kFrameDocument = 9 };

DomNamespace NamespaceOf(int code) {
  switch (code) {
    case 1:
      return DomNamespace::kSvg;
    case 2:
      return DomNamespace::kMathMl;
    default:
      return DomNamespace::kHtml;
  }
}

// Computed styles by style-table index, one set per document (interned strings belong to it).
class CStyleCache {
 public:
  explicit CStyleCache(const QJsonArray& table) : table_(table) {}

  void Apply(CDomNode* element, int index) {
    auto& cached = per_document_[element->Document()];
    if (index < 0 || index >= table_.size()) return;
    if (cached.size() < static_cast<size_t>(table_.size())) cached.resize(table_.size());
    if (cached[index]) {
      element->SetStyle(*cached[index]);
      return;
    }
    QJsonArray s = table_[index].toArray();
    std::wstring v[6];
    for (int i = 0; i < 6 && i < s.size(); ++i) v[i] = s[i].toString().toStdWString();
    SetComputedStyle(element, {v[0], v[1], v[2], v[3], v[4], v[5]});
    cached[index] = std::make_unique<CComputedStyle>(element->Style());
  }

 private:
  QJsonArray table_;
  std::map<const CDomDocument*, std::vector<std::unique_ptr<CComputedStyle>>> per_document_;
};

}  // namespace

std::unique_ptr<CDomDocument> ReadSnapshot(const QByteArray& json,
                                           std::vector<CUnreachableFrame>* unreachable) {
  QJsonParseError error;
  QJsonDocument parsed = QJsonDocument::fromJson(json, &error);
  if (error.error != QJsonParseError::NoError || !parsed.isObject()) return nullptr;
  QJsonObject top = parsed.object();
  auto doc = std::make_unique<CDomDocument>();
  doc->SetLiveUrl(top.value(QLatin1String("u")).toString().toStdWString());
  CStyleCache styles(top.value(QLatin1String("s")).toArray());

  // The node whose children the records are: an element or a document's root.
  std::vector<CDomNode*> open{doc->Root()};
  // The document each open level belongs to.
  std::vector<CDomDocument*> docs{doc.get()};
  const QJsonArray records = top.value(QLatin1String("n")).toArray();
  for (const QJsonValue& value : records) {
    if (!value.isArray()) {  // a close
      if (open.size() > 1) {
        open.pop_back();
        docs.pop_back();
      }
      continue;
    }
    const QJsonArray r = value.toArray();
    const int kind = r.at(0).toInt();
    CDomNode* parent = open.back();
    CDomDocument* d = docs.back();
    switch (kind) {
      case kElement: {
        CDomNode* e =
            d->CreateElement(r.at(2).toString().toStdWString(), NamespaceOf(r.at(3).toInt()));
        e->SetSnapshotId(r.at(1).toInt());
        const QJsonArray attrs = r.at(5).toArray();
        e->ReserveAttributes(attrs.size() / 2);
        for (qsizetype i = 0; i + 1 < attrs.size(); i += 2)
          e->AppendAttribute(attrs[i].toString().toStdWString(),
                             attrs[i + 1].toString().toStdWString());
        styles.Apply(e, r.at(4).toInt());
        parent->AppendChild(e);
        if (r.size() > 6 && unreachable)
          unreachable->push_back({e, r.at(6).toString().toStdWString()});
        open.push_back(e);
        docs.push_back(d);
        break;
      }
      case kText:
      case kComment: {
        std::wstring data = r.at(2).toString().toStdWString();
        CDomNode* last = parent->LastChild();
        if (kind == kText && last && last->IsText()) {
          last->AppendValue(data);
          break;
        }
        CDomNode* n =
            kind == kText ? d->CreateText(std::move(data)) : d->CreateComment(std::move(data));
        n->SetSnapshotId(r.at(1).toInt());
        parent->AppendChild(n);
        break;
      }
      case kFrameDocument: {
        // Opens the document of the frame element whose own children were just read.
        if (!parent->IsElement()) break;
        CDomDocument* inner = d->CreateContentDocument(parent);
        inner->SetLiveUrl(r.at(1).toString().toStdWString());
        open.push_back(inner->Root());
        docs.push_back(inner);
        break;
      }
      default:
        break;
    }
  }
  return doc;
}

}  // namespace gm
