#include "page/task_draft.h"

namespace gm {

namespace {

std::wstring StoredUrl(const CXmlNode& task) {
  const CXmlNode* address = task.FindChild(L"address");
  return address ? address->GetChildText(L"url").value_or(L"") : std::wstring();
}

// Makes `target` a copy of `source` in place (attributes and children), keeping its position.
void AssignElement(CXmlNode* target, const CXmlNode& source) {
  std::vector<std::wstring> names;
  for (const auto& [name, value] : target->Attributes()) names.push_back(name);
  for (const std::wstring& name : names) target->RemoveAttribute(name);
  for (const auto& [name, value] : source.Attributes()) target->SetAttribute(name, value);
  while (CXmlNode* child = target->FirstChild()) target->RemoveChild(child);
  for (const CXmlNode* c = source.FirstChild(); c; c = c->Next())
    target->AppendChild(std::make_unique<CXmlNode>(*c));
}

}  // namespace

CTaskDraft::CTaskDraft(const CXmlNode& task)
    : name_(task.GetAttribute(L"name").value_or(L"")),
      stored_name_(name_),
      stored_url_(StoredUrl(task)),
      chains_(LoadChains(task)) {
  const CXmlNode* address = task.FindChild(L"address");
  address_ = address ? std::make_unique<CXmlNode>(*address)
                     : std::make_unique<CXmlNode>(L"address", XmlElement);
}

std::wstring CTaskDraft::Url() const {
  return address_->GetChildText(L"url").value_or(L"");
}

void CTaskDraft::SetUrl(std::wstring_view url) {
  if (url == Url()) return;
  address_->SetChildText(L"url", std::wstring(url));
}

bool CTaskDraft::Changed() const {
  return items_changed_ || address_changed_ || name_ != stored_name_ || Url() != stored_url_;
}

void CTaskDraft::WriteHead(CXmlNode* task) const {
  if (name_ != stored_name_) task->SetAttribute(L"name", name_);
  if (!address_changed_ && Url() == stored_url_) return;
  CXmlNode* address = task->FindChild(L"address");
  if (!address) address = task->AppendChild(std::make_unique<CXmlNode>(L"address", XmlElement));
  AssignElement(address, *address_);
}

std::unique_ptr<CXmlNode> CTaskDraft::WorkingTask(const CXmlNode& task) const {
  std::unique_ptr<CXmlNode> copy = TaskWithChains(task, chains_);
  if (copy) WriteHead(copy.get());
  return copy;
}

bool CTaskDraft::SaveTo(CXmlNode* task) const {
  if (!Changed()) return false;
  WriteHead(task);
  if (items_changed_ && !SaveChains(chains_, task)) return false;
  return true;
}

}  // namespace gm
