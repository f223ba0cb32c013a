// Accessors for the settings of a "task" element: one plain structure per group of settings,
// read with the stored defaults and written back in each setting's fixed storage form
// (attribute or text child). Lists are read and rewritten whole.
//
// Reading never fails: a missing element or attribute gives its default. The structures hold
// the values as stored; the range corrections that the engine applies are separate functions
// (Corrected...), so that an editor that shows a task and writes it back unchanged never
// rewrites a value. Structures compare equal when every setting is equal, which is how an
// editor page decides whether it has anything to write.
//
// Thread rules: these functions only read or change the element handed to them; the caller
// holds whatever lock protects that element.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "doc/xml_node.h"

namespace gm {

// ---- Item type codes ---------------------------------------------------------------------

inline constexpr wchar_t kTypeInnerText[] = L"INNERTEXT";
inline constexpr wchar_t kTypeInnerHtml[] = L"INNERHTML";
inline constexpr wchar_t kTypeOuterHtml[] = L"OUTERHTML";
inline constexpr wchar_t kTypeAttribute[] = L"ATTRIBUTE";
inline constexpr wchar_t kTypeLinkFile[] = L"LINKFILE";
inline constexpr wchar_t kTypeLinkTask[] = L"LINKTASK";
inline constexpr wchar_t kTypeSysTime[] = L"SYSTIME";
inline constexpr wchar_t kTypeAnyText[] = L"ANYTEXT";

// An item type as stored: the older single digits "0".."6" become their codes (INNERTEXT ..
// SYSTIME); any other text is returned unchanged.
std::wstring ItemTypeFromStored(std::wstring_view stored);

// The "firstonly" value that selects replacing the first match only.
inline constexpr int kFirstOnlyFlag = 134217728;  // 0x8000000

// ---- Reading and writing single settings --------------------------------------------------

// Integer attribute with a default (missing, empty or unparsable value gives the default).
int ReadInt(const CXmlNode& node, std::wstring_view name, int default_value);
// String attribute; missing gives the default.
std::wstring ReadString(const CXmlNode& node, std::wstring_view name,
                        std::wstring_view default_value = {});
// Text child; missing element or missing text gives the default.
std::wstring ReadChildText(const CXmlNode& node, std::wstring_view name,
                           std::wstring_view default_value = {});

// A name/value pair list stored as repeated child elements with two attributes.
using NameValueList = std::vector<std::pair<std::wstring, std::wstring>>;
NameValueList ReadPairs(const CXmlNode& owner, std::wstring_view element, std::wstring_view first,
                        std::wstring_view second);
// Removes every child named `element`, then appends one child per row in row order.
void WritePairs(CXmlNode* owner, std::wstring_view element, std::wstring_view first,
                std::wstring_view second, const NameValueList& rows);
// A list of single attributes (e.g. "postvar" / "script").
std::vector<std::wstring> ReadAttributeList(const CXmlNode& owner, std::wstring_view element,
                                            std::wstring_view attribute);
void WriteAttributeList(CXmlNode* owner, std::wstring_view element, std::wstring_view attribute,
                        const std::vector<std::wstring>& rows);
// A list of text children (e.g. "keycolumn").
std::vector<std::wstring> ReadTextList(const CXmlNode& owner, std::wstring_view element);
void WriteTextList(CXmlNode* owner, std::wstring_view element,
                   const std::vector<std::wstring>& rows);
// Removes every child element of that name.
void RemoveChildren(CXmlNode* owner, std::wstring_view element);
// The first child element of that name, created and appended as the last child when missing.
CXmlNode* EnsureChild(CXmlNode* owner, std::wstring_view element);

// ---- The task element's own attributes ----------------------------------------------------

struct TaskSettings {
  std::wstring name;
  std::optional<std::wstring> sortitem;  // absent: no sorting
  int sorttype = 0;
  int ignorenewrecord = 0;
  int filteraction = 0;
  int limitresult = 0;
  int maxresult = 0;
  int useiectrl = 1;
  int dltimeout = 30;
  int dlinterval = 0;
  std::wstring useragent;
  int method = 0;
  int runatstart = 0;
  bool operator==(const TaskSettings&) const = default;
};
TaskSettings ReadTaskSettings(const CXmlNode& task);
// Writes every attribute above; an absent sortitem removes the attribute.
void WriteTaskSettings(const TaskSettings& s, CXmlNode* task);
// The values the engine runs with: dltimeout outside 6..600 becomes 30, dlinterval outside
// 0..600 becomes 0, limitresult becomes 0 when maxresult <= 0, an empty user agent becomes
// `engine_user_agent`.
TaskSettings CorrectedTaskSettings(TaskSettings s, std::wstring_view engine_user_agent);

// ---- address --------------------------------------------------------------------------------

struct AddressSettings {
  int type = 0;  // 0 one page, 1 template, 2 list, 3 query page driven by scripts
  std::wstring url;
  std::wstring urlpattern;
  NameValueList patterns;  // "pattern" children: name, value
  std::wstring urllist;
  std::vector<std::wstring> postvars;  // "postvar" children: script
  int loginpage = 0;                   // attribute flag
  std::wstring loginpageUrl;           // text child of the same name
  std::wstring loginurl;
  std::wstring logindata;
  int httpauth = 0;
  std::wstring httppage;
  std::wstring httpuser;
  std::wstring httppass;
  bool operator==(const AddressSettings&) const = default;
};
// Reads the first "address" child of the task (defaults when there is none).
AddressSettings ReadAddressSettings(const CXmlNode& task);
// Reads an "address" element itself (the editor's working copy).
AddressSettings ReadAddressElement(const CXmlNode& address);
// Writes into an "address" element (the caller creates or replaces it).
void WriteAddressSettings(const AddressSettings& s, CXmlNode* address);

// ---- Lists of the task ----------------------------------------------------------------------

std::vector<std::wstring> ReadKeyColumns(const CXmlNode& task);
void WriteKeyColumns(const std::vector<std::wstring>& names, CXmlNode* task);

struct FilterCondition {
  std::wstring item;
  std::wstring filter;
  std::wstring type;  // the dialog's text; see IsSufficient
  bool operator==(const FilterCondition&) const = default;
};
inline constexpr wchar_t kFilterSufficient[] = L"充分条件";
inline constexpr wchar_t kFilterNecessary[] = L"必要条件";
// Only the exact sufficient text counts as sufficient; every other value is necessary.
bool IsSufficient(const FilterCondition& c);
std::vector<FilterCondition> ReadFilterConditions(const CXmlNode& task);
void WriteFilterConditions(const std::vector<FilterCondition>& list, CXmlNode* task);

// ---- schedule -------------------------------------------------------------------------------

inline constexpr wchar_t kUnitSeconds[] = L"秒钟";
inline constexpr wchar_t kRunOnce[] = L"仅运行一次";
inline constexpr wchar_t kRunDaily[] = L"每天都运行";

struct ScheduleSettings {
  int type = 0;  // 0 manual, 1 interval after each run, 2 at a fixed time
  int interval = 0;
  std::wstring intervalunit;  // new schedule: kUnitSeconds
  int runattime = 0;          // seconds since 1970 (local time chosen in the editor)
  std::wstring runattype;     // new schedule: kRunOnce
  bool operator==(const ScheduleSettings&) const = default;
};
// Values of a schedule element created by the editor.
ScheduleSettings NewScheduleSettings();
// Reads the first "schedule" child; nullopt when there is none (no scheduling).
std::optional<ScheduleSettings> ReadScheduleSettings(const CXmlNode& task);
void WriteScheduleSettings(const ScheduleSettings& s, CXmlNode* schedule);
// Seconds per unit: 60 for minutes, 3600 for hours, 86400 for days (Chinese list texts or the
// English words), 1 for anything else.
int SecondsPerUnit(std::wstring_view intervalunit);
// True for the run-once texts (Chinese or "Once"); every other value means daily.
bool IsRunOnce(std::wstring_view runattype);

// ---- savetofile / export ----------------------------------------------------------------------

struct FileOutputSettings {
  std::wstring encoding = L"ANSI";
  std::wstring resultpath;
  std::wstring downloadpath;
  int saverecordfile = 0;
  std::wstring perrecordname;
  std::wstring perrecordtmpl;
  int overwriterecordfile = 0;
  int savetaskfile = 0;
  std::wstring pertaskname;
  std::wstring pertasktmpl;
  int overwritetaskfile = 0;
  bool operator==(const FileOutputSettings&) const = default;
};
// `element` is "savetofile" or "export"; the first child of that name (defaults when absent).
FileOutputSettings ReadFileOutputSettings(const CXmlNode& task, std::wstring_view element);
void WriteFileOutputSettings(const FileOutputSettings& s, CXmlNode* owner_element);

// ---- savetoweb ---------------------------------------------------------------------------------

struct WebOutputSettings {
  int enable = 0;
  int postmethod = 0;  // 0 POST, 1 GET
  std::wstring posturl;
  NameValueList senddata;  // "senddata" children: name, value
  bool operator==(const WebOutputSettings&) const = default;
};
WebOutputSettings ReadWebOutputSettings(const CXmlNode& task);
void WriteWebOutputSettings(const WebOutputSettings& s, CXmlNode* savetoweb);

// ---- savetodb
// ------------------------------------------------------------------------------------

struct DbOutputSettings {
  int enable = 0;
  std::wstring dbms = L"ACCESS";  // "ACCESS", "SQLSERVER" or "MYSQL"
  std::wstring dbfile;
  std::wstring dbpass;
  std::wstring dbserver;
  std::wstring dbname;
  std::wstring username;
  std::wstring password;
  std::wstring tablename;
  NameValueList datamap;  // "datamap" children: field, value
  int savelinkfile = 0;
  std::wstring linkfiledir;
  bool operator==(const DbOutputSettings&) const = default;
};
DbOutputSettings ReadDbOutputSettings(const CXmlNode& task);
void WriteDbOutputSettings(const DbOutputSettings& s, CXmlNode* savetodb);

// ---- savetoxls (all attributes)
// -------------------------------------------------------------------

struct XlsOutputSettings {
  int enable = 0;
  std::wstring excelfile;
  std::wstring encoding = L"ANSI";
  int option = 0;  // 1 overwrite when the task starts, 0 append
  bool operator==(const XlsOutputSettings&) const = default;
};
XlsOutputSettings ReadXlsOutputSettings(const CXmlNode& task);
void WriteXlsOutputSettings(const XlsOutputSettings& s, CXmlNode* savetoxls);

// ---- Whole task elements ---------------------------------------------------------------------

// A new task: attribute "name" = `name` (the DLG_TASK_NEWTASK text) and one "address" child
// holding an empty "url" text child; nothing else.
std::unique_ptr<CXmlNode> NewTaskElement(std::wstring_view name);
// A deep copy with all attributes and descendants in the same order.
std::unique_ptr<CXmlNode> CopyTaskElement(const CXmlNode& task);
// Every top-level "task" element of a document, in document order.
std::vector<CXmlNode*> TaskElements(const CXmlDocument& doc);

}  // namespace gm
