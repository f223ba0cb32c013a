#include "output/csv_output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include "doc/text_codec.h"
#include "output/output_columns.h"
#include "output_fixture.h"

namespace gm {
namespace {

using test::Python;
using test::ReadAll;
using test::RunFixture;
using test::TempDir;

std::wstring CsvTask(const std::string& file, const std::wstring& encoding, int option) {
  return L"<task name=\"t\"><savetoxls enable=\"1\" excelfile=\"" + FromUtf8(file) +
         L"\" encoding=\"" + encoding + L"\" option=\"" + std::to_wstring(option) + L"\"/></task>";
}

TEST(CsvWriterTest, FourEncodingsByteByByte) {
  struct Case {
    const wchar_t* name;
    std::string bytes;  // mark, field a"b, separator, empty field, line end
  } cases[] = {
      {L"ANSI", std::string("\"a\"\"b\",\"\"\r\n")},
      {L"utf-8", std::string("\xEF\xBB\xBF\"a\"\"b\",\"\"\r\n")},
      {L"Unicode", std::string("\xFF\xFE\"\0a\0\"\0\"\0b\0\"\0,\0\"\0\"\0\r\0\n\0", 24)},
      {L"unicode BIG endian", std::string("\xFE\xFF\0\"\0a\0\"\0\"\0b\0\"\0,\0\"\0\"\0\r\0\n", 24)},
      {L"no such name", std::string("\"a\"\"b\",\"\"\r\n")},
  };
  for (const Case& c : cases) {
    TempDir dir;
    CCsvWriter w;
    ASSERT_TRUE(w.Open(dir.WFile("x.csv"), CCsvWriter::OpenMode::kTruncate));
    w.SetEncoding(c.name);
    w.WriteMark();
    w.WriteField(L"a\"b");
    w.WriteSeparator();
    w.WriteField(L"");
    w.WriteLineEnd();
    ASSERT_TRUE(w.Close());
    EXPECT_EQ(ReadAll(dir.File("x.csv")), c.bytes) << ToUtf8(c.name);
  }
}

TEST(CsvWriterTest, AnsiUsesTheLegacyCodePage) {
  // 中 is D6 D0 in the default code page 936.
  EXPECT_EQ(CCsvWriter::EncodeField(L"中", CsvEncoding::kAnsi), "\"\xD6\xD0\"");
}

// The task's CSV file in the legacy code page: a value it cannot hold is said on the run's status
// line at once (with the value) and with the count at the end; UTF-8 says nothing.
TEST(CsvOutputTest, ValuesTheCodePageCannotHoldAreReported) {
  for (const wchar_t* encoding : {L"ANSI", L"UTF-8"}) {
    TempDir dir;
    RunFixture f(CsvTask(dir.File("out.csv"), encoding, 1), {L"title", L"price"});
    CCsvOutput out(false);
    out.Open(f.run);
    out.Write(test::MakeRecord({L"中", L"\u00a55"}), 1);
    out.Write(test::MakeRecord({L"x", L"1"}), 2);
    out.Write(test::MakeRecord({L"\u00a5\u20ac", L"\u00a57"}), 3);
    out.Close();
    if (std::wstring(encoding) == L"UTF-8") {
      EXPECT_TRUE(f.reports.empty());
      continue;
    }
    ASSERT_EQ(f.reports.size(), 2u);
    EXPECT_NE(f.reports[0].find(L"1 value(s) hold characters"), std::wstring::npos);
    EXPECT_NE(f.reports[0].find(L"The first: \u00a55 (more may follow)"), std::wstring::npos)
        << ToUtf8(f.reports[0]);
    EXPECT_NE(f.reports[1].find(L"3 value(s) hold characters"), std::wstring::npos)
        << ToUtf8(f.reports[1]);
  }
}

// What Python's csv module reads from a file in the given Python codec.
std::string ReadWithPython(const std::string& path, const std::string& codec) {
  return Python(
      "import csv,sys,json\n"
      "with open(sys.argv[1], newline=\"\", encoding=sys.argv[2]) as f:\n"
      "  print(json.dumps(list(csv.reader(f)), ensure_ascii=True))",
      {path, codec});
}

TEST(CsvOutputTest, RunRowsReadBackByPythonInEachEncoding) {
  struct Case {
    const wchar_t* encoding;
    const char* codec;
  } cases[] = {{L"UTF-8", "utf-8-sig"}, {L"Unicode", "utf-16"}, {L"Unicode big endian", "utf-16"}};
  const std::wstring hostile = L"a,\"b\"\r\nc\td 😀 中";
  for (const Case& c : cases) {
    TempDir dir;
    RunFixture f(CsvTask(dir.File("out.csv"), c.encoding, 0), {L"title", L"price"});
    CCsvOutput out(false);
    out.Open(f.run);
    ASSERT_TRUE(out.IsOpen());
    out.Write(test::MakeRecord({hostile, L""}), 1);
    // While the run goes on, the file already holds the record.
    std::string during = ReadWithPython(dir.File("out.csv"), c.codec);
    out.Write(test::MakeRecord({L"x", L"12"}), 2);
    out.Close();
    EXPECT_EQ(during, R"([["title", "price"], ["a,\"b\"\r\nc\td \ud83d\ude00 \u4e2d", ""]])"
                      "\n");
    EXPECT_EQ(ReadWithPython(dir.File("out.csv"), c.codec),
              R"([["title", "price"], ["a,\"b\"\r\nc\td \ud83d\ude00 \u4e2d", ""], ["x", "12"]])"
              "\n")
        << ToUtf8(c.encoding);
  }
}

