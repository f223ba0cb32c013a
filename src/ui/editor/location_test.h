// The marker location of the item and auto-click dialogs: the "定位测试" message, and the
// paths stored for a target located by marker text. Interface thread only.
#pragma once

#include <string>

#include "doc/xml_node.h"
#include "page/element_path.h"
#include "page/page_model.h"

class QWidget;

namespace gm::ui {

// Runs the location test of `pattern` and `submatch` on `model` (null: no page) and shows its
// message: MSGBOX_ITEMDLG_PAGENOTREADY, _PATTERNFAILED, _NOTUNIQUE or _PATTERNFOUND with the
// matched text. Returns the key shown.
const wchar_t* ShowLocationTest(const CXmlDocument& config, QWidget* parent,
                                const CPageModel* model, const std::wstring& pattern,
                                int submatch);

// The marker element's and the target's paths from their common ancestor, for a target located
// by marker text; both empty when the marker is not found.
CMarkerFragments MarkerPaths(const CPageModel& model, const std::wstring& pattern, int submatch,
                             const CDomNode* target);

}  // namespace gm::ui
