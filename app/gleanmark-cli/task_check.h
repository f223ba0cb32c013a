// Checks of a task before it runs: the readable text form must be complete and well nested (the
// document reader itself accepts anything, closing what is left open), and the location levels
// must not be nested deeper than the crawl model reads.
#pragma once

#include <string>
#include <string_view>

#include "doc/xml_node.h"

namespace gm::cli {

// True when `text` is one element tree as the document writer produces it: start tags with
// name="value" attributes, end tags that close the element they name, text only inside
// elements, an optional <?xml ...?> declaration first. Otherwise false with a message naming
// the line.
bool CheckTaskText(std::wstring_view text, std::string* error);
// True when no location level of the task (nested tasks of link items included) lies deeper
// than the crawl model reads; otherwise false with a message.
bool CheckTaskNesting(const CXmlNode& task, std::string* error);

}  // namespace gm::cli
