// The page cache of one task runner: texts of external scripts downloaded during a run, kept in
// files named after the MD5 of their address, so that a script shared by many pages is fetched
// once. And FetchLinkedFile: the download of one file an item links to, with the name it will
// be saved under.
//
// A CPageCache is used by its runner's thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace gm {

class CSpoolFile;

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

// A file an item links to. Small files are held in `bytes`; larger ones (above
// kLinkedFileSpoolBytes) in a temporary file that is deleted when the last copy of the
// CLinkedFile goes. Writers use WriteTo or ReadContent, which serve both forms.
struct CLinkedFile {
  std::wstring address;  // as the item supplied it
  std::wstring name;     // the chosen file name, without any folder part (may be empty)
  std::string bytes;     // the content when held in memory (empty when spooled)
  std::shared_ptr<const CSpoolFile> spooled;  // the content when kept in a temporary file
  int64_t size = 0;                           // the content's length either way

  bool Spooled() const { return spooled != nullptr; }
  // Copies the content to `path` (created or truncated); a partial file is removed.
  bool WriteTo(const std::wstring& path) const;
  // The whole content in memory; false when the temporary file cannot be read.
  bool ReadContent(std::string* out) const;
};

// Linked files above this size wait in a temporary file instead of memory.
constexpr int64_t kLinkedFileSpoolBytes = 4 << 20;
// The largest linked file fetched.
constexpr int64_t kLinkedFileMaxBytes = 1ll << 30;

// Downloads `address` (resolved against `page_address` when relative) with the page as referer,
// following redirections, waiting in 1-second slices with `should_stop` asked between them.
// Fills *out and returns true; false on failure, an empty body or a stop. A local file is
// fetched only for a page that is itself local (PageMayLoad).
bool FetchLinkedFile(std::wstring_view address, std::wstring_view page_address,
                     const std::function<bool()>& should_stop, CLinkedFile* out);

// The file name rule on its own: Content-Disposition's filename=, else the last segment of the
// final address; an address with a query gets `now_ms_since_1601` and an extension from the
// content type. Only the last segment of a name is kept ("../../x.sh" gives "x.sh"), and
// "." or ".." is no name, so a name never leads out of the folder it is saved in.
std::wstring LinkedFileName(std::wstring_view final_address,
                            const std::optional<std::wstring>& content_disposition,
                            const std::optional<std::wstring>& content_type,
                            int64_t now_ms_since_1601);

// Milliseconds since 1 January 1601 (UTC).
int64_t NowMsSince1601();

}  // namespace gm
