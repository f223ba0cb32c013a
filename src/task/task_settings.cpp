#include "task/task_settings.h"

namespace gm {
namespace {

bool IsElementNamed(const CXmlNode* n, std::wstring_view name) {
  return n->Type() == XmlElement && n->Name() == name;
}

const CXmlNode* FirstElement(const CXmlNode& owner, std::wstring_view name) {
  for (const CXmlNode* c = owner.FirstChild(); c; c = c->Next()) {
    if (IsElementNamed(c, name)) return c;
  }
  return nullptr;
}

template <class F>
void ForEachElement(const CXmlNode& owner, std::wstring_view name, F f) {
  for (const CXmlNode* c = owner.FirstChild(); c; c = c->Next()) {
    if (IsElementNamed(c, name)) f(*c);
  }
}

}  // namespace

std::wstring ItemTypeFromStored(std::wstring_view stored) {
  static const wchar_t* const kCodes[] = {kTypeInnerText, kTypeInnerHtml, kTypeOuterHtml,
                                          kTypeAttribute, kTypeLinkFile,  kTypeLinkTask,
                                          kTypeSysTime};
  if (stored.size() == 1 && stored[0] >= L'0' && stored[0] <= L'6') return kCodes[stored[0] - L'0'];
  return std::wstring(stored);
}

int ReadInt(const CXmlNode& node, std::wstring_view name, int default_value) {
  return node.GetAttributeInt(name, default_value);
}

std::wstring ReadString(const CXmlNode& node, std::wstring_view name,
                        std::wstring_view default_value) {
  std::optional<std::wstring> v = node.GetAttribute(name);
  return v ? *v : std::wstring(default_value);
}

std::wstring ReadChildText(const CXmlNode& node, std::wstring_view name,
                           std::wstring_view default_value) {
  std::optional<std::wstring> v = node.GetChildText(name);
  return v ? *v : std::wstring(default_value);
}

NameValueList ReadPairs(const CXmlNode& owner, std::wstring_view element, std::wstring_view first,
                        std::wstring_view second) {
  NameValueList rows;
  ForEachElement(owner, element, [&](const CXmlNode& c) {
    rows.emplace_back(ReadString(c, first), ReadString(c, second));
  });
  return rows;
}

void RemoveChildren(CXmlNode* owner, std::wstring_view element) {
  CXmlNode* c = owner->FirstChild();
  while (c) {
    CXmlNode* next = c->Next();
    if (IsElementNamed(c, element)) owner->RemoveChild(c);
    c = next;
  }
}

CXmlNode* EnsureChild(CXmlNode* owner, std::wstring_view element) {
  if (const CXmlNode* found = FirstElement(*owner, element)) return const_cast<CXmlNode*>(found);
  return owner->AppendChild(std::make_unique<CXmlNode>(std::wstring(element), XmlElement));
}

void WritePairs(CXmlNode* owner, std::wstring_view element, std::wstring_view first,
                std::wstring_view second, const NameValueList& rows) {
  RemoveChildren(owner, element);
  for (const auto& [a, b] : rows) {
    CXmlNode* c = owner->AppendChild(std::make_unique<CXmlNode>(std::wstring(element), XmlElement));
    c->SetAttribute(first, a);
    c->SetAttribute(second, b);
  }
}

std::vector<std::wstring> ReadAttributeList(const CXmlNode& owner, std::wstring_view element,
                                            std::wstring_view attribute) {
  std::vector<std::wstring> rows;
  ForEachElement(owner, element,
                 [&](const CXmlNode& c) { rows.push_back(ReadString(c, attribute)); });
  return rows;
}

void WriteAttributeList(CXmlNode* owner, std::wstring_view element, std::wstring_view attribute,
                        const std::vector<std::wstring>& rows) {
  RemoveChildren(owner, element);
  for (const std::wstring& v : rows) {
    CXmlNode* c = owner->AppendChild(std::make_unique<CXmlNode>(std::wstring(element), XmlElement));
    c->SetAttribute(attribute, v);
  }
}

std::vector<std::wstring> ReadTextList(const CXmlNode& owner, std::wstring_view element) {
  std::vector<std::wstring> rows;
  ForEachElement(owner, element,
                 [&](const CXmlNode& c) { rows.push_back(c.GetText().value_or(L"")); });
  return rows;
}

void WriteTextList(CXmlNode* owner, std::wstring_view element,
                   const std::vector<std::wstring>& rows) {
  RemoveChildren(owner, element);
  for (const std::wstring& v : rows) {
    CXmlNode* c = owner->AppendChild(std::make_unique<CXmlNode>(std::wstring(element), XmlElement));
    c->SetText(v);
  }
}

// ---- task attributes ----

TaskSettings ReadTaskSettings(const CXmlNode& task) {
  TaskSettings s;
  s.name = ReadString(task, L"name");
  s.sortitem = task.GetAttribute(L"sortitem");
  s.sorttype = ReadInt(task, L"sorttype", 0);
  s.ignorenewrecord = ReadInt(task, L"ignorenewrecord", 0);
  s.filteraction = ReadInt(task, L"filteraction", 0);
  s.limitresult = ReadInt(task, L"limitresult", 0);
  s.maxresult = ReadInt(task, L"maxresult", 0);
  s.useiectrl = ReadInt(task, L"useiectrl", 1);
  s.dltimeout = ReadInt(task, L"dltimeout", 30);
  s.dlinterval = ReadInt(task, L"dlinterval", 0);
  s.useragent = ReadString(task, L"useragent");
  s.method = ReadInt(task, L"method", 0);
  s.runatstart = ReadInt(task, L"runatstart", 0);
  return s;
}

void WriteTaskSettings(const TaskSettings& s, CXmlNode* task) {
  task->SetAttribute(L"name", s.name);
  if (s.sortitem) {
    task->SetAttribute(L"sortitem", *s.sortitem);
  } else {
    task->RemoveAttribute(L"sortitem");
  }
  task->SetAttributeInt(L"sorttype", s.sorttype);
  task->SetAttributeInt(L"ignorenewrecord", s.ignorenewrecord);
  task->SetAttributeInt(L"filteraction", s.filteraction);
  task->SetAttributeInt(L"limitresult", s.limitresult);
  task->SetAttributeInt(L"maxresult", s.maxresult);
  task->SetAttributeInt(L"useiectrl", s.useiectrl);
  task->SetAttributeInt(L"dltimeout", s.dltimeout);
  task->SetAttributeInt(L"dlinterval", s.dlinterval);
  task->SetAttribute(L"useragent", s.useragent);
  task->SetAttributeInt(L"method", s.method);
  task->SetAttributeInt(L"runatstart", s.runatstart);
}

TaskSettings CorrectedTaskSettings(TaskSettings s, std::wstring_view engine_user_agent) {
  if (s.dltimeout < 6 || s.dltimeout > 600) s.dltimeout = 30;
  if (s.dlinterval < 0 || s.dlinterval > 600) s.dlinterval = 0;
  if (s.maxresult <= 0) s.limitresult = 0;
  if (s.useragent.empty()) s.useragent = engine_user_agent;
  return s;
}

// ---- address ----

AddressSettings ReadAddressSettings(const CXmlNode& task) {
  const CXmlNode* a = FirstElement(task, L"address");
  return a ? ReadAddressElement(*a) : AddressSettings();
}

AddressSettings ReadAddressElement(const CXmlNode& address) {
  AddressSettings s;
  const CXmlNode* a = &address;
  s.type = ReadInt(*a, L"type", 0);
  s.url = ReadChildText(*a, L"url");
  s.urlpattern = ReadChildText(*a, L"urlpattern");
  s.patterns = ReadPairs(*a, L"pattern", L"name", L"value");
  s.urllist = ReadChildText(*a, L"urllist");
  s.postvars = ReadAttributeList(*a, L"postvar", L"script");
  s.loginpage = ReadInt(*a, L"loginpage", 0);
  s.loginpageUrl = ReadChildText(*a, L"loginpage");
  s.loginurl = ReadChildText(*a, L"loginurl");
  s.logindata = ReadChildText(*a, L"logindata");
  s.httpauth = ReadInt(*a, L"httpauth", 0);
  s.httppage = ReadChildText(*a, L"httppage");
  s.httpuser = ReadChildText(*a, L"httpuser");
  s.httppass = ReadChildText(*a, L"httppass");
  return s;
}

void WriteAddressSettings(const AddressSettings& s, CXmlNode* a) {
  a->SetAttributeInt(L"type", s.type);
  a->SetChildText(L"url", s.url);
  a->SetChildText(L"urlpattern", s.urlpattern);
  a->SetChildText(L"urllist", s.urllist);
  a->SetAttributeInt(L"loginpage", s.loginpage);
  a->SetChildText(L"loginpage", s.loginpageUrl);
  a->SetChildText(L"loginurl", s.loginurl);
  a->SetChildText(L"logindata", s.logindata);
  a->SetAttributeInt(L"httpauth", s.httpauth);
  a->SetChildText(L"httppage", s.httppage);
  a->SetChildText(L"httpuser", s.httpuser);
  a->SetChildText(L"httppass", s.httppass);
  // Lists last: they are removed and appended again, so rewriting unchanged values keeps the
  // element as it was.
  WritePairs(a, L"pattern", L"name", L"value", s.patterns);
  WriteAttributeList(a, L"postvar", L"script", s.postvars);
}

// ---- lists ----

std::vector<std::wstring> ReadKeyColumns(const CXmlNode& task) {
  return ReadTextList(task, L"keycolumn");
}

void WriteKeyColumns(const std::vector<std::wstring>& names, CXmlNode* task) {
  WriteTextList(task, L"keycolumn", names);
}

bool IsSufficient(const FilterCondition& c) {
  return c.type == kFilterSufficient;
}

std::vector<FilterCondition> ReadFilterConditions(const CXmlNode& task) {
  std::vector<FilterCondition> list;
  ForEachElement(task, L"filtercondition", [&](const CXmlNode& c) {
    list.push_back({ReadString(c, L"item"), ReadString(c, L"filter"), ReadString(c, L"type")});
  });
  return list;
}

void WriteFilterConditions(const std::vector<FilterCondition>& list, CXmlNode* task) {
  RemoveChildren(task, L"filtercondition");
  for (const FilterCondition& f : list) {
    CXmlNode* c = task->AppendChild(std::make_unique<CXmlNode>(L"filtercondition", XmlElement));
    c->SetAttribute(L"item", f.item);
    c->SetAttribute(L"filter", f.filter);
    c->SetAttribute(L"type", f.type);
  }
}

// ---- schedule ----

ScheduleSettings NewScheduleSettings() {
  ScheduleSettings s;
  s.intervalunit = kUnitSeconds;
  s.runattype = kRunOnce;
  return s;
}

std::optional<ScheduleSettings> ReadScheduleSettings(const CXmlNode& task) {
  const CXmlNode* e = FirstElement(task, L"schedule");
  if (!e) return std::nullopt;
  ScheduleSettings s;
  s.type = ReadInt(*e, L"type", 0);
  s.interval = ReadInt(*e, L"interval", 0);
  s.intervalunit = ReadString(*e, L"intervalunit");
  s.runattime = ReadInt(*e, L"runattime", 0);
  s.runattype = ReadString(*e, L"runattype");
  return s;
}

void WriteScheduleSettings(const ScheduleSettings& s, CXmlNode* e) {
  e->SetAttributeInt(L"type", s.type);
  e->SetAttributeInt(L"interval", s.interval);
  e->SetAttribute(L"intervalunit", s.intervalunit);
  e->SetAttributeInt(L"runattime", s.runattime);
  e->SetAttribute(L"runattype", s.runattype);
}

int SecondsPerUnit(std::wstring_view u) {
  if (u == L"分钟" || u == L"minutes") return 60;
  if (u == L"小时" || u == L"hours") return 3600;
  if (u == L"天" || u == L"days") return 86400;
  return 1;
}

bool IsRunOnce(std::wstring_view t) {
  return t == kRunOnce || t == L"Once";
}

// ---- savetofile / export ----

FileOutputSettings ReadFileOutputSettings(const CXmlNode& task, std::wstring_view element) {
  FileOutputSettings s;
  const CXmlNode* e = FirstElement(task, element);
  if (!e) return s;
  s.encoding = ReadChildText(*e, L"encoding", L"ANSI");
  s.resultpath = ReadChildText(*e, L"resultpath");
  s.downloadpath = ReadChildText(*e, L"downloadpath");
  s.saverecordfile = ReadInt(*e, L"saverecordfile", 0);
  s.perrecordname = ReadChildText(*e, L"perrecordname");
  s.perrecordtmpl = ReadChildText(*e, L"perrecordtmpl");
  s.overwriterecordfile = ReadInt(*e, L"overwriterecordfile", 0);
  s.savetaskfile = ReadInt(*e, L"savetaskfile", 0);
  s.pertaskname = ReadChildText(*e, L"pertaskname");
  s.pertasktmpl = ReadChildText(*e, L"pertasktmpl");
  s.overwritetaskfile = ReadInt(*e, L"overwritetaskfile", 0);
  return s;
}

void WriteFileOutputSettings(const FileOutputSettings& s, CXmlNode* e) {
  e->SetChildText(L"encoding", s.encoding);
  e->SetChildText(L"resultpath", s.resultpath);
  e->SetChildText(L"downloadpath", s.downloadpath);
  e->SetAttributeInt(L"saverecordfile", s.saverecordfile);
  e->SetChildText(L"perrecordname", s.perrecordname);
  e->SetChildText(L"perrecordtmpl", s.perrecordtmpl);
  e->SetAttributeInt(L"overwriterecordfile", s.overwriterecordfile);
  e->SetAttributeInt(L"savetaskfile", s.savetaskfile);
  e->SetChildText(L"pertaskname", s.pertaskname);
  e->SetChildText(L"pertasktmpl", s.pertasktmpl);
  e->SetAttributeInt(L"overwritetaskfile", s.overwritetaskfile);
}

// ---- savetoweb ----

WebOutputSettings ReadWebOutputSettings(const CXmlNode& task) {
  WebOutputSettings s;
  const CXmlNode* e = FirstElement(task, L"savetoweb");
  if (!e) return s;
  s.enable = ReadInt(*e, L"enable", 0);
  s.postmethod = ReadInt(*e, L"postmethod", 0);
  s.posturl = ReadChildText(*e, L"posturl");
  s.senddata = ReadPairs(*e, L"senddata", L"name", L"value");
  return s;
}

void WriteWebOutputSettings(const WebOutputSettings& s, CXmlNode* e) {
  e->SetAttributeInt(L"enable", s.enable);
  e->SetAttributeInt(L"postmethod", s.postmethod);
  e->SetChildText(L"posturl", s.posturl);
  WritePairs(e, L"senddata", L"name", L"value", s.senddata);
}

// ---- savetodb ----

DbOutputSettings ReadDbOutputSettings(const CXmlNode& task) {
  DbOutputSettings s;
  const CXmlNode* e = FirstElement(task, L"savetodb");
  if (!e) return s;
  s.enable = ReadInt(*e, L"enable", 0);
  s.dbms = ReadChildText(*e, L"dbms", L"ACCESS");
  s.dbfile = ReadChildText(*e, L"dbfile");
  s.dbpass = ReadChildText(*e, L"dbpass");
  s.dbserver = ReadChildText(*e, L"dbserver");
  s.dbname = ReadChildText(*e, L"dbname");
  s.username = ReadChildText(*e, L"username");
  s.password = ReadChildText(*e, L"password");
  s.tablename = ReadChildText(*e, L"tablename");
  s.datamap = ReadPairs(*e, L"datamap", L"field", L"value");
  s.savelinkfile = ReadInt(*e, L"savelinkfile", 0);
  s.linkfiledir = ReadChildText(*e, L"linkfiledir");
  return s;
}

void WriteDbOutputSettings(const DbOutputSettings& s, CXmlNode* e) {
  e->SetAttributeInt(L"enable", s.enable);
  e->SetChildText(L"dbms", s.dbms);
  e->SetChildText(L"dbfile", s.dbfile);
  e->SetChildText(L"dbpass", s.dbpass);
  e->SetChildText(L"dbserver", s.dbserver);
  e->SetChildText(L"dbname", s.dbname);
  e->SetChildText(L"username", s.username);
  e->SetChildText(L"password", s.password);
  e->SetChildText(L"tablename", s.tablename);
  e->SetAttributeInt(L"savelinkfile", s.savelinkfile);
  e->SetChildText(L"linkfiledir", s.linkfiledir);
  WritePairs(e, L"datamap", L"field", L"value", s.datamap);
}

// ---- savetoxls ----

XlsOutputSettings ReadXlsOutputSettings(const CXmlNode& task) {
  XlsOutputSettings s;
  const CXmlNode* e = FirstElement(task, L"savetoxls");
  if (!e) return s;
  s.enable = ReadInt(*e, L"enable", 0);
  s.excelfile = ReadString(*e, L"excelfile");
  s.encoding = ReadString(*e, L"encoding", L"ANSI");
  s.option = ReadInt(*e, L"option", 0);
  return s;
}

void WriteXlsOutputSettings(const XlsOutputSettings& s, CXmlNode* e) {
  e->SetAttributeInt(L"enable", s.enable);
  e->SetAttribute(L"excelfile", s.excelfile);
  e->SetAttribute(L"encoding", s.encoding);
  e->SetAttributeInt(L"option", s.option);
}

// ---- whole tasks ----

std::unique_ptr<CXmlNode> NewTaskElement(std::wstring_view name) {
  auto task = std::make_unique<CXmlNode>(L"task", XmlElement);
  task->SetAttribute(L"name", name);
  CXmlNode* address = task->AppendChild(std::make_unique<CXmlNode>(L"address", XmlElement));
  address->AppendChild(std::make_unique<CXmlNode>(L"url", XmlElement));
  return task;
}

std::unique_ptr<CXmlNode> CopyTaskElement(const CXmlNode& task) {
  return std::make_unique<CXmlNode>(task);
}

std::vector<CXmlNode*> TaskElements(const CXmlDocument& doc) {
  std::vector<CXmlNode*> tasks;
  for (CXmlNode* n = doc.First(); n; n = n->Next()) {
    if (IsElementNamed(n, L"task")) tasks.push_back(n);
  }
  return tasks;
}

}  // namespace gm
