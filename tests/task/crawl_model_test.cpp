#include "task/crawl_model.h"

#include <gtest/gtest.h>

#include "doc/file_util.h"
#include "task/task_settings.h"

namespace gm {
namespace {

std::unique_ptr<CXmlNode> ParseElement(std::wstring_view text) {
  auto node = std::make_unique<CXmlNode>();
  node->ParseNode(text, 0);
  return node;
}

std::unique_ptr<CXmlNode> LoadFixture(const char* name) {
  std::string bytes;
  EXPECT_TRUE(ReadFileBytes(FromUtf8(std::string(GM_FIXTURES) + "/tasks/" + name), &bytes)) << name;
  return ParseElement(FromUtf8(bytes));
}

// Text form of every child of `owner` named `name`, in order.
std::wstring ChildrenText(const CXmlNode& owner, std::wstring_view name) {
  std::wstring out;
  for (const CXmlNode* c = owner.FirstChild(); c; c = c->Next()) {
    if (c->Type() == XmlElement && c->Name() == name) CXmlNode::WriteText(c, &out, 1);
  }
  return out;
}

std::vector<std::wstring> Names(const std::vector<CItemDef*>& items) {
  std::vector<std::wstring> names;
  for (const CItemDef* i : items) names.push_back(i->name);
  return names;
}

struct TaskCase {
  const char* file;
  int depth;
  std::vector<std::wstring> flattened;
  bool browser_links;
};

class CrawlModelTasks : public ::testing::TestWithParam<TaskCase> {};

// A task read into the model and written back gives the same text form: locations with their
// items and nested LINKTASK trees, the task's auto-clicks and its paging element.
TEST_P(CrawlModelTasks, ReadWriteGivesTheSameTextForm) {
  const TaskCase& c = GetParam();
  auto task = LoadFixture(c.file);
  ASSERT_EQ(task->Name(), L"task");

  std::unique_ptr<CLocation> tree = ReadTaskLocations(*task);
  ASSERT_TRUE(tree);
  std::unique_ptr<CAutoClick> clicks = ReadTaskAutoClicks(*task);
  std::unique_ptr<CAutoPage> paging = ReadTaskAutoPage(*task);

  CXmlNode written(L"task", XmlElement);
  WriteLocation(*tree, &written);
  if (clicks) WriteAutoClicks(*clicks, &written);
  if (paging) written.AppendChild(WriteAutoPage(*paging));

  for (const wchar_t* name : {L"location", L"autoclk", L"autopage"}) {
    EXPECT_EQ(ChildrenText(written, name), ChildrenText(*task, name)) << name;
  }
  EXPECT_EQ(LocationDepth(tree.get()), c.depth);
  std::vector<CItemDef*> items;
  FlattenItems(tree.get(), &items);
  EXPECT_EQ(Names(items), c.flattened);
  EXPECT_EQ(NeedsBrowserForLinks(tree.get()), c.browser_links);

  // Items know their element and their level.
  for (CItemDef* item : items) {
    ASSERT_TRUE(item->node);
    EXPECT_EQ(item->node->GetAttribute(L"name"), item->name);
    ASSERT_TRUE(item->owner);
    EXPECT_TRUE(std::any_of(item->owner->items.begin(), item->owner->items.end(),
                            [&](const auto& i) { return i.get() == item; }));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, CrawlModelTasks,
    ::testing::Values(
        TaskCase{"news-list.xml", 2, {L"标题", L"链接", L"发布时间", L"采集时间"}, false},
        // LINKTASK at level 2 with nested chains of 2, 3 and 1 levels: they count from level 2.
        // The script link without a nested tree contributes no field but needs the browser.
        TaskCase{"shop-linktask.xml", 4, {L"分类", L"商品名称", L"价格", L"图片"}, true},
        TaskCase{"forum-chains.xml", 5, {L"Board", L"Thread", L"Author", L"Odd type"}, false}),
    [](const auto& info) {
      std::string n = info.param.file;
      return n.substr(0, n.find('-'));
    });

TEST(CrawlModel, NestedTreeHasNoParentAndCarriesClicksAndPaging) {
  auto task = LoadFixture("shop-linktask.xml");
  std::unique_ptr<CLocation> tree = ReadTaskLocations(*task);
  CItemDef* link = tree->nextSibling->firstChild->items.at(0).get();
  ASSERT_EQ(link->type, L"LINKTASK");
  ASSERT_TRUE(link->nested);
  EXPECT_EQ(link->nested->parent, nullptr);
  EXPECT_EQ(link->nested->firstChild->parent, link->nested.get());
  EXPECT_EQ(link->nested->nextSibling->parent, nullptr);  // siblings share their parent
  ASSERT_TRUE(link->autoClicks);
  ASSERT_TRUE(link->autoClicks->next);
  EXPECT_EQ(link->autoClicks->next->pattern, L"展开全部");
  EXPECT_FALSE(link->autoClicks->next->next);
  ASSERT_TRUE(link->autoPage);
  EXPECT_EQ(link->autoPage->scripts,
            (std::vector<std::wstring>{L"showPage(2)", L"showPage(3)", L"showPage(<%page%>)"}));
  EXPECT_EQ(link->autoPage->maxpass, 3);
  EXPECT_EQ(link->scriptIndex, 0);
  EXPECT_EQ(link->pass, 0);
  EXPECT_EQ(tree->firstChild->parent, tree.get());
  EXPECT_EQ(tree->nextSibling->parent, nullptr);
}

TEST(CrawlModel, LegacyDigitsAreReadAsCodesAndWrittenAsCodes) {
  auto loc = ParseElement(
      L"<location path=\"A\" step=\"\"><data name=\"a\" type=\"3\"></data>"
      L"<data name=\"b\" type=\"4\"></data><data name=\"c\" type=\"odd\"></data></location>");
  std::unique_ptr<CLocation> tree = ReadLocation(loc.get(), nullptr);
  ASSERT_EQ(tree->items.size(), 3u);
  EXPECT_EQ(tree->items[0]->type, L"ATTRIBUTE");
  EXPECT_EQ(tree->items[1]->type, L"LINKFILE");
  EXPECT_EQ(tree->items[2]->type, L"odd");
  CXmlNode out(L"task", XmlElement);
  WriteLocation(*tree, &out);
  EXPECT_EQ(out.Find(L"@location@data")->GetAttribute(L"type"), L"ATTRIBUTE");
  EXPECT_EQ(out.Find(L"@location@data#data")->GetAttribute(L"type"), L"LINKFILE");
  EXPECT_EQ(out.Find(L"@location@data#data#data")->GetAttribute(L"type"), L"odd");
  // A data element without attributes: empty strings, zeros, and the default type; a type
  // stored empty stays empty.
  auto bare = ParseElement(L"<data></data>");
  std::unique_ptr<CItemDef> item = ReadItem(bare.get(), nullptr);
  EXPECT_EQ(item->type, L"INNERTEXT");
  EXPECT_EQ(ReadItem(ParseElement(L"<data type=\"\"></data>").get(), nullptr)->type, L"");
  EXPECT_EQ(item->firstonly, 0);
  EXPECT_EQ(ReadLocation(nullptr, nullptr), nullptr);
  EXPECT_EQ(ReadItem(nullptr, nullptr), nullptr);
}

// Depth and flattening of hand-built shapes from the edge cases that fix record layout.
TEST(CrawlModel, DepthAndFlatteningShapes) {
  // Chains of 3 and 5 levels.
  auto task = ParseElement(
      L"<task><location><location><location><data name=\"x\"></data></location></location>"
      L"</location><location><location><location><location><location><data name=\"y\">"
      L"</data></location></location></location></location></location></task>");
  EXPECT_EQ(LocationDepth(ReadTaskLocations(*task).get()), 5);

  // A LINKTASK at level 1 whose nested tree has 4 levels contributes 4; items A, B(C, D), E
  // flatten to A, C, D, E; a LINKTASK without nested tree contributes nothing.
  task = ParseElement(
      L"<task><location><data name=\"A\"></data><data name=\"B\" type=\"5\">"
      L"<location><location><location><location><data name=\"C\"></data><data name=\"D\">"
      L"</data></location></location></location></location></data><data name=\"E\"></data>"
      L"<data name=\"F\" type=\"LINKTASK\"></data></location></task>");
  std::unique_ptr<CLocation> tree = ReadTaskLocations(*task);
  EXPECT_EQ(LocationDepth(tree.get()), 4);
  std::vector<CItemDef*> items;
  FlattenItems(tree.get(), &items);
  EXPECT_EQ(Names(items), (std::vector<std::wstring>{L"A", L"C", L"D", L"E"}));
  EXPECT_EQ(FindItemIndex(items, L"D"), 2);
  EXPECT_EQ(FindItemIndex(items, L"d"), -1);
  EXPECT_EQ(FindItemIndex(items, L"B"), -1);
  EXPECT_EQ(LocationDepth(nullptr), 0);

  // The browser-link flag looks at bit 0 of option, and not into nested trees.
  task = ParseElement(
      L"<task><location><data type=\"LINKTASK\" option=\"2\"><location><data type=\"LINKTASK\" "
      L"option=\"1\"></data></location></data></location></task>");
  EXPECT_FALSE(NeedsBrowserForLinks(ReadTaskLocations(*task).get()));
}

TEST(CrawlModel, ClearRunStateReleasesElementsAndNestedPages) {
  auto task = LoadFixture("shop-linktask.xml");
  std::unique_ptr<CLocation> tree = ReadTaskLocations(*task);
  auto handle = std::make_shared<int>(7);
  std::vector<CLocation*> all;
  // Every location, nested trees included.
  std::vector<CLocation*> work{tree.get()};
  while (!work.empty()) {
    CLocation* l = work.back();
    work.pop_back();
    for (; l; l = l->nextSibling.get()) {
      all.push_back(l);
      if (l->firstChild) work.push_back(l->firstChild.get());
      for (auto& i : l->items) {
        if (i->nested) work.push_back(i->nested.get());
      }
    }
  }
  ASSERT_GT(all.size(), 10u);
  for (CLocation* l : all) l->element = handle;
  CLocation* nested = tree->nextSibling->firstChild->items[0]->nested.get();
  nested->page = handle;
  tree->page = handle;
  ClearRunState(tree.get());
  for (CLocation* l : all) EXPECT_FALSE(l->element);
  EXPECT_FALSE(nested->page);
  EXPECT_TRUE(tree->page);  // the task's own page stays loaded
  tree.reset();
  EXPECT_EQ(handle.use_count(), 1);
}

// Task files can come from anywhere: absurd nesting and very long chains must not exhaust the
// stack when read, walked, written or destroyed.
TEST(CrawlModel, HostileShapesAreBoundedAndDoNotCrash) {
  const int kLevels = 50000;
  std::wstring deep = L"<task>";
  for (int i = 0; i < kLevels; ++i) deep += L"<location><data name=\"d\"></data>";
  CXmlDocument doc;
  doc.Parse(deep);  // unclosed elements are closed at the end
  std::unique_ptr<CLocation> tree = ReadTaskLocations(*doc.First());
  EXPECT_EQ(LocationDepth(tree.get()), kMaxLocationNesting + 1);

  // (Reading a document with very many siblings is slow in itself, so fewer here.)
  std::wstring wide = L"<task>";
  for (int i = 0; i < 3000; ++i) wide += L"<location></location><autoclk></autoclk>";
  wide += L"</task>";
  doc.Parse(wide);
  tree = ReadTaskLocations(*doc.First());
  std::unique_ptr<CAutoClick> clicks = ReadTaskAutoClicks(*doc.First());
  EXPECT_EQ(LocationDepth(tree.get()), 1);
  CXmlNode out(L"task", XmlElement);
  WriteLocation(*tree, &out);
  ClearRunState(tree.get());
  tree.reset();
  clicks.reset();
}

TEST(CrawlModel, ReplaceLocationsRewritesTheTreesAtTheEnd) {
  auto task = LoadFixture("news-list.xml");
  std::unique_ptr<CLocation> tree = ReadTaskLocations(*task);
  tree->items.clear();  // the editor dropped the first chain's item
  tree->firstChild->items.clear();
  ReplaceLocations(task.get(), tree.get());
  EXPECT_EQ(task->Find(L"@schedule")->Next()->Name(), L"location");  // appended after the rest
  std::unique_ptr<CLocation> back = ReadTaskLocations(*task);
  std::vector<CItemDef*> items;
  FlattenItems(back.get(), &items);
  EXPECT_EQ(Names(items), (std::vector<std::wstring>{L"链接", L"发布时间", L"采集时间"}));
  EXPECT_EQ(back->nextSibling->firstChild->items[0]->node->Parent()->Parent()->Parent(),
            task.get());
  ReplaceLocations(task.get(), nullptr);
  EXPECT_EQ(task->Find(L"@location"), nullptr);
}

TEST(CrawlModel, ItemTypeList) {
  ItemTypeList two(L"INNERTEXT#Text|LINKFILE#File");
  EXPECT_EQ(two.DisplayOf(L"LINKFILE"), L"File");
  EXPECT_EQ(two.CodeOf(L"Text"), L"INNERTEXT");
  EXPECT_EQ(two.DisplayOf(L"SYSTIME"), L"");
  EXPECT_EQ(two.CodeOf(L"Nothing"), L"");
  ItemTypeList odd(L"|bare|A#x#y||B#");
  ASSERT_EQ(odd.Entries().size(), 2u);
  EXPECT_EQ(odd.DisplayOf(L"A"), L"x#y");
  EXPECT_EQ(odd.CodeOf(L""), L"B");
}

}  // namespace
}  // namespace gm
