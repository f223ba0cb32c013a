#include "engine/lang_text.h"

#include <cwchar>


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
    if (CXmlNode* language = config->FindTop(L"language")) {
      std::wstring current = language->GetAttribute(L"curlng").value_or(L"");
      CXmlNode* node = language->Find(L"@" + current + L"@text@" + key);
      if (node) {
        if (std::optional<std::wstring> text = node->GetText()) return *text;
      }
    }
  }
  for (const Fallback& f : kFallbacks) {
    if (std::wcscmp(f.key, key) == 0) return f.text;
  }
  return key;
}

}  // namespace gm
