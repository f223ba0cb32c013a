// Interface texts for the engine's status line, looked up by key in the configuration.
#pragma once

#include <string>

#include "doc/xml_node.h"

namespace gm {

// The text of the key in the configuration's current language; the key itself when the
// configuration is null or has no such text (a headless run without configuration still says
// what happens).
std::wstring LangTextOrKey(const CXmlDocument* config, const wchar_t* key);

}  // namespace gm
