// Linked files of records (LINKFILE items, images of HTML items) written beside the outputs,
// and the folder rules the outputs share. Stored folders may use "\" or "/"; every path
// returned here uses "/".
#pragma once

#include <string>
#include <string_view>

#include "engine/record.h"

namespace gm {

// True for the item types whose fields carry linked files: LINKFILE, INNERHTML, OUTERHTML.
bool CarriesLinkedFiles(std::wstring_view type);

// The part of a path up to and including its last separator ("\" or "/"), with "/"
// separators; empty when the path has none.
std::wstring FolderOf(std::wstring_view path);
// A folder with "/" separators that ends in "/" (empty stays empty).
std::wstring AsFolder(std::wstring_view folder);

// Writes a linked file's content (held in memory or in a temporary file) to a new file at
// `path`, creating the missing folders on the way. Nothing is written when the content is
// empty or something already exists at the path (an existing file is never replaced). A failed
// write leaves no partial file. True when the file was written.
bool SaveLinkedFile(const std::wstring& path, const CLinkedFile& file);
// A linked file's content as bytes, wherever it is held (empty when it cannot be read).
std::string LinkedFileBytes(const CLinkedFile& file);

// Where the spreadsheet outputs put a linked file, relative to the output's folder:
// "images/" [+ safe text of the record's first field + "/" when `subfolder`] + safe file name.
std::wstring SpreadsheetLinkPath(const CRecord& record, const CLinkedFile& file, bool subfolder);

// The field's text with each linked file's source address replaced by its relative path; each
// file is saved under `folder` + that path (see SaveLinkedFile).
std::wstring LocalizeLinkedFiles(const CFieldValue& field, const CRecord& record,
                                 const std::wstring& folder, bool subfolder);

// Replaces every occurrence of `from` in *text by `to`; nothing when `from` is empty.
void ReplaceAll(std::wstring* text, std::wstring_view from, std::wstring_view to);

}  // namespace gm