TEST(CsvOutputTest, AppendKeepsTheFileOverwriteStartsAgain) {
  TempDir dir;
  std::string path = dir.File("out.csv");
  for (int run = 0; run < 2; ++run) {
    RunFixture f(CsvTask(path, L"UTF-8", 0), {L"a"});
    CCsvOutput out(false);
    out.Open(f.run);
    out.Write(test::MakeRecord({L"r" + std::to_wstring(run)}), 1);
    out.Close();
  }
  // Option 0: one mark, one header, the rows of both runs.
  EXPECT_EQ(ReadAll(path), "\xEF\xBB\xBF\"a\"\r\n\"r0\"\r\n\"r1\"\r\n");
  RunFixture f(CsvTask(path, L"UTF-8", 1), {L"a"});
  CCsvOutput out(false);
  out.Open(f.run);
  out.Write(test::MakeRecord({L"r2"}), 1);
  out.Close();
  EXPECT_EQ(ReadAll(path), "\xEF\xBB\xBF\"a\"\r\n\"r2\"\r\n");
}

TEST(CsvOutputTest, DisabledMissingOrHeldFileWritesNothing) {
  TempDir dir;
  std::string path = dir.File("out.csv");
  {
    RunFixture f(L"<task><savetoxls enable=\"0\" excelfile=\"" + FromUtf8(path) + L"\"/></task>",
                 {L"a"});
    CCsvOutput out(false);
    out.Open(f.run);
    EXPECT_FALSE(out.IsOpen());
  }
  {
    RunFixture f(CsvTask(dir.File("no/such/folder/x.csv"), L"ANSI", 0), {L"a"});
    CCsvOutput out(false);
    out.Open(f.run);
    EXPECT_FALSE(out.IsOpen());
    out.Write(test::MakeRecord({L"x"}), 1);  // nothing happens, nothing breaks
  }
  // A second task naming the file of a running one does not open it, and does not empty it.
  RunFixture first(CsvTask(path, L"ANSI", 0), {L"a"});
  CCsvOutput a(false);
  a.Open(first.run);
  a.Write(test::MakeRecord({L"1"}), 1);
  RunFixture second(CsvTask(path, L"ANSI", 1), {L"a"});
  CCsvOutput b(false);
  b.Open(second.run);
  EXPECT_FALSE(b.IsOpen());
  a.Write(test::MakeRecord({L"2"}), 2);
  a.Close();
  EXPECT_EQ(ReadAll(path), "\"a\"\r\n\"1\"\r\n\"2\"\r\n");
}

TEST(CsvOutputTest, LinkedFilesGoToImagesAndTheFieldPointsAtThem) {
  struct Case {
    bool subfolder;
    std::string rel;
  } cases[] = {{false, "images/a.jpg"}, {true, "images/Item# 1#2/a.jpg"}};
  for (const Case& c : cases) {
    TempDir dir;
    RunFixture f(CsvTask(dir.File("out.csv"), L"UTF-8", 0), {L"name", L"body:INNERHTML"});
    CRecord r = test::MakeRecord({L"Item: 1/2", L"<img src=\"pic/a.jpg\">"});
    r.fields[1].linkedFiles.push_back({L"pic/a.jpg", L"a.jpg", "JPEG"});
    if (c.subfolder) test::WriteAll(dir.File("dummy"), "");
    CCsvOutput out(c.subfolder);
    out.Open(f.run);
    out.Write(r, 1);
    // A second record with the same file name finds it there and leaves it alone.
    r.fields[1].linkedFiles[0].bytes = "OTHER";
    out.Write(r, 2);
    out.Close();
    EXPECT_EQ(ReadAll(dir.File(c.rel)), "JPEG");
    std::string expected_row = "\"Item: 1/2\",\"<img src=\"\"" + c.rel + "\"\">\"\r\n";
    std::string csv = ReadAll(dir.File("out.csv"));
    EXPECT_NE(csv.find(expected_row + expected_row), std::string::npos) << csv;
  }
}

TEST(CsvOutputTest, FullDiskIsReportedOnceAndLeavesWholeRows) {
  test::SmallDisk disk;
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here";
  const std::string& mnt = disk.path();
  {
    RunFixture f(CsvTask(mnt + "/out.csv", L"UTF-8", 1), {L"a"});
    CCsvOutput out(false);
    out.Open(f.run);
    ASSERT_TRUE(out.IsOpen());
    std::wstring text(1000, L'x');
    for (int i = 0; i < 40; ++i) out.Write(test::MakeRecord({text}), i + 1);
    out.Close();
    EXPECT_EQ(f.reports.size(), 1u);
    std::string csv = ReadAll(mnt + "/out.csv");
    // Every row in the file is complete.
    EXPECT_EQ((csv.size() - 3 - 5) % 1004, 0u) << csv.size();
  }
}

TEST(CsvExportTest, WholeListInTheChosenEncoding) {
  TempDir dir;
  CRecordList list;
  list.Insert(std::make_unique<CRecord>(test::MakeRecord({L"1", L"a"})));
  list.Insert(std::make_unique<CRecord>(test::MakeRecord({L"2", L""})));
  test::WriteAll(dir.File("e.csv"), "old content that is replaced");
  std::vector<OutputColumn> cols = {{L"n", L"INNERTEXT"}, {L"t", L"INNERTEXT"}};
  ASSERT_TRUE(ExportCsv(dir.WFile("e.csv"), L"Unicode", cols, list, false));
  EXPECT_EQ(ReadWithPython(dir.File("e.csv"), "utf-16"), R"([["n", "t"], ["1", "a"], ["2", ""]])"
                                                         "\n");
  EXPECT_FALSE(ExportCsv(dir.WFile("missing/e.csv"), L"UTF-8", cols, list, false));
}

}  // namespace
}  // namespace gm
