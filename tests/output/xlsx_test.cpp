#include <gtest/gtest.h>

#include "doc/text_codec.h"
#include "output/xlsx_export.h"
#include "output_fixture.h"

namespace gm {
namespace {

using test::Python;
using test::TempDir;

// Every sheet as [name, rows, columns, [[cell values]]] read by openpyxl, as JSON (ASCII
// escapes); a cell that holds anything but text shows as its type letter in brackets. Texts
// are decoded as spreadsheet programs do ("_xHHHH_" escapes; openpyxl leaves them).
std::string ReadXlsx(const std::string& path, bool cells = true) {
  return Python(
      "import openpyxl,sys,json\n"
      "from openpyxl.utils.escape import unescape\n"
      "b = openpyxl.load_workbook(sys.argv[1], read_only=True)\n"
      "out = []\n"
      "def v(c):\n"
      "  t = c.data_type\n"
      "  return \"\" if c.value is None else unescape(c.value) if t == \"s\" else \"[\" + t + \"]\"\n"
      "for s in b.worksheets:\n"
      "  rows = [[v(c) for c in r] for r in s.iter_rows()] if sys.argv[2] == \"1\" else []\n"
      "  out.append([s.title, s.max_row, s.max_column] + ([rows] if rows else []))\n"
      "print(json.dumps(out))",
      {path, cells ? "1" : "0"});
}

TEST(XlsxTest, HostileTextsReadBackExactlyAsText) {
  // Formulas, markup, control characters, the format's own escape syntax, edge spaces.
  TempDir dir;
  {
    CXlsxWorkbook book(dir.WFile("a.xlsx"));
    ASSERT_TRUE(book.Ok());
    int s = book.AddSheet(L"Sheet1");
    book.SetText(s, 0, 0, L"名称");
    book.SetText(s, 0, 1, L"=1+1");
    book.SetText(s, 0, 2, L"a\"b'c,\r\n\t😀<&>");
    book.SetText(s, 1, 1, L"\x01\x07\x1f|");  // (1,0) stays empty
    book.SetText(s, 2, 0, L"_x0041_ _x00_ _x005F_");
    book.SetText(s, 2, 1, L"  edge  ");
    book.SetText(s, 2, 2, L"1.5");
    EXPECT_FALSE(book.SetText(s, 1048576, 0, L"out of range"));
    EXPECT_FALSE(book.SetText(s, 0, 16384, L"out of range"));
    EXPECT_FALSE(book.SetText(s, 0, 0, L"row above the current one"));
    ASSERT_TRUE(book.Save());
  }
  EXPECT_EQ(ReadXlsx(dir.File("a.xlsx")),
            R"([["Sheet1", 3, 3, [["\u540d\u79f0", "=1+1", "a\"b'c,\r\n\t\ud83d\ude00<&>"], )"
            R"(["", "\u0001\u0007\u001f|", ""], ["_x0041_ _x00_ _x005F_", "  edge  ", "1.5"]]]])"
            "\n");
  // Nothing but the workbook is left in the folder.
  EXPECT_EQ(Python("import os,sys; print(sorted(os.listdir(sys.argv[1])))", {dir.File("")}),
            "['a.xlsx']\n");
}

TEST(XlsxTest, TextsPastTheCellLimitAreCutAsInXls) {
  TempDir dir;
  {
    CXlsxWorkbook book(dir.WFile("long.xlsx"));
    int s = book.AddSheet(L"Sheet1");
    book.SetText(s, 0, 0, std::wstring(40000, L'😀'));
    book.SetText(s, 1, 0, std::wstring(40000, L'x'));
    book.SetText(s, 2, 0, std::wstring(32767, L'y'));
    // Escaped underscores take room in the cell too: the text is cut, the file still saved.
    std::wstring escapes;
    for (int i = 0; i < 6000; ++i) escapes += L"_x0041_";
    book.SetText(s, 3, 0, escapes);
    ASSERT_TRUE(book.Save());
  }
  std::string check = Python(
      "import openpyxl,sys\n"
      "from openpyxl.utils.escape import unescape\n"
      "s = openpyxl.load_workbook(sys.argv[1]).active\n"
      "v = [unescape(s.cell(r, 1).value) for r in (1, 2, 3, 4)]\n"
      "print([len(t) for t in v], set(v[0]) == {chr(0x1f600)}, set(v[1]), set(v[2]), "
      "v[3] == (\"_x0041_\" * 6000)[:len(v[3])])",
      {dir.File("long.xlsx")});
  // 40000 emoji are 80000 UTF-16 units; the cell keeps 32766 (no half pair at the cut).
  // 32767 units hold 2520 escaped "_x0041_" of 13 units each and one more escaped "_".
  EXPECT_EQ(check, "[16383, 32767, 32767, 17641] True {'x'} {'y'} True\n");
}

