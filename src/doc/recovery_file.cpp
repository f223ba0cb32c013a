#include "doc/recovery_file.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <string_view>

#include "doc/app_paths.h"
#include "doc/file_util.h"
#include "doc/text_codec.h"

namespace gm {
namespace {

// Header line: magic, version, byte length of the body, MD5 of the body.
constexpr std::string_view kMagic = "GMKRECOVERY 1 ";

std::wstring FolderOf(const std::wstring& path) {
  size_t slash = path.find_last_of(L'/');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace

std::wstring RecoveryFilePath() { return JoinPath(DataFolder(), L"editor-recovery.gmr"); }

bool WriteRecoveryFile(const std::wstring& path, const CXmlNode& task) {
  std::wstring text;
  CXmlNode::WriteText(&task, &text, 0);
  std::string body = ToUtf8(text);
  std::string bytes(kMagic);
  bytes += std::to_string(body.size());
  bytes += ' ';
  bytes += Md5Hex(body);
  bytes += '\n';
  bytes += body;
  std::wstring folder = FolderOf(path);
  if (!folder.empty() && !MakeFolders(folder)) return false;
  return WriteFileAtomically(path, bytes);
}

std::unique_ptr<CXmlNode> ReadRecoveryFile(const std::wstring& path) {
  std::string bytes;
  if (!ReadFileBytes(path, &bytes)) return nullptr;
  std::string_view v(bytes);
  if (!v.starts_with(kMagic)) return nullptr;
  v.remove_prefix(kMagic.size());
  size_t line_end = v.find('\n');
  if (line_end == std::string_view::npos) return nullptr;
  std::string_view head = v.substr(0, line_end), body = v.substr(line_end + 1);
  size_t space = head.find(' ');
  if (space == std::string_view::npos) return nullptr;
  size_t length = 0;
  auto [end, ec] = std::from_chars(head.data(), head.data() + space, length);
  if (ec != std::errc() || end != head.data() + space) return nullptr;
  if (length != body.size() || head.substr(space + 1) != Md5Hex(body)) return nullptr;
  std::wstring text = FromUtf8(body);
  auto node = std::make_unique<CXmlNode>();
  node->ParseNode(text, 0);
  if (node->Type() != XmlElement || node->Name().empty()) return nullptr;
  return node;
}

bool RemoveRecoveryFile(const std::wstring& path) {
  std::string p = ToUtf8(path);
  return std::remove(p.c_str()) == 0 || errno == ENOENT;
}

}  // namespace gm
