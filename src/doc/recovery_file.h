// The recovery file of the task editor: the half-built task, written every few seconds while
// the editor is open so that a crash loses at most those seconds, and offered for restoring at
// the next start.
//
// The file holds a header line with a checksum and length, then the task element's text form
// in UTF-8. It is replaced atomically (temporary file, fsync, rename), so a write cut short never
// replaces a good file. Any thread may call these; callers serialise writes to one path.
#pragma once

#include <memory>
#include <string>

#include "doc/xml_node.h"

namespace gm {

// DataFolder() + "/editor-recovery.gmr".
std::wstring RecoveryFilePath();

// Writes the element (with its subtree) to `path`; false when it cannot be written, in which
// case the previous file is untouched. Creates the folder when it is missing.
bool WriteRecoveryFile(const std::wstring& path, const CXmlNode& task);

// The element written last; null when there is nothing to restore: no file, or a file that is
// damaged (cut short, altered, not ours) or holds no element.
std::unique_ptr<CXmlNode> ReadRecoveryFile(const std::wstring& path);

// Removes the file (after a clean OK or Cancel); true when no file is left.
bool RemoveRecoveryFile(const std::wstring& path);

}  // namespace gm
