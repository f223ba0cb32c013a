// The live preview of the task editor: the records that a task's items give on the page open in
// the editor's browser, taken with the engine's own walk and commit on that already built page.
//
// Nothing is loaded and nothing stored changes: LINKTASK items show their link instead of
// following it, linked files and images are not downloaded (LINKFILE shows the file's address),
// login, schedule and outputs are left out, and the task element itself is not touched.
// Any thread but a runner's may call it; it blocks until the records are taken.
#pragma once

#include <string>
#include <vector>

#include "doc/xml_node.h"
#include "page/page_model.h"

namespace gm {

struct CPreviewTable {
  std::vector<std::wstring> columns;            // item names, in record field order
  std::vector<std::vector<std::wstring>> rows;  // field texts, at most the limit asked for
};

inline constexpr size_t kPreviewRows = 50;

// `task` is a task element (or a temporary one, TaskWithChains of the editor's chains); `page`
// the page model built from the editor's browser, which must not change during the call.
CPreviewTable PreviewRecords(const CXmlNode& task, const CPageModel& page,
                             size_t limit = kPreviewRows);

// The copy of a task that the preview runs: as above, without anything that loads or stores.
std::unique_ptr<CXmlNode> PreviewTask(const CXmlNode& task);

}  // namespace gm
