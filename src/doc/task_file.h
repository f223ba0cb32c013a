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

// The attribute by which the program knows a task of its configuration in the record store. It
// belongs to that configuration: task files never carry it out or in (an imported task is a new
// task).
inline constexpr wchar_t kTaskStoreIdAttribute[] = L"storeid";

// Writes a copy of the task element (without its store id) as the only node of a task file.
bool ExportTaskFile(const CXmlNode& task, const std::wstring& path, const GostKey& key);

// Reads a task file; returns a copy of its first "task" element (without a store id), or null when the file cannot
// be read or holds no task element (which is also what a wrong key gives).
std::unique_ptr<CXmlNode> ImportTaskFile(const std::wstring& path, const GostKey& key);

}  // namespace gm
