// The page cache of one task runner: texts of external scripts downloaded during a run, kept in
// files named after the MD5 of their address, so that a script shared by many pages is fetched
// once. And FetchLinkedFile: the download of one file an item links to, with the name it will
// be saved under.
//
// A CPageCache is used by its runner's thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace gm {

class CPageCache {
 public:
  // Cache files go to `folder`; the default is DataFolder() + "/cache".
  CPageCache();
  explicit CPageCache(std::wstring folder);
  ~CPageCache() = default;

  // The stored text; nullopt unless the address was stored by this cache and its file reads.
  std::optional<std::wstring> CacheLookup(std::wstring_view address) const;
  // Remembers the address and writes its file (UTF-16LE, no mark); a file that cannot be
  // written is skipped silently.
  void CacheStore(std::wstring_view address, std::wstring_view text);
  // Deletes the files of every stored address and forgets them.
  void CacheClear();

  // folder + "/" + MD5 of the address in the legacy code page + ".tmp".
  std::wstring CacheFileName(std::wstring_view address) const;
  const std::wstring& folder() const { return folder_; }

 private:
  std::wstring folder_;
  std::set<std::wstring> addresses_;
};

// A file an item links to.
struct CLinkedFile {
  std::wstring address;  // as the item supplied it
  std::wstring name;     // the chosen file name (may be empty)
  std::string bytes;
};

// Downloads `address` (resolved against `page_address` when relative) with the page as referer,
// following redirections, waiting in 1-second slices with `should_stop` asked between them.
// Fills *out and returns true; false on failure, an empty body or a stop. A local file is
// fetched only for a page that is itself local.
bool FetchLinkedFile(std::wstring_view address, std::wstring_view page_address,
                     const std::function<bool()>& should_stop, CLinkedFile* out);

// The file name rule on its own: Content-Disposition's filename=, else the last segment of the
// final address; an address with a query gets `now_ms_since_1601` and an extension from the
// content type.
std::wstring LinkedFileName(std::wstring_view final_address,
                            const std::optional<std::wstring>& content_disposition,
                            const std::optional<std::wstring>& content_type,
                            int64_t now_ms_since_1601);

// Milliseconds since 1 January 1601 (UTC).
int64_t NowMsSince1601();

}  // namespace gm