TEST(XlsxTest, AFailedSaveLeavesTheOldFileAndNoTemporaryFile) {
  TempDir dir;
  test::WriteAll(dir.File("old.xlsx"), "old");
  {
    CXlsxWorkbook book(dir.WFile("old.xlsx"));
    book.AddSheet(L"Sheet1");
    book.SetText(0, 0, 0, L"never saved");
  }
  EXPECT_EQ(test::ReadAll(dir.File("old.xlsx")), "old");
  CXlsxWorkbook nowhere(dir.WFile("missing/folder/x.xlsx"));
  EXPECT_FALSE(nowhere.Ok());
  EXPECT_EQ(nowhere.AddSheet(L"Sheet1"), -1);
  EXPECT_FALSE(nowhere.Save());
  EXPECT_EQ(Python("import os,sys; print(sorted(os.listdir(sys.argv[1])))", {dir.File("")}),
            "['old.xlsx']\n");
}

TEST(XlsxExportTest, NumberColumnAndMoreThan65535RecordsOnOneSheet) {
  TempDir dir;
  CRecordList list;
  for (int i = 0; i < 70000; ++i) {
    list.Insert(std::make_unique<CRecord>(test::MakeRecord({L"r" + std::to_wstring(i), L""})));
  }
  std::vector<OutputColumn> cols = {{L"title", L"INNERTEXT"}, {L"empty", L"INNERTEXT"}};
  ASSERT_TRUE(ExportXlsx(dir.WFile("e.xlsx"), L"No.", cols, list, false));
  std::string edges = Python(
      "import openpyxl,sys\n"
      "b = openpyxl.load_workbook(sys.argv[1], read_only=True)\n"
      "rows = list(b.worksheets[0].iter_rows(values_only=True))\n"
      "print(b.sheetnames, len(rows), rows[0], rows[1], rows[70000])",
      {dir.File("e.xlsx")});
  EXPECT_EQ(edges,
            "['Sheet1'] 70001 ('No.', 'title', 'empty') ('1', 'r0', None) "
            "('70000', 'r69999', None)\n");
  // Fuller sheets continue on new ones, each with the header row.
  ASSERT_TRUE(ExportXlsx(dir.WFile("s.xlsx"), L"No.", cols, list, false, 30000));
  EXPECT_EQ(ReadXlsx(dir.File("s.xlsx"), false),
            R"([["Sheet1", 30001, 3], ["Sheet2", 30001, 3], ["Sheet3", 10001, 3]])"
            "\n");
}

TEST(XlsxExportTest, LinkedFilesBesideTheWorkbookAndAnUnwritablePath) {
  TempDir dir;
  CRecordList list;
  CRecord r = test::MakeRecord({L"a.jpg"});
  r.fields[0].linkedFiles.push_back({L"http://x/a.jpg", L"a.jpg", "JPEG"});
  list.Insert(std::make_unique<CRecord>(std::move(r)));
  std::vector<OutputColumn> cols = {{L"pic", L"LINKFILE"}};
  ASSERT_TRUE(ExportXlsx(dir.WFile("e.xlsx"), L"No.", cols, list, false));
  EXPECT_EQ(test::ReadAll(dir.File("images/a.jpg")), "JPEG");
  EXPECT_EQ(ReadXlsx(dir.File("e.xlsx")), R"([["Sheet1", 2, 2, [["No.", "pic"], ["1", "a.jpg"]]]])"
                                          "\n");
  // A path that names a folder cannot be written.
  EXPECT_FALSE(ExportXlsx(dir.WFile("images"), L"No.", cols, list, false));
}

TEST(XlsxOutputTest, AMillionRecordsStreamOntoASecondSheet) {
  // Rows go out as they come: the sheet limit is reached without the records being held.
  TempDir dir;
  test::RunFixture f(L"<task/>", {L"a", L"b"});
  CXlsxOutput out(dir.WFile("run.xlsx"));
  out.Open(f.run);
  const int total = kXlsxRecordsPerSheet + 2;
  CRecord record = test::MakeRecord({L"", L"x"});
  for (int i = 1; i <= total; ++i) {
    record.fields[0].text = std::to_wstring(i);
    out.Write(record, i);
  }
  EXPECT_FALSE(test::Exists(dir.File("run.xlsx")));
  out.Close();
  ASSERT_TRUE(out.Saved());
  std::string check = Python(
      "import openpyxl,sys\n"
      "b = openpyxl.load_workbook(sys.argv[1], read_only=True)\n"
      "a, z = b.worksheets\n"
      "print(b.sheetnames, a.max_row, list(z.iter_rows(values_only=True)))",
      {dir.File("run.xlsx")});
  EXPECT_EQ(check,
            "['Sheet1', 'Sheet2'] 1048576 [('a', 'b'), ('1048576', 'x'), ('1048577', 'x')]\n");
}

}  // namespace
}  // namespace gm
