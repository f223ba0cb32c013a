#include "page/element_info.h"

#include "doc/text_compare.h"
#include "page/html_serializer.h"

namespace gm {

namespace {}  // namespace

std::wstring AttributeValue(const CDomNode* element, std::wstring_view name) {
  if (!element || !element->IsElement()) return std::wstring();
  if (name == L"innerhtml") return InnerHtml(element);
  if (name == L"outerhtml") return OuterHtml(element);
  if (name == L"pageurl") return element->Document()->LiveUrl();
  const std::wstring_view* value = element->FindAttribute(name);
  if (!value) return std::wstring();
  if (name.size() > 2 && StartsWithIgnoringAsciiCase(name, L"on")) {
    if (StartsWithIgnoringAsciiCase(*value, L"javascript:")) return std::wstring(*value);
    return L"javascript:" + std::wstring(*value);
  }
  return std::wstring(*value);
}

CFormInfo FindForm(const CDomNode* element) {
  CFormInfo info;
  for (const CDomNode* e = element; e && e->IsElement(); e = e->ParentElement()) {
    if (e->Name() == L"FORM") {
      info.name = AttributeValue(e, L"name");
      info.id = AttributeValue(e, L"id");
      info.found = true;
      break;
    }
  }
  return info;
}

std::wstring DescribeObject(const CDomNode* element) {
  std::wstring id = AttributeValue(element, L"id");
  std::wstring name = AttributeValue(element, L"name");
  CFormInfo form = FindForm(element);
  std::wstring text = L"[Object Id]: " + id + L"\r\n\r\n[Object Name]: " + name +
                      L"\r\n\r\n[Form Id]: " + form.id + L"\r\n\r\n[Form Name]: " + form.name +
                      L"\r\n\r\n[Object Script]: ";
  if (!form.name.empty()) {
    if (!id.empty()) return text + L"document.getElementById('" + id + L"')";
    if (!name.empty()) return text + L"document." + form.name + L"." + name;
  } else if (!form.id.empty()) {
    if (!id.empty()) return text + L"document.getElementById('" + id + L"')";
    if (!name.empty()) return text + L"document.getElementById('" + form.id + L"')." + name;
  }
  return text;
}

}  // namespace gm
