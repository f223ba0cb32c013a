#include <gtest/gtest.h>

#include "doc/text_codec.h"
#include "output/xls_export.h"
#include "output_fixture.h"

namespace gm {
namespace {

using test::Python;
using test::TempDir;

// Every sheet as [name, rows, columns, [[cell texts]]] read by xlrd, as JSON (ASCII escapes).
std::string ReadXls(const std::string& path, bool cells = true) {
  return Python(
      "import xlrd,sys,json\n"
      "b = xlrd.open_workbook(sys.argv[1])\n"
      "out = []\n"
      "for s in b.sheets():\n"
      "  rows = [[s.cell_value(r, c) for c in range(s.ncols)] for r in range(s.nrows)]\n"
      "  out.append([s.name, s.nrows, s.ncols] + ([rows] if sys.argv[2] == \"1\" else []))\n"
      "print(json.dumps(out))",
      {path, cells ? "1" : "0"});
}

TEST(XlsTest, TextCellsReadBackExactlyByXlrd) {
  TempDir dir;
  CXlsWorkbook book;
  int s = book.AddSheet(L"Sheet1");
  book.SetText(s, 0, 0, L"名称");
  book.SetText(s, 0, 1, L"a\"b'c,\r\n😀");
  book.SetText(s, 1, 1, L"x");  // (1,0) stays empty
  book.SetText(s, 2, 0, L"x");
  EXPECT_FALSE(book.SetText(s, 65536, 0, L"out of range"));
  EXPECT_FALSE(book.SetText(s, 0, 256, L"out of range"));
  ASSERT_TRUE(book.Save(dir.WFile("a.xls")));
  EXPECT_EQ(
      ReadXls(dir.File("a.xls")),
      R"([["Sheet1", 3, 2, [["\u540d\u79f0", "a\"b'c,\r\n\ud83d\ude00"], ["", "x"], ["x", ""]]]])"
      "\n");
}

TEST(XlsTest, LongTextsAcrossContinueRecordsAndABigFile) {
  // Strings that straddle record boundaries in both storage widths, the longest cell the
  // format allows, and a file large enough to need more than 109 allocation-table sectors.
  TempDir dir;
  CXlsWorkbook book;
  int s = book.AddSheet(L"Sheet1");
  std::vector<std::wstring> texts;
  for (int i = 0; i < 300; ++i) {
    wchar_t base = (i % 2) ? L'中' : L'a';
    std::wstring t = std::to_wstring(i) + std::wstring(3000 + 97 * i, wchar_t(base + i % 7));
    texts.push_back(t);
    book.SetText(s, i, 0, t);
  }
  std::wstring longest(40000, L'😀');
  book.SetText(s, 300, 0, longest);
  ASSERT_TRUE(book.Save(dir.WFile("big.xls")));
  std::string check = Python(
      "import xlrd,sys\n"
      "s = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)\n"
      "v = [s.cell_value(r, 0) for r in range(s.nrows)]\n"
      "ok = all(v[i] == str(i) + chr((0x4e2d if i % 2 else 0x61) + i % 7) * (3000 + 97 * i) "
      "for i in range(300))\n"
      "print(ok, s.nrows, len(v[300]), v[300][:1] == chr(0x1f600))",
      {dir.File("big.xls")});
  // 40000 emoji are 80000 UTF-16 units; the cell keeps 32766 (no half pair at the cut).
  EXPECT_EQ(check, "True 301 16383 True\n");
}

TEST(XlsExportTest, NumberColumnHeaderAndSheetsOfAtMost65535Records) {
  TempDir dir;
  CRecordList list;
  for (int i = 0; i < 70000; ++i) {
    list.Insert(std::make_unique<CRecord>(test::MakeRecord({L"r" + std::to_wstring(i), L""})));
  }
  std::vector<OutputColumn> cols = {{L"title", L"INNERTEXT"}, {L"empty", L"INNERTEXT"}};
  ASSERT_TRUE(ExportXls(dir.WFile("e.xls"), L"No.", cols, list, false));
  EXPECT_EQ(ReadXls(dir.File("e.xls"), false), R"([["Sheet1", 65536, 3], ["Sheet2", 4466, 3]])"
                                               "\n");
  std::string edges = Python(
      "import xlrd,sys\n"
      "b = xlrd.open_workbook(sys.argv[1])\n"
      "a, z = b.sheet_by_index(0), b.sheet_by_index(1)\n"
      "print(a.row_values(0), a.row_values(1), a.row_values(65535), z.row_values(0), "
      "z.row_values(4465))",
      {dir.File("e.xls")});
  EXPECT_EQ(edges,
            "['No.', 'title', 'empty'] ['1', 'r0', ''] ['65535', 'r65534', ''] "
            "['No.', 'title', 'empty'] ['70000', 'r69999', '']\n");
}

TEST(XlsExportTest, LinkedFilesBesideTheWorkbookAndAnUnwritablePath) {
  TempDir dir;
  CRecordList list;
  CRecord r = test::MakeRecord({L"a.jpg"});
  r.fields[0].linkedFiles.push_back({L"http://x/a.jpg", L"a.jpg", "JPEG"});
  list.Insert(std::make_unique<CRecord>(std::move(r)));
  std::vector<OutputColumn> cols = {{L"pic", L"LINKFILE"}};
  ASSERT_TRUE(ExportXls(dir.WFile("e.xls"), L"No.", cols, list, false));
  EXPECT_EQ(test::ReadAll(dir.File("images/a.jpg")), "JPEG");
  // A path that names a folder cannot be written.
  EXPECT_FALSE(ExportXls(dir.WFile("images"), L"No.", cols, list, false));
}

TEST(XlsOutputTest, RunRecordsWrittenWhenTheRunCloses) {
  TempDir dir;
  test::RunFixture f(L"<task/>", {L"a", L"b"});
  CXlsOutput out(dir.WFile("run.xls"));
  out.Open(f.run);
  out.Write(test::MakeRecord({L"1", L"x"}), 1);
  out.Write(test::MakeRecord({L"2", L"y"}), 2);
  EXPECT_FALSE(test::Exists(dir.File("run.xls")));
  out.Close();
  EXPECT_TRUE(out.Saved());
  EXPECT_EQ(ReadXls(dir.File("run.xls")),
            R"([["Sheet1", 3, 2, [["a", "b"], ["1", "x"], ["2", "y"]]]])"
            "\n");
}

}  // namespace
}  // namespace gm
