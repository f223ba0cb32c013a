#include "net/page_cache.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cwctype>

#include "doc/app_paths.h"
#include "doc/file_util.h"
#include "doc/text_codec.h"
#include "net/http_client.h"
#include "net/spool_file.h"
#include "net/url.h"

namespace gm {

namespace {

bool IsFolder(const std::wstring& path) {
  struct stat st {};
  return stat(ToUtf8(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::wstring LowerAscii(std::wstring_view s) {
  std::wstring r(s);
  for (auto& c : r) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return r;
}

bool HasScheme(std::wstring_view a) {
  size_t colon = a.find(L':');
  if (colon == std::wstring_view::npos || colon < 2) return false;  // "C:" is a drive
  for (size_t i = 0; i < colon; ++i) {
    wchar_t c = a[i];
    bool ok = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') ||
              (i > 0 && ((c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == L'.'));
    if (!ok) return false;
  }
  return true;
}

}  // namespace

CPageCache::CPageCache() : folder_(DataFolder() + L"/cache") {}
CPageCache::CPageCache(std::wstring folder) : folder_(std::move(folder)) {}

std::wstring CPageCache::CacheFileName(std::wstring_view address) const {
  std::string md5 = Md5Hex(ToAnsi(address));
  return folder_ + L"/" + std::wstring(md5.begin(), md5.end()) + L".tmp";
}

std::optional<std::wstring> CPageCache::CacheLookup(std::wstring_view address) const {
  if (addresses_.find(std::wstring(address)) == addresses_.end()) return std::nullopt;
  std::string bytes;
  if (!ReadFileBytes(CacheFileName(address), &bytes)) return std::nullopt;
  return FromUtf16LE(bytes);
}

void CPageCache::CacheStore(std::wstring_view address, std::wstring_view text) {
  addresses_.insert(std::wstring(address));
  if (!IsFolder(folder_)) MakeFolders(folder_);
  WriteFileAtomically(CacheFileName(address), ToUtf16LE(text));
}

void CPageCache::CacheClear() {
  for (const auto& a : addresses_) unlink(ToUtf8(CacheFileName(a)).c_str());
  addresses_.clear();
}

int64_t NowMsSince1601() {
  constexpr int64_t kMsFrom1601To1970 = 11644473600000LL;
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
             .count() +
         kMsFrom1601To1970;
}

// The last segment of a name (either slash separates), without control characters; "." and
// ".." are no name.
std::wstring CleanFileName(std::wstring_view name) {
  size_t cut = name.find_last_of(L"/\\");
  if (cut != std::wstring_view::npos) name.remove_prefix(cut + 1);
  std::wstring r;
  for (wchar_t c : name) {
    if (c >= 0x20 && c != 0x7F) r += c;
  }
  if (r == L"." || r == L"..") r.clear();
  return r;
}

bool CLinkedFile::WriteTo(const std::wstring& path) const {
  if (spooled) return spooled->CopyTo(ToUtf8(path));
  return WriteFileAtomically(path, bytes);
}

bool CLinkedFile::ReadContent(std::string* out) const {
  if (spooled) return spooled->ReadAll(out);
  *out = bytes;
  return true;
}

std::wstring LinkedFileName(std::wstring_view final_address,
                            const std::optional<std::wstring>& content_disposition,
                            const std::optional<std::wstring>& content_type,
                            int64_t now_ms_since_1601) {
  if (content_disposition) {
    std::wstring lower = LowerAscii(*content_disposition);
    size_t at = lower.find(L"filename=");
    if (at != std::wstring::npos && at > 0) {
      size_t b = at + 9;
      size_t e = content_disposition->find(L';', b);
      std::wstring name =
          CleanFileName(content_disposition->substr(b, e == std::wstring::npos ? e : e - b));
      if (!name.empty()) return name;
    }
  }
  std::wstring a(final_address);
  for (auto& c : a) {
    if (c == L'/') c = L'\\';
  }
  size_t q = a.rfind(L'?');
  if (q == std::wstring::npos) return CleanFileName(a);
  a.resize(q);
  std::wstring name = CleanFileName(a) + std::to_wstring(now_ms_since_1601);
  std::wstring type = content_type ? LowerAscii(*content_type) : std::wstring();
  if (type.find(L"jpeg") != std::wstring::npos) {
    name += L".jpg";
  } else if (type.find(L"gif") != std::wstring::npos) {
    name += L".gif";
  } else if (type.find(L"png") != std::wstring::npos) {
    name += L".png";
  }
  return name;
}

bool FetchLinkedFile(std::wstring_view address, std::wstring_view page_address,
                     const std::function<bool()>& should_stop, CLinkedFile* out) {
  std::wstring target(address);
  if (!HasScheme(address) && !page_address.empty()) {
    std::wstring combined;
    if (CombineUrl(page_address, address, &combined) && combined.size() <= 2084) {
      target = std::move(combined);
    }
  }
  // A page from the web does not get to name files of this computer.
  if (!PageMayLoad(page_address, target)) return false;
  CHttpClient client;
  client.SetTimeout(60000);
  client.SetMaxBody(std::max(kLinkedFileMaxBytes, CHttpClient::DefaultMaxBody()));
  client.SetSpoolThreshold(kLinkedFileSpoolBytes);
  client.Get(target, page_address);
  if (WaitForTransaction(&client, should_stop, true) != HttpWait::kReady) return false;
  if (client.BodySize() <= 0) return false;
  out->address = std::wstring(address);
  out->name = LinkedFileName(client.Address(), client.GetHeader(L"Content-Disposition"),
                             client.GetHeader(L"Content-Type"), NowMsSince1601());
  out->size = client.BodySize();
  out->spooled = client.TakeSpool();
  out->bytes = out->spooled ? std::string() : std::string(client.Body());
  return true;
}

}  // namespace gm
