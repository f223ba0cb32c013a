#include "engine/preview.h"

#include <mutex>

#include "engine/task_runner.h"
#include "task/task_settings.h"

namespace gm {
namespace {

// Items that would load or store something show the address they would follow instead.
void NeutraliseItem(CXmlNode* data) {
  std::wstring type = ItemTypeFromStored(data->GetAttribute(L"type").value_or(L""));
  if (type == kTypeLinkTask || type == kTypeLinkFile) {
    if (data->GetAttribute(L"attr").value_or(L"").empty()) data->SetAttribute(L"attr", L"href");
    data->SetAttribute(L"type", kTypeAttribute);
    if (type == kTypeLinkTask) {
      while (CXmlNode* c = data->FirstChild()) data->RemoveChild(c);
    }
  }
  data->SetAttributeInt(L"dlimage", 0);
  data->SetAttributeInt(L"dlmedia", 0);
}

void RemoveChildrenNamed(CXmlNode* owner, std::wstring_view name) {
  for (CXmlNode* c = owner->FirstChild(); c;) {
    CXmlNode* next = c->Next();
    if (c->Name() == name) owner->RemoveChild(c);
    c = next;
  }
}

}  // namespace

std::unique_ptr<CXmlNode> PreviewTask(const CXmlNode& task) {
  auto copy = std::make_unique<CXmlNode>(task);
  for (const wchar_t* name : {L"schedule", L"autoclk", L"autopage"}) RemoveChildrenNamed(copy.get(), name);
  if (CXmlNode* a = copy->FindChild(L"address")) {
    a->SetAttributeInt(L"loginpage", 0);
    a->SetAttributeInt(L"httpauth", 0);
  }
  std::vector<CXmlNode*> todo;
  for (CXmlNode* c = copy->FirstChild(); c; c = c->Next())
    if (c->Name() == L"location") todo.push_back(c);
  while (!todo.empty()) {
    CXmlNode* n = todo.back();
    todo.pop_back();
    for (CXmlNode* c = n->FirstChild(); c; c = c->Next()) {
      if (c->Name() == L"location") todo.push_back(c);
      if (c->Name() == L"data") NeutraliseItem(c);
    }
  }
  return copy;
}

CPreviewTable PreviewRecords(const CXmlNode& task, const CPageModel& page, size_t limit) {
  CPreviewTable table;
  std::unique_ptr<CXmlNode> copy = PreviewTask(task);
  RunnerEnvironment env;
  env.prefetchPages = false;
  CTaskRunner runner(copy.get(), nullptr, std::move(env));
  runner.Preview(page, limit);
  for (const CItemDef* item : runner.items) table.columns.push_back(item->name);
  std::lock_guard<std::mutex> hold(runner.RecordsLock());
  const CRecordList& records = runner.Records();
  for (size_t i = 0; i < records.Size() && i < limit; ++i) {
    std::vector<std::wstring> row;
    for (const CFieldValue& f : records.At(i).fields) row.push_back(f.text);
    table.rows.push_back(std::move(row));
  }
  return table;
}

}  // namespace gm
