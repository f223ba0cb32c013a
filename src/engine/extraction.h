// Taking one item's value from the located page, its post-processing by regular-expression
// replacement, linked files, and the nested pages of LINKTASK items. Runner thread only.
#pragma once

#include <memory>
#include <string>

#include "engine/record.h"
#include "task/crawl_model.h"

namespace gm {

class CTaskRunner;
class CDomNode;
class CPageModel;

// The regular-expression flag word of a replacement: format_all | format_no_copy.
inline constexpr int kReplaceBaseFlags = 100663296;

// Fills field->text (and linked files) for one item; never fails.
void ExtractValue(CItemDef* item, CTaskRunner& runner, CFieldValue* field);
// The local time now in a strftime format (a SYSTIME item's value); empty for an empty format.
std::wstring FormatNow(const std::wstring& format);
// Rewrites text with item.regreg / item.output; unchanged when the expression does not compile.
std::wstring ReplaceValue(const std::wstring& text, const CItemDef& item);
// The address a LINKTASK item's link value leads to: rewritten when the item replaces,
// combined with `base_url` unless it is an http address; empty for an empty value.
std::wstring LinkTaskAddress(const CItemDef& item, std::wstring value,
                             const std::wstring& base_url);
// The address a LINKTASK item's link leads to from its level's element: the attribute,
// rewritten when the item replaces, combined with `base_url` unless it is an http address.
// Empty when the link or its attribute is missing. *link_out (may be null) gets the link.
std::wstring NestedLinkAddress(const CItemDef& item, const CPageModel& page,
                               const CDomNode* level_element, const std::wstring& base_url,
                               const CDomNode** link_out);
// Whether the nested page of an ordinary (not script) link opens in the browser rather than
// being downloaded, for a link found on `parent`.
bool NestedPageInBrowser(const CItemDef& item, const CTaskRunner& runner, const CPageModel& parent);
// Follows a LINKTASK item's link and locates its nested tree on the linked page.
bool RunNestedTask(CItemDef* item, CTaskRunner& runner, CLocation* root,
                   const std::shared_ptr<void>& level_element);
// Downloads the images of an HTML value (item.dlimage on).
void DownloadHtmlImages(CItemDef* item, CTaskRunner& runner, const CDomNode* element,
                        CFieldValue* field);

}  // namespace gm
