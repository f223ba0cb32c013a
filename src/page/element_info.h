// Reading an element's attributes and its form, and the object description that the task
// editor shows for a picked element.
#pragma once

#include <string>
#include <string_view>

#include "page/dom.h"

namespace gm {

// The value of an attribute as a string. Names compared exactly: "innerhtml" and "outerhtml"
// give the element's markup, "pageurl" the address of the live page that holds the element
// (empty for pages built from text). Any other name is looked up without regard to letter case;
// an event handler ("on" + name) gives its source with "javascript:" in front unless it
// already begins so (letter case ignored). Missing attributes and non-elements give "".
std::wstring AttributeValue(const CDomNode* element, std::wstring_view name);

struct CFormInfo {
  std::wstring name;
  std::wstring id;
  bool found = false;
};
// The nearest FORM at or above the element, with its "name" and "id" attributes.
CFormInfo FindForm(const CDomNode* element);

// "[Object Id]: ...\r\n\r\n[Object Name]: ...\r\n\r\n[Form Id]: ...\r\n\r\n[Form Name]: ..."
// followed by a script expression that reaches the element in the page.
std::wstring DescribeObject(const CDomNode* element);

}  // namespace gm
