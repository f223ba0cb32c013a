// The editor's draft of a task, without any window: what it reads, what it reports changed, and
// that OK writes only what changed (a LINKTASK item's nested task keeps its own attributes).
#include "page/task_draft.h"

#include <gtest/gtest.h>

#include <string>

#include "doc/xml_node.h"

namespace gm {
namespace {

constexpr const wchar_t* kTask =
    L"<task name=\"Shop\" useiectrl=\"0\"><address login=\"1\"><url>http://s/list</url>"
    L"<post>a=1</post></address><schedule type=\"0\"></schedule>"
    L"<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\">"
    L"<data name=\"name\" type=\"INNERTEXT\" path=\"@TD\"></data>"
    L"<data name=\"detail\" type=\"LINKTASK\" path=\"@TD#TD@A\" attr=\"href\">"
    L"<location path=\"HTML@HEAD#BODY@P@B\" step=\"\">"
    L"<data name=\"price\" type=\"INNERTEXT\" path=\"\"></data></location></data>"
    L"</location></task>";

struct Parsed {
  CXmlDocument doc;
  CXmlNode* task = nullptr;
  std::wstring Text() const { return doc.ToText(); }
};

std::unique_ptr<Parsed> Parse() {
  auto p = std::make_unique<Parsed>();
  p->doc.Parse(kTask);
  p->task = p->doc.FindTop(L"task");
  return p;
}

TEST(TaskDraft, ReadsTheWholeTaskAtOnceAndAnUntouchedDraftWritesNothing) {
  auto p = Parse();
  ASSERT_NE(p->task, nullptr);
  CTaskDraft draft(*p->task);
  EXPECT_EQ(draft.Name(), L"Shop");
  EXPECT_EQ(draft.Url(), L"http://s/list");
  ASSERT_EQ(draft.Chains().size(), 2u);
  // The items as a run writes them: the LINKTASK item gives its nested task's item.
  std::vector<CChainItem> items = draft.Items();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].name, L"name");
  EXPECT_EQ(items[1].name, L"price");
  EXPECT_FALSE(draft.Changed());
  EXPECT_FALSE(draft.ItemsChanged());

  // The working task (the recovery file) is the stored task with the chains' trees.
  std::unique_ptr<CXmlNode> working = draft.WorkingTask(*p->task);
  ASSERT_NE(working, nullptr);
  EXPECT_EQ(working->GetAttribute(L"name"), L"Shop");
  EXPECT_EQ(CTaskDraft(*working).Items().size(), 2u);

  std::wstring before = p->Text();
  EXPECT_FALSE(draft.SaveTo(p->task));
  EXPECT_EQ(p->Text(), before);
  // Setting the same values again is no change.
  draft.SetName(L"Shop");
  draft.SetUrl(L"http://s/list");
  EXPECT_FALSE(draft.Changed());
}

TEST(TaskDraft, WritesTheNameTheAddressAndTheItemsThatChanged) {
  auto p = Parse();
  CTaskDraft draft(*p->task);
  draft.SetName(L"Books");
  draft.SetUrl(L"http://s/books");
  EXPECT_TRUE(draft.Changed());
  EXPECT_FALSE(draft.ItemsChanged());
  // The stored task is not touched before SaveTo.
  EXPECT_EQ(p->task->GetAttribute(L"name"), L"Shop");
  std::unique_ptr<CXmlNode> working = draft.WorkingTask(*p->task);
  EXPECT_EQ(working->GetAttribute(L"name"), L"Books");
  EXPECT_EQ(working->FindChild(L"address")->GetChildText(L"url"), L"http://s/books");

  draft.Chains().erase(draft.Chains().begin());
  draft.MarkItemsChanged();
  EXPECT_TRUE(draft.ItemsChanged());
  ASSERT_TRUE(draft.SaveTo(p->task));
  EXPECT_EQ(p->task->GetAttribute(L"name"), L"Books");
  const CXmlNode* address = p->task->FindChild(L"address");
  ASSERT_NE(address, nullptr);
  EXPECT_EQ(address->GetChildText(L"url"), L"http://s/books");
  // The rest of the address element is kept.
  EXPECT_EQ(address->GetAttribute(L"login"), L"1");
  EXPECT_EQ(address->GetChildText(L"post"), L"a=1");
  CTaskDraft again(*p->task);
  ASSERT_EQ(again.Items().size(), 1u);
  EXPECT_EQ(again.Items()[0].name, L"price");
  EXPECT_NE(p->task->FindChild(L"schedule"), nullptr);

  // The advanced options edit the working address; it is written whole.
  CTaskDraft advanced(*p->task);
  advanced.Address().SetAttribute(L"login", L"0");
  advanced.MarkAddressChanged();
  ASSERT_TRUE(advanced.SaveTo(p->task));
  EXPECT_EQ(p->task->FindChild(L"address")->GetAttribute(L"login"), L"0");
}

TEST(TaskDraft, ANestedTaskKeepsItsItemAttributes) {
  auto p = Parse();
  CXmlNode* detail = nullptr;
  for (CXmlNode* c = p->task->FindChild(L"location")->FirstChild(); c; c = c->Next())
    if (c->GetAttribute(L"name") == L"detail") detail = c;
  ASSERT_NE(detail, nullptr);
  CTaskDraft draft(*detail);
  EXPECT_EQ(draft.Name(), L"detail");
  ASSERT_EQ(draft.Chains().size(), 1u);
  draft.Chains()[0].Data().SetAttribute(L"name", L"cost");
  draft.MarkItemsChanged();
  ASSERT_TRUE(draft.SaveTo(detail));
  EXPECT_EQ(detail->GetAttribute(L"name"), L"detail");
  EXPECT_EQ(detail->GetAttribute(L"type"), L"LINKTASK");
  EXPECT_EQ(detail->GetAttribute(L"attr"), L"href");
  EXPECT_EQ(detail->FindChild(L"address"), nullptr);
  EXPECT_EQ(CTaskDraft(*detail).Items()[0].name, L"cost");
}

}  // namespace
}  // namespace gm
