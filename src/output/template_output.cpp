#include "output/template_output.h"

#include <sys/stat.h>

#include "doc/app_paths.h"
#include "doc/file_util.h"
#include "doc/output_encoding.h"
#include "doc/text_codec.h"
#include "output/linked_files.h"

namespace gm {
namespace {

constexpr wchar_t kRecordStart[] = L"<$RECORDSTART$>";
constexpr wchar_t kRecordEnd[] = L"<$RECORDEND$>";

bool PathExists(const std::wstring& path) {
  struct stat st {};
  return ::lstat(ToUtf8(path).c_str(), &st) == 0;
}

// The mark and the text in the named encoding, written whole (or not at all): 1 when written;
// 0, with *failed set when given, when not.
int WriteEncodedFile(const std::wstring& path, const std::wstring& encoding,
                     const std::wstring& text, bool* failed) {
  OutputEncoding e = OutputEncodingFromName(encoding);
  std::wstring folder = FolderOf(path);
  if (!folder.empty()) MakeFolders(folder);
  if (WriteFileAtomically(path, ByteOrderMark(e) + EncodeOutput(text, e))) return 1;
  if (failed) *failed = true;
  return 0;
}

// Where linked files go: the download folder as typed ("/"-terminated, leading backslashes
// dropped) and the folder files are written to.
struct DownloadFolder {
  std::wstring typed;
  std::wstring target;
};

DownloadFolder DownloadFolderOf(const FileOutputSettings& s, const std::wstring& result_folder) {
  std::wstring d = s.downloadpath;
  // Without a folder of their own the files go beside the result files, where the placeholders
  // and the rewritten addresses (the bare file names) point.
  if (d.empty()) return {L"", result_folder};
  while (!d.empty() && d.front() == L'\\') d.erase(0, 1);
  d = AsFolder(d);
  return {d, IsAbsolutePath(d) ? d : result_folder + d};
}

// A record file name from an export may name sub-folders, but never leaves the result folder.
std::wstring ContainedRelativePath(const std::wstring& name) {
  std::wstring path = NormalizeSeparators(name), out;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find(L'/', start);
    std::wstring part =
        path.substr(start, slash == std::wstring::npos ? std::wstring::npos : slash - start);
    if (part == L"..") part = L"#";
    if (!part.empty()) out += (out.empty() ? L"" : L"/") + part;
    if (slash == std::wstring::npos) break;
    start = slash + 1;
  }
  return out;
}

void BeginTaskText(const FileOutputSettings& s, const std::wstring& task_name, TaskTextState* st) {
  st->fileName = s.pertaskname;
  st->text = s.pertasktmpl;
  ReplaceAll(&st->fileName, L"<$TASKNAME$>", task_name);
  ReplaceAll(&st->text, L"<$TASKNAME$>", task_name);
  st->fileName = SafeFileName(st->fileName);
  size_t start = st->text.find(kRecordStart);
  st->insertion = start == std::wstring::npos ? -1 : static_cast<long>(start);
  if (start == std::wstring::npos) return;
  size_t end = st->text.find(kRecordEnd, start);
  if (end == std::wstring::npos) return;
  size_t part_at = start + std::char_traits<wchar_t>::length(kRecordStart);
  st->recordPart = st->text.substr(part_at, end - part_at);
  st->text.erase(start, end + std::char_traits<wchar_t>::length(kRecordEnd) - start);
}

// The per-record work shared by runs and exports; returns the number of files written.
// *failed (when given) is set when the record's file could not be written.
int OutputRecordFiles(const FileOutputSettings& s, const std::wstring& result_folder,
                      const std::vector<OutputColumn>& columns, const CRecord& record,
                      int record_number, bool exporting, TaskTextState* st,
                      bool* failed = nullptr) {
  int written = 0;
  const bool per_record = s.saverecordfile != 0, per_task = s.savetaskfile != 0;
  DownloadFolder dl = DownloadFolderOf(s, result_folder);
  std::wstring name = per_record ? s.perrecordname : L"";
  std::wstring tmpl = per_record ? s.perrecordtmpl : L"";
  std::wstring part = per_task ? st->recordPart : L"";
  std::wstring number = std::to_wstring(record_number);
  for (std::wstring* t : {&name, &tmpl, &part}) ReplaceAll(t, L"<$RECORDNUM$>", number);
  for (size_t i = 0; i < columns.size(); ++i) {
    const CFieldValue& field = record.Field(static_cast<int>(i));
    const std::wstring& item = columns[i].name;
    if (columns[i].type == L"LINKFILE") {
      std::wstring f = SafeFileName(field.text);
      if (!dl.target.empty() && !f.empty() && !field.linkedFiles.empty())
        written += SaveLinkedFile(dl.target + f, field.linkedFiles[0]) ? 1 : 0;
      for (std::wstring* t : {&name, &tmpl, &part})
        ReplaceAll(t, L"<$" + item + L".NAME$>", field.text);
      for (std::wstring* t : {&tmpl, &part}) ReplaceAll(t, L"<$" + item + L".PATH$>", dl.typed + f);
    } else if (columns[i].type == L"INNERHTML" || columns[i].type == L"OUTERHTML") {
      std::wstring copy = field.text;
      for (const CLinkedFile& file : field.linkedFiles) {
        std::wstring f = SafeFileName(file.name);
        if (!dl.target.empty() && !f.empty())
          written += SaveLinkedFile(dl.target + f, file) ? 1 : 0;
        ReplaceAll(&copy, file.address, dl.typed + f);
      }
      for (std::wstring* t : {&tmpl, &part}) ReplaceAll(t, L"<$" + item + L"$>", copy);
    } else {
      for (std::wstring* t : {&name, &tmpl, &part}) ReplaceAll(t, L"<$" + item + L"$>", field.text);
    }
  }
  name = exporting ? ContainedRelativePath(name) : SafeFileName(name);
  if (per_record && !name.empty() && !result_folder.empty()) {
    std::wstring path = result_folder + name;
    if (!PathExists(path) || s.overwriterecordfile != 0)
      written += WriteEncodedFile(path, s.encoding, tmpl, failed);
  }
  if (per_task && st->insertion >= 0) {
    ReplaceAll(&part, L"<$RECORDFILE$>", name);
    size_t at = std::min(static_cast<size_t>(st->insertion), st->text.size());
    st->text.insert(at, part);
    st->insertion = static_cast<long>(at + part.size());
    ++st->records;
  }
  return written;
}

// Writes the task file; *failed (when given) is set when it could not be written.
int EndTaskText(const FileOutputSettings& s, const std::wstring& result_folder,
                const TaskTextState& st, bool* failed = nullptr) {
  if (s.savetaskfile == 0 || st.fileName.empty() || result_folder.empty()) return 0;
  std::wstring path = result_folder + st.fileName;
  if (PathExists(path) && s.overwritetaskfile == 0) return 0;
  return WriteEncodedFile(path, s.encoding, st.text, failed);
}

}  // namespace

