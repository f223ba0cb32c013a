// Paging through result lists (next-page link, paging scripts in passes) and auto-clicks.
// Browser-mode operations go through the page model's browser; without one they fail.
#pragma once

#include <optional>
#include <string>

#include "task/crawl_model.h"

namespace gm {

class CTaskRunner;

struct PagingPosition {
  int pass = 0;
  int scriptIndex = 0;
};

// The next paging script by the pass rules, with its placeholders filled in; nullopt when
// paging has ended. Advances the position.
std::optional<std::wstring> NextPagingScript(const CAutoPage& paging, PagingPosition* position);
// Whether the script just chosen was the last one of the list.
bool WasLastScript(const CAutoPage& paging, const PagingPosition& position);

bool OpenPageInBrowser(CLocation* location, CTaskRunner& runner, const CXmlNode* click_node,
                       const std::wstring& url);
// OpenPageInBrowser for a page of the run's own (top-level or nested): counted as loaded, or
// reported as failed.
bool OpenCountedPageInBrowser(CLocation* location, CTaskRunner& runner,
                              const CXmlNode* click_node, const std::wstring& url);
bool OpenScriptLink(CLocation* location, CTaskRunner& runner, const CXmlNode* click_node,
                    const std::wstring& url, CLocation* main_page,
                    const std::shared_ptr<void>& link_element);
bool ClickNextLink(CLocation* location, CTaskRunner& runner, const CAutoPage& paging);
// A next-page step (type 1) of the location's page. A page shown in the browser clicks its
// next link (ClickNextLink). A downloaded page downloads the address of the same link with the
// same new-page check; when that link needs the page's scripts (or is not found on a page
// that has scripts or frames), the page is opened in the browser at its address, with the
// auto-clicks of `click_node`, and the link is clicked there.
bool TurnToNextPage(CLocation* location, CTaskRunner& runner, const CAutoPage& paging,
                    const CXmlNode* click_node);
bool RunPagingScript(CLocation* location, CTaskRunner& runner, const std::wstring& script);
bool PageNested(CItemDef* item, CTaskRunner& runner);

}  // namespace gm
