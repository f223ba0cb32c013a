// Item chains: adding and removing repeated levels, the element list on a page, and the
// conversion to and from location trees (round trips of real tasks).
#include "page/item_chain.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "doc/file_util.h"
#include "doc/text_codec.h"
#include "page/element_path.h"
#include "support/page_test_util.h"

namespace gm {
namespace {

using test::ById;
using test::LoadPage;

// Two tables, three and two rows; the cells of the second column carry ids.
constexpr const wchar_t* kTables =
    L"<html><head></head><body>"
    L"<table><tr><td>a1</td><td id=c11>b1</td></tr><tr><td>a2</td><td id=c12>b2</td></tr>"
    L"<tr><td>a3</td><td id=c13>b3</td></tr></table>"
    L"<table><tr><td>a4</td><td id=c21>b4</td></tr><tr><td>a5</td><td id=c22>b5</td></tr></table>"
    L"</body></html>";

constexpr const wchar_t* kT1 = L"HTML@HEAD#BODY@TABLE";
constexpr const wchar_t* kR1 = L"HTML@HEAD#BODY@TABLE@TBODY@TR";

std::wstring P(const CPageModel& model, const wchar_t* id) { return BuildPath(ById(model, id)); }

struct Expect {
  std::wstring full;
  std::vector<std::wstring> steps;
  std::vector<std::wstring> levels;
  std::wstring item;
};

void ExpectChain(const CItemChain& c, const Expect& e, const std::string& what) {
  EXPECT_EQ(c.fullPath, e.full) << what;
  EXPECT_EQ(c.steps, e.steps) << what;
  EXPECT_EQ(c.levelPaths, e.levels) << what;
  EXPECT_EQ(c.ItemPath(), e.item) << what;
  EXPECT_TRUE(ChainHolds(c)) << what;
}

TEST(ItemChain, AddingAndRemovingLevels) {
  auto page = LoadPage(kTables);
  const std::wstring c11 = P(*page, L"c11"), c12 = P(*page, L"c12"), c13 = P(*page, L"c13"),
                     c21 = P(*page, L"c21"), c22 = P(*page, L"c22");
  const Expect one{c11, {}, {}, L""};
  const Expect rows{c11, {L"#TR"}, {kR1}, L"@TD#TD"};
  const Expect tables{c11, {L"#TR", L"#TABLE"}, {kR1, kT1}, L"@TD#TD"};
  CItemChain chain;
  struct Step {
    bool add;
    std::wstring path;
    bool ok;
    Expect after;
    const char* what;
  } steps[] = {
      {false, c11, false, {L"", {}, {}, L""}, "nothing to remove from an empty chain"},
      {true, c11, true, one, "the first element becomes the full path"},
      {true, c11, false, one, "the same element again: empty middle"},
      {true, L"BODY@TABLE@TBODY@TR@TD#TD", false, one, "another part of the page: empty prefix"},
      {true, c12, true, rows, "the cell of the next row adds the row level"},
      {true, c12, false, rows, "the same level twice does not fit"},
      {true, c22, false, rows, "differs in two places: no single middle"},
      {true, c21, true, tables, "the next table adds an outer level, sorted by length"},
      {false, c13, false, tables, "#TR#TR is not a step of the chain"},
      {false, c12, true, {c11, {L"#TABLE"}, {kT1}, L"@TBODY@TR@TD#TD"}, "row level removed"},
      {false, c21, true, {c11, {}, {}, L"@TBODY@TR@TD#TD"}, "last level removed, item path kept"},
      {false, c11, true, {L"", {}, {}, L""}, "the item's own element empties the chain"},
  };
  for (const Step& s : steps) {
    bool ok = s.add ? AddElement(&chain, s.path) : RemoveElement(&chain, s.path);
    EXPECT_EQ(ok, s.ok) << s.what;
    ExpectChain(chain, s.after, s.what);
  }
}

TEST(ItemChain, PickingTheNextRowFirstKeepsTheInvariant) {
  auto page = LoadPage(kTables);
  CItemChain chain;
  ASSERT_TRUE(AddElement(&chain, P(*page, L"c12")));
  ASSERT_TRUE(AddElement(&chain, P(*page, L"c11")));
  ExpectChain(chain, {P(*page, L"c12"), {L"#TR"}, {kR1}, L"#TR@TD#TD"}, "row 2 then row 1");
}

TEST(ItemChain, InvariantViolations) {
  CItemChain c;
  c.fullPath = L"HTML@BODY@TABLE@TR@TD";
  c.levelPaths = {L"HTML@BODY@TABLE@TR"};
  c.steps = {L"#TR"};
  c.SetItemPath(L"@TD");
  EXPECT_TRUE(ChainHolds(c));
  c.SetItemPath(L"@TH");
  EXPECT_FALSE(ChainHolds(c)) << "item path is not the rest of the full path";
  c.SetItemPath(L"@TD");
  c.steps.push_back(L"#TABLE");
  EXPECT_FALSE(ChainHolds(c)) << "steps and level paths differ in number";
  c.levelPaths.push_back(L"HTML@HEAD");
  EXPECT_FALSE(ChainHolds(c)) << "the outer level is not a start of the inner one";
  CItemChain empty;
  empty.SetItemPath(L"@A");
  EXPECT_FALSE(ChainHolds(empty)) << "an empty full path with an item path";

  // SaveChains refuses such a chain and leaves the task as it was.
  CXmlDocument doc;
  doc.Parse(L"<task><location path=\"HTML\" step=\"\"><data path=\"\" name=\"x\"/></location></task>");
  std::wstring before = doc.ToText();
  EXPECT_FALSE(SaveChains({c}, doc.First()));
  EXPECT_EQ(doc.ToText(), before);
}

TEST(ItemChain, ElementListRepeatsEveryLevelOnThePage) {
  auto page = LoadPage(kTables);
  CItemChain chain;
  for (const wchar_t* id : {L"c11", L"c12", L"c21"}) ASSERT_TRUE(AddElement(&chain, P(*page, id)));
  std::vector<std::wstring> expected;
  for (const wchar_t* id : {L"c11", L"c12", L"c13", L"c21", L"c22"}) expected.push_back(P(*page, id));
  EXPECT_EQ(ElementList(chain, *page), expected);
  EXPECT_EQ(ElementList(chain, *page, 2), (std::vector<std::wstring>{expected[0], expected[1]}));

  // A level without a step does not repeat (its element is taken once), and an item whose
  // paths no longer resolve keeps only its own path.
  CItemChain fixed = chain;
  fixed.steps[0] = L"";
  EXPECT_EQ(ElementList(fixed, *page),
            (std::vector<std::wstring>{expected[0], expected[3]}));
  auto other = LoadPage(L"<html><head></head><body><p>no tables</p></body></html>");
  EXPECT_EQ(ElementList(chain, *other), std::vector<std::wstring>{expected[0]});
}

// A new item picked in a row another item repeats over repeats over the same rows, from the
// first one; picked elsewhere it is a single element.
TEST(ItemChain, ANewChainTakesTheRepetitionAroundIt) {
  auto page = LoadPage(kTables);
  // The first cell of a row: the row's second cell without its last step.
  auto first_cell = [&](const wchar_t* id) {
    std::wstring p = P(*page, id);
    return p.substr(0, p.size() - std::wstring(L"#TD").size());
  };
  CItemChain rows;  // the second cells of the first table's rows
  ASSERT_TRUE(AddElement(&rows, P(*page, L"c11")));
  ASSERT_TRUE(AddElement(&rows, P(*page, L"c12")));
  CItemChain tables = rows;  // ... and of the second table's
  ASSERT_TRUE(AddElement(&tables, P(*page, L"c21")));
  CItemChain single;
  ASSERT_TRUE(AddElement(&single, P(*page, L"c22")));

  struct Case {
    const char* what;
    std::vector<CItemChain> existing;
    std::wstring picked;
    std::vector<std::wstring> elements;
  } cases[] = {
      {"second row, rows repeated", {single, rows}, first_cell(L"c12"),
       {first_cell(L"c11"), first_cell(L"c12"), first_cell(L"c13")}},
      {"first row", {rows}, first_cell(L"c11"),
       {first_cell(L"c11"), first_cell(L"c12"), first_cell(L"c13")}},
      {"both levels win over one", {rows, tables}, first_cell(L"c22"),
       {first_cell(L"c11"), first_cell(L"c12"), first_cell(L"c13"), first_cell(L"c21"),
        first_cell(L"c22")}},
      {"outside the repeated rows", {rows}, first_cell(L"c22"), {first_cell(L"c22")}},
      {"no items yet", {}, first_cell(L"c12"), {first_cell(L"c12")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CItemChain chain = NewChainAt(c.picked, c.existing);
    EXPECT_TRUE(ChainHolds(chain));
    EXPECT_EQ(ElementList(chain, *page), c.elements);
  }
  EXPECT_TRUE(NewChainAt(L"", {rows}).fullPath.empty());
}

TEST(ItemChain, ElementListReanchorsAMarkerItem) {
  // Picked where the value was the fourth P; on this page the marker has moved up by one.
  auto page = LoadPage(
      L"<html><head></head><body><div><p>x</p><p>Price:</p><p id=v>10</p></div></body></html>");
  CItemChain chain;
  chain.fullPath = L"HTML@HEAD#BODY@DIV@P#P#P#P";
  chain.Data().SetAttributeInt(L"method", 1);
  chain.Data().SetAttribute(L"pattern", L"Price:");
  CMarkerFragments f = MarkerFragments(ById(*page, L"v")->Previous(), ById(*page, L"v"));
  chain.Data().SetAttribute(L"locpath", f.marker);
  chain.Data().SetAttribute(L"relpath", f.target);
  EXPECT_EQ(ElementList(chain, *page), std::vector<std::wstring>{P(*page, L"v")});
  chain.Data().SetAttribute(L"pattern", L"Weight:");
  EXPECT_TRUE(ElementList(chain, *page).empty()) << "no marker on the page, nothing to show";
}

// The text form of the location children of an element; with `as_saved`, each item's "order"
// set to its position and absent location paths and steps written as empty, as a save does.
std::wstring LocationsText(const CXmlNode& owner, bool as_saved) {
  std::wstring out;
  int order = 0;
  for (const CXmlNode* c = owner.FirstChild(); c; c = c->Next()) {
    if (c->Name() != L"location") continue;
    CXmlNode copy(*c);
    if (as_saved) {
      std::vector<CXmlNode*> todo{&copy};
      while (!todo.empty()) {
        CXmlNode* n = todo.back();
        todo.pop_back();
        if (n->Name() == L"data") {
          n->SetAttributeInt(L"order", order++);
          continue;
        }
        // An absent path or step reads as empty and is written so.
        for (const wchar_t* a : {L"path", L"step"})
          if (!n->GetAttribute(a)) n->SetAttribute(a, L"");
        std::vector<CXmlNode*> kids;
        for (CXmlNode* k = n->FirstChild(); k; k = k->Next()) kids.push_back(k);
        todo.insert(todo.end(), kids.rbegin(), kids.rend());
      }
    }
    CXmlNode::WriteText(&copy, &out, 0);
  }
  return out;
}

std::wstring ReadSource(const std::string& relative) {
  std::string bytes;
  EXPECT_TRUE(ReadFileBytes(FromUtf8(std::string(GM_SOURCE_DIR) + "/" + relative), &bytes));
  return FromUtf8(bytes);
}

TEST(ItemChain, RoundTripsOfRealTasks) {
  size_t nested = 0;
  for (const char* file : {"tests/fixtures/tasks/forum-chains.xml",
                           "tests/fixtures/tasks/news-list.xml",
                           "tests/fixtures/tasks/shop-linktask.xml",
                           "resources/examples/example-task.xml"}) {
    CXmlDocument doc;
    doc.Parse(ReadSource(file));
    CXmlNode* task = doc.FindTop(L"task");
    ASSERT_NE(task, nullptr) << file;
    // Nested tasks of LINKTASK items round-trip on their own as well.
    std::vector<CXmlNode*> owners{task};
    for (size_t i = 0; i < owners.size(); ++i) {
      std::vector<CXmlNode*> todo{owners[i]};
      while (!todo.empty()) {
        CXmlNode* n = todo.back();
        todo.pop_back();
        for (CXmlNode* k = n->FirstChild(); k; k = k->Next()) {
          if (k->Name() == L"location") todo.push_back(k);
          if (k->Name() == L"data" && k->GetAttribute(L"type") == L"LINKTASK") owners.push_back(k);
        }
      }
    }
    nested += owners.size() - 1;
    for (CXmlNode* owner : owners) {
      std::vector<CItemChain> chains = LoadChains(*owner);
      for (const CItemChain& c : chains) EXPECT_TRUE(ChainHolds(c)) << file;
      CXmlNode saved(*owner);
      ASSERT_TRUE(SaveChains(chains, &saved)) << file;
      if (owner == task) {
        EXPECT_FALSE(chains.empty()) << file;
      }
      EXPECT_EQ(LocationsText(saved, false), LocationsText(*owner, true)) << file;
      // And the item list a run would write is unchanged.
      std::vector<CItemDef*> before;
      auto tree = ReadTaskLocations(*owner);
      FlattenItems(tree.get(), &before);
      std::vector<CChainItem> after = ChainItems(chains);
      ASSERT_EQ(after.size(), before.size()) << file;
      for (size_t i = 0; i < after.size(); ++i) EXPECT_EQ(after[i].name, before[i]->name) << file;
    }
  }
  EXPECT_EQ(nested, 3u) << "the LINKTASK items of the shop fixture and of the example";
}

TEST(ItemChain, ReadingLevels) {
  CXmlDocument doc;
  doc.Parse(
      L"<task>"
      L"<location path=\"HTML@BODY@P\" step=\"\"><data path=\"@B\" name=\"flat\"/></location>"
      L"<location path=\"HTML@BODY@TABLE\" step=\"#TABLE\"><location path=\"@TBODY@TR\" step=\"#TR\">"
      L"<data path=\"@TD\" name=\"cell\"/></location></location>"
      L"<location path=\"HTML@BODY@UL@LI\" step=\"#LI\"><data path=\"@A\" name=\"a\"/>"
      L"<data path=\"@SPAN\" name=\"b\"/></location>"
      L"</task>");
  std::vector<CItemChain> chains = LoadChains(*doc.First());
  ASSERT_EQ(chains.size(), 4u);
  // A single location with an empty step has no repeated level.
  ExpectChain(chains[0], {L"HTML@BODY@P@B", {}, {}, L"@B"}, "flat");
  ExpectChain(chains[1],
              {L"HTML@BODY@TABLE@TBODY@TR@TD", {L"#TR", L"#TABLE"},
               {L"HTML@BODY@TABLE@TBODY@TR", L"HTML@BODY@TABLE"}, L"@TD"},
              "two levels");
  // Two items in one location: one chain each, written back as one tree each.
  ExpectChain(chains[2], {L"HTML@BODY@UL@LI@A", {L"#LI"}, {L"HTML@BODY@UL@LI"}, L"@A"}, "a");
  ExpectChain(chains[3], {L"HTML@BODY@UL@LI@SPAN", {L"#LI"}, {L"HTML@BODY@UL@LI"}, L"@SPAN"}, "b");
  CXmlNode saved(*doc.First());
  ASSERT_TRUE(SaveChains(chains, &saved));
  std::vector<CItemChain> again = LoadChains(saved);
  ASSERT_EQ(again.size(), chains.size());
  for (size_t i = 0; i < again.size(); ++i) {
    EXPECT_EQ(again[i].fullPath, chains[i].fullPath);
    EXPECT_EQ(again[i].steps, chains[i].steps);
    EXPECT_EQ(again[i].levelPaths, chains[i].levelPaths);
    EXPECT_EQ(again[i].Data().GetAttributeInt(L"order", -1), static_cast<int>(i));
  }
  int trees = 0;
  for (const CXmlNode* c = saved.FirstChild(); c; c = c->Next()) trees += c->Name() == L"location";
  EXPECT_EQ(trees, 4);
}

TEST(ItemChain, ItemsAndTemporaryTask) {
  CXmlDocument doc;
  doc.Parse(test::ReadFixture("tasks/shop-linktask.xml"));
  CXmlNode* task = doc.FindTop(L"task");
  ASSERT_NE(task, nullptr);
  std::vector<CItemChain> chains = LoadChains(*task);
  std::vector<CChainItem> items = ChainItems(chains);
  ASSERT_FALSE(items.empty());
  // LINKTASK items are replaced by their nested items.
  for (const CChainItem& i : items) EXPECT_NE(i.type, L"LINKTASK") << i.name;
  EXPECT_EQ(items.front().name, L"分类");
  EXPECT_EQ(items[1].name, L"商品名称");

  // A picked chain on a temporary task; the original task is left alone.
  std::wstring before = doc.ToText();
  CItemChain picked;
  ASSERT_TRUE(AddElement(&picked, L"HTML@BODY@H2"));
  picked.Data().SetAttribute(L"name", L"Heading");
  chains.push_back(picked);
  std::unique_ptr<CXmlNode> temp = TaskWithChains(*task, chains);
  ASSERT_NE(temp, nullptr);
  EXPECT_EQ(doc.ToText(), before);
  EXPECT_EQ(temp->Name(), L"task");
  EXPECT_NE(temp->FindChild(L"savetoxls"), nullptr) << "the task's other settings are kept";
  std::vector<CItemChain> back = LoadChains(*temp);
  ASSERT_EQ(back.size(), chains.size());
  EXPECT_EQ(back.back().fullPath, L"HTML@BODY@H2");
  EXPECT_TRUE(back.back().steps.empty());
}

TEST(ItemChain, SetItemKeepsTheChainPath) {
  CItemChain chain;
  ASSERT_TRUE(AddElement(&chain, L"HTML@BODY@TABLE@TBODY@TR@TD"));
  ASSERT_TRUE(AddElement(&chain, L"HTML@BODY@TABLE@TBODY@TR#TR@TD"));
  std::unique_ptr<CItemDef> item = chain.Item();
  item->name = L"Cell";
  item->type = L"LINKTASK";
  item->path = L"@ELSEWHERE";
  item->nested = std::make_unique<CLocation>();
  item->nested->path = L"HTML@BODY@H1";
  chain.SetItem(*item);
  EXPECT_EQ(chain.ItemPath(), L"@TD");
  EXPECT_TRUE(ChainHolds(chain));
  EXPECT_EQ(chain.Item()->name, L"Cell");
  ASSERT_NE(chain.Item()->nested, nullptr);
  EXPECT_EQ(chain.Item()->nested->path, L"HTML@BODY@H1");
}

}  // namespace
}  // namespace gm
