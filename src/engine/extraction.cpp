#include "engine/extraction.h"

#include <ctime>
#include <cwchar>

#include "doc/text_compare.h"
#include "engine/crawl_driver.h"
#include "engine/page_handles.h"
#include "engine/page_loader.h"
#include "engine/paging.h"
#include "engine/task_runner.h"
#include "net/url.h"
#include "page/element_info.h"
#include "page/element_path.h"
#include "task/regex_util.h"
#include "task/task_settings.h"

namespace gm {

std::wstring FormatNow(const std::wstring& format) {
  if (format.empty()) return {};
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::wstring buf(format.size() * 8 + 64, L'\0');
  size_t n = std::wcsftime(buf.data(), buf.size(), format.c_str(), &local);
  buf.resize(n);
  return buf;
}

namespace {

// The page model that holds the pages of the item's tree: the first top-level location of the
// tree, which is the one whose page is loaded.
CPageModel* ModelOfItem(CTaskRunner& r, const CItemDef& item) {
  const CLocation* top = item.owner;
  while (top && top->parent) top = top->parent;
  auto it = r.treeRoots.find(top);
  return it == r.treeRoots.end() ? nullptr : PageOf(it->second);
}

}  // namespace

std::wstring ReplaceValue(const std::wstring& text, const CItemDef& item) {
  unsigned flags = kReplaceBaseFlags | (item.firstonly & kFirstOnlyFlag);
  std::wstring out;
  if (!RegexReplace(item.regreg, text, item.output, flags, &out)) return text;
  return out;
}

void ExtractValue(CItemDef* item, CTaskRunner& r, CFieldValue* field) {
  field->item = item;
  const std::wstring& type = item->type;
  if (type == kTypeSysTime) {
    field->text = FormatNow(item->timeformat);
  } else {
    const CDomNode* element = nullptr;
    CPageModel* model = ModelOfItem(r, *item);
    if (model && item->owner && ElementOf(item->owner)) {
      element = ResolvePath(*model, ElementOf(item->owner), item->path);
    }
    if (element) {
      if (type == kTypeInnerText) {
        field->text = model->NodeText(element);
      } else if (type == kTypeInnerHtml || type == kTypeOuterHtml) {
        field->text = AttributeValue(element, type == kTypeInnerHtml ? L"innerhtml" : L"outerhtml");
        DownloadHtmlImages(item, r, element, field);
      } else if (type == kTypeAttribute) {
        field->text = AttributeValue(element, item->attr);
        // Only a link that is there is resolved: an element without the attribute gives an
        // empty field, not the page's own address.
        if ((item->attr == L"href" || item->attr == L"src") && !item->baseUrl.empty() &&
            element->FindAttribute(item->attr)) {
          std::wstring combined;
          if (CombineUrl(item->baseUrl, field->text, &combined)) field->text = combined;
        }
      } else if (type == kTypeLinkFile) {
        std::wstring value = AttributeValue(element, item->attr);
        if (item->replace) value = ReplaceValue(value, *item);
        FetchLinkedFileForRunner(r, value, item->baseUrl, field);
        if (!field->linkedFiles.empty()) field->text = field->linkedFiles.front().name;
      }
    }
  }
  if (item->replace && type != kTypeLinkFile) field->text = ReplaceValue(field->text, *item);
}

void DownloadHtmlImages(CItemDef* item, CTaskRunner& r, const CDomNode* element,
                        CFieldValue* field) {
  if (!item->dlimage) return;
  for (const CDomNode* n = NextInTree(element, element); n; n = NextInTree(n, element)) {
    if (!n->IsElement() || n->Name() != L"IMG") continue;
    const std::wstring_view* src = n->FindAttribute(L"src");
    if (!src || src->empty()) continue;
    FetchLinkedFileForRunner(r, std::wstring(*src), item->baseUrl, field);
    if (r.State() != kRunning) break;
  }
}

std::wstring NestedLinkAddress(const CItemDef& item, const CPageModel& page,
                               const CDomNode* level_element, const std::wstring& base_url,
                               const CDomNode** link_out) {
  const CDomNode* link = ResolvePath(page, level_element, item.path);
  if (link_out) *link_out = link;
  if (!link) return {};
  return LinkTaskAddress(item, AttributeValue(link, item.attr), base_url);
}

std::wstring LinkTaskAddress(const CItemDef& item, std::wstring value,
                             const std::wstring& base_url) {
  if (value.empty()) return {};
  if (item.replace) value = ReplaceValue(value, item);
  if (!StartsWithIgnoringAsciiCase(value, L"http://")) {
    std::wstring combined;
    if (CombineUrl(base_url, value, &combined)) value = combined;
  }
  return value;
}

bool NestedPageInBrowser(const CItemDef& item, const CTaskRunner& r, const CPageModel& parent) {
  // A task that pages by next-page text keeps a page shown in the browser there; one that
  // downloaded its page downloads the nested pages too.
  return r.useBrowser || r.httpAuthOn ||
         (r.pagingType != 0 && (r.pagingType != 1 || parent.Live())) ||
         (item.node && item.node->FindChild(L"autoclk"));
}

bool RunNestedTask(CItemDef* item, CTaskRunner& r, CLocation* root,
                   const std::shared_ptr<void>& level_element) {
  item->scriptIndex = 0;
  item->pass = 0;
  CLocation* nested = item->nested.get();
  if (!nested) return true;
  ClearRunState(nested);
  if (nested->page) PageOf(nested)->Release();

  const CPageModel& parent = *PageOf(root);
  const CDomNode* link = nullptr;
  std::wstring value =
      NestedLinkAddress(*item, parent, NodeOf(level_element), item->baseUrl, &link);
  if (value.empty()) return false;
  if (!r.IntervalWait()) return false;

  const CXmlNode* data = item->node;
  if (StartsWithIgnoringAsciiCase(value, L"javascript:")) {
    if (!r.CountPage(value, OpenScriptLink(nested, r, data, value, root, ElementHandle(link)),
                     L"could not be opened in the browser")) {
      return false;
    }
    return Walk(nested, r, &value, nullptr, nullptr);
  }
  if (!PageMayLoad(item->baseUrl, value)) return false;  // a web page never opens a local file
  if (NestedPageInBrowser(*item, r, parent)) {
    if (!OpenCountedPageInBrowser(nested, r, data, value)) return false;
    return Walk(nested, r, &value, nullptr, nullptr);
  }
  if (!LoadCountedPage(nested, r, value, item->baseUrl)) return false;
  if (Walk(nested, r, &value, nullptr, nullptr)) return true;
  if (!OpenPageInBrowser(nested, r, data, value)) return false;
  return Walk(nested, r, &value, nullptr, nullptr);
}

}  // namespace gm
