#include "engine/lang_text.h"

#include <cwchar>

#include "doc/config.h"

namespace gm {
namespace {
// Used when no configuration is at hand (for example a headless run from a task file alone).
struct Fallback {
  const wchar_t* key;
  const wchar_t* text;
} const kFallbacks[] = {
    {L"DIGLOC_DOWNLOADING", L"Downloading (%d%%) %s"},
    {L"DIGLOC_DOWNLOADFAILED", L"Download failed: %s"},
    {L"DIGLOC_ANALYZING", L"Analysing the page"},
    {L"DIGLOC_ANALYSEFAILED", L"The page could not be analysed"},
    {L"DIGTHREAD_EXTRACTINGDATA", L"Extracting record %d"},
};
}  // namespace

std::wstring LangTextOrKey(const CXmlDocument* config, const wchar_t* key) {
  if (config) {
    if (std::optional<std::wstring> text = GetLangText(*config, std::wstring_view(key))) {
      return *text;
    }
  }
  for (const Fallback& f : kFallbacks) {
    if (std::wcscmp(f.key, key) == 0) return f.text;
  }
  return key;
}

}  // namespace gm
