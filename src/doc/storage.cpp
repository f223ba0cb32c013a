// Enciphered storage of documents: UTF-8 with a byte order mark, zero padding to a multiple of
// 8 bytes, every block enciphered alone.
#include "doc/file_util.h"
#include "doc/xml_node.h"

namespace gm {

bool CXmlDocument::EncodeStored(const GostKey& key, std::string* out) const {
  if (!first_) return false;
  std::string buf = "\xEF\xBB\xBF" + ToUtf8(ToText());
  buf.append((8 - buf.size() % 8) % 8, '\0');
  GostEncrypt(&buf, key);
  *out = std::move(buf);
  return true;
}

bool CXmlDocument::DecodeStored(std::string_view stored, const GostKey& key) {
  if (stored.size() % 8 != 0) return false;
  std::string plain(stored);
  GostDecrypt(&plain, key);
  std::wstring text;
  if (plain.size() >= 3 && plain.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    size_t z = plain.find('\0', 3);
    text = FromUtf8(std::string_view(plain).substr(3, z == std::string::npos ? z : z - 3));
  } else if (plain.size() >= 2 && plain.compare(0, 2, "\xFF\xFE") == 0) {
    text = FromUtf16LE(std::string_view(plain).substr(2));
  } else {
    size_t z = plain.find('\0');
    text = FromAnsi(std::string_view(plain).substr(0, z));
  }
  Parse(text);  // stops at the first zero code unit
  return true;
}

bool CXmlDocument::Save(const std::wstring& path, const GostKey& key) const {
  std::string bytes;
  if (!EncodeStored(key, &bytes)) return false;
  return WriteFileAtomically(path.empty() ? path_ : path, bytes);
}

bool CXmlDocument::Load(const std::wstring& path, const GostKey& key) {
  std::string bytes;
  if (!ReadFileBytes(path, &bytes)) return false;
  path_ = path;
  return DecodeStored(bytes, key);
}

}  // namespace gm