void CTemplateOutput::Open(const OutputRun& run) {
  settings_ = ReadFileOutputSettings(*run.task, L"savetofile");
  columns_ = run.columns;
  replay_.OpenBlind(run);
  active_ = settings_.saverecordfile != 0 || settings_.savetaskfile != 0;
  lost_ = 0;
  state_.records = 0;
  if (!active_) return;
  std::wstring folder = AsFolder(settings_.resultpath);
  result_folder_ =
      folder.empty() || IsAbsolutePath(folder) ? folder : AsFolder(result_base_) + folder;
  if (settings_.savetaskfile != 0)
    BeginTaskText(settings_, run.task->GetAttribute(L"name").value_or(L""), &state_);
}

void CTemplateOutput::Write(const CRecord& record, int record_number) {
  if (!active_ || replay_.Skip()) return;
  bool failed = false;
  OutputRecordFiles(settings_, result_folder_, columns_, record, record_number, false, &state_,
                    &failed);
  if (failed) ++lost_;
}

void CTemplateOutput::Close() {
  bool failed = false;
  if (active_) EndTaskText(settings_, result_folder_, state_, &failed);
  // The task file held every record of the run (those whose own file failed among them).
  if (failed) lost_ = std::max(lost_, state_.records);
  active_ = false;
}

const wchar_t* CheckExportSettings(const FileOutputSettings& s) {
  bool per_record = s.saverecordfile != 0, per_task = s.savetaskfile != 0;
  if ((per_record || per_task) && s.resultpath.empty()) return L"MSGBOX_FILEDLG_RESULTPATHEMPTY";
  if (per_record && s.perrecordname.empty()) return L"MSGBOX_FILEDLG_RECORDFILEEMPTY";
  if (per_task && s.pertaskname.empty()) return L"MSGBOX_FILEDLG_TASKFILEEMPTY";
  return nullptr;
}

int ExportResults(const FileOutputSettings& s, const std::wstring& task_name,
                  const std::vector<OutputColumn>& columns, const CRecordList& records) {
  TaskTextState st;
  if (s.savetaskfile != 0) BeginTaskText(s, task_name, &st);
  std::wstring folder = AsFolder(s.resultpath);
  int written = 0;
  for (size_t k = 0; k < records.Size(); ++k) {
    written +=
        OutputRecordFiles(s, folder, columns, records.At(k), static_cast<int>(k + 1), true, &st);
  }
  return written + EndTaskText(s, folder, st);
}

}  // namespace gm
