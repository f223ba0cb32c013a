#include "doc/task_file.h"

#include "doc/file_util.h"

namespace gm {

std::optional<GostKey> TaskFileKey(const CXmlDocument& config) {
  CXmlNode* autoupdate = config.FindTop(L"autoupdate");
  if (!autoupdate) return std::nullopt;
  std::optional<std::wstring> text = autoupdate->GetChildText(L"k");
  if (!text) return std::nullopt;
  std::string bytes = ToAnsi(*text);
  if (bytes.size() < 32) return std::nullopt;
  return GostKeyFromBytes(reinterpret_cast<const unsigned char*>(bytes.data()));
}

std::wstring ProposedTaskFileName(const CXmlNode& task) {
  return SafeFileName(task.GetAttribute(L"name").value_or(L""));
}

bool ExportTaskFile(const CXmlNode& task, const std::wstring& path, const GostKey& key) {
  CXmlDocument doc;
  doc.AppendTop(std::make_unique<CXmlNode>(task))->RemoveAttribute(kTaskStoreIdAttribute);
  return doc.Save(path, key);
}

std::unique_ptr<CXmlNode> ImportTaskFile(const std::wstring& path, const GostKey& key) {
  CXmlDocument doc;
  if (!doc.Load(path, key)) return nullptr;
  CXmlNode* task = doc.Find(L"task");
  if (!task) return nullptr;
  auto copy = std::make_unique<CXmlNode>(*task);
  copy->RemoveAttribute(kTaskStoreIdAttribute);
  return copy;
}

}  // namespace gm
