// Task files: one "task" element stored alone under the task-file key, which the configuration
// document keeps as the text of "autoupdate" / "k" (its first 32 bytes in the ANSI code page).
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "doc/gost.h"
#include "doc/xml_node.h"

namespace gm {

// The task-file key of a configuration document; nullopt when the document holds no key text
// or one shorter than 32 bytes in the ANSI code page (export and import then fail).
std::optional<GostKey> TaskFileKey(const CXmlDocument& config);

// The proposed file name of a task export: the task's name made safe for a file name.
std::wstring ProposedTaskFileName(const CXmlNode& task);

// Writes a copy of the task element as the only node of a task file.
bool ExportTaskFile(const CXmlNode& task, const std::wstring& path, const GostKey& key);

// Reads a task file; returns a copy of its first "task" element, or null when the file cannot
// be read or holds no task element (which is also what a wrong key gives).
std::unique_ptr<CXmlNode> ImportTaskFile(const std::wstring& path, const GostKey& key);

}  // namespace gm
