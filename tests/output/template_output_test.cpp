#include "output/template_output.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "doc/text_codec.h"
#include "output_fixture.h"

namespace gm {
namespace {

using test::Exists;
using test::ReadAll;
using test::TempDir;

// A run of the template output over `s` with columns title, pic (LINKFILE), body (INNERHTML).
struct TemplateRun {
  TemplateRun(const FileOutputSettings& s, const std::string& base)
      : fixture(L"<task name=\"My:Task\"><savetofile></savetofile></task>",
                {L"title", L"pic:LINKFILE", L"body:INNERHTML"}),
        output(FromUtf8(base)) {
    WriteFileOutputSettings(s, fixture.doc.Find(L"task")->FindChild(L"savetofile"));
  }
  void Run(const std::vector<CRecord>& records) {
    output.Open(fixture.run);
    int n = 0;
    for (const CRecord& r : records) output.Write(r, ++n);
    output.Close();
  }
  test::RunFixture fixture;
  CTemplateOutput output;
};

CRecord Rec(const std::wstring& title, const std::wstring& pic = L"", const std::string& bytes = "",
            const std::wstring& body = L"") {
  CRecord r = test::MakeRecord({title, pic, body});
  if (!bytes.empty()) r.fields[1].linkedFiles.push_back({L"http://x/" + pic, pic, bytes});
  return r;
}

TEST(TemplateOutputTest, PerRecordFilesInEachEncoding) {
  struct Case {
    const wchar_t* encoding;
    std::string bytes;  // of the content "<$title$>!" for the title 中
  } cases[] = {
      {L"", "\xD6\xD0!"},
      {L"ANSI", "\xD6\xD0!"},
      {L"UTF-8", "\xEF\xBB\xBF\xE4\xB8\xAD!"},
      {L"Unicode", std::string("\xFF\xFE\x2D\x4E!\0", 6)},
      {L"unicode big endian", std::string("\xFE\xFF\x4E\x2D\0!", 6)},
  };
  for (const Case& c : cases) {
    TempDir dir;
    FileOutputSettings s;
    s.encoding = c.encoding;
    s.resultpath = L"out";  // relative: under the base folder
    s.saverecordfile = 1;
    s.perrecordname = L"<$RECORDNUM$>-<$title$>.txt";
    s.perrecordtmpl = L"<$title$>!";
    TemplateRun run(s, dir.path());
    run.Run({Rec(L"中")});
    EXPECT_EQ(ReadAll(dir.File("out/1-中.txt")), c.bytes) << ToUtf8(c.encoding);
  }
}

TEST(TemplateOutputTest, OverwriteRulesAndUnsafeNames) {
  TempDir dir;
  FileOutputSettings s;
  s.resultpath = FromUtf8(dir.path()) + L"\\res";  // either separator
  s.saverecordfile = 1;
  s.perrecordname = L"<$title$>.txt";
  s.perrecordtmpl = L"new <$title$>";
  ::mkdir(dir.File("res").c_str(), 0700);
  test::WriteAll(dir.File("res/keep.txt"), "old");
  TemplateRun run(s, "/nonexistent");
  run.Run({Rec(L"keep"), Rec(L"a/b:c")});
  EXPECT_EQ(ReadAll(dir.File("res/keep.txt")), "old");  // never replaced with overwrite 0
  EXPECT_EQ(ReadAll(dir.File("res/a#b#c.txt")), "new a/b:c");
  s.overwriterecordfile = 2;  // "append", stored as 2, replaces as 1 does
  TemplateRun again(s, "/nonexistent");
  again.Run({Rec(L"keep")});
  EXPECT_EQ(ReadAll(dir.File("res/keep.txt")), "new keep");
}

TEST(TemplateOutputTest, TaskFileCollectsRecordParts) {
  TempDir dir;
  FileOutputSettings s;
  s.encoding = L"UTF-8";
  s.resultpath = FromUtf8(dir.path());
  s.saverecordfile = 1;
  s.perrecordname = L"r<$RECORDNUM$>.txt";
  s.savetaskfile = 1;
  s.pertaskname = L"<$TASKNAME$>.txt";
  s.pertasktmpl = L"H <$TASKNAME$><$RECORDSTART$>[<$title$>:<$RECORDFILE$>]<$RECORDEND$> T";
  TemplateRun run(s, "/nonexistent");
  run.output.Open(run.fixture.run);
  run.output.Write(Rec(L"1"), 1);
  run.output.Write(Rec(L"2"), 2);
  EXPECT_FALSE(Exists(dir.File("My#Task.txt")));  // written when the run ends
  run.output.Close();
  EXPECT_EQ(ReadAll(dir.File("My#Task.txt")), "\xEF\xBB\xBFH My:Task[1:r1.txt][2:r2.txt] T");
  // A second run with overwrite 0 leaves the file as it was.
  run.Run({Rec(L"3")});
  EXPECT_EQ(ReadAll(dir.File("My#Task.txt")), "\xEF\xBB\xBFH My:Task[1:r1.txt][2:r2.txt] T");
}

TEST(TemplateOutputTest, LinkedFilesAndTheirPlaceholders) {
  TempDir dir;
  FileOutputSettings s;
  s.resultpath = FromUtf8(dir.path());
  s.downloadpath = L"\\img";  // a leading backslash: relative to the result folder
  s.saverecordfile = 1;
  s.perrecordname = L"<$pic.NAME$>.txt";
  s.perrecordtmpl = L"<$pic.NAME$>|<$pic.PATH$>|<$body$>|<$nothing$>";
  CRecord r = Rec(L"t", L"a/b:c.jpg", "JPEG", L"<img src=\"pic/x.png\">");
  r.fields[2].linkedFiles.push_back({L"pic/x.png", L"x.png", "PNG"});
  test::WriteAll(dir.File("keep"), "");
  ::mkdir(dir.File("img").c_str(), 0700);
  test::WriteAll(dir.File("img/x.png"), "EXISTING");
  TemplateRun run(s, "/nonexistent");
  run.Run({r});
  EXPECT_EQ(ReadAll(dir.File("img/a#b#c.jpg")), "JPEG");
  EXPECT_EQ(ReadAll(dir.File("img/x.png")), "EXISTING");  // never replaced
  EXPECT_EQ(ReadAll(dir.File("a#b#c.jpg.txt")),
            "a/b:c.jpg|img/a#b#c.jpg|<img src=\"img/x.png\">|<$nothing$>");
}

// Without a download folder the linked files go into the result folder, where the bare file
// names that the placeholders and the rewritten addresses give point to.
TEST(TemplateOutputTest, LinkedFilesWithoutADownloadFolderGoToTheResultFolder) {
  TempDir dir;
  FileOutputSettings s;
  s.resultpath = FromUtf8(dir.path());
  s.saverecordfile = 1;
  s.perrecordname = L"r.txt";
  s.perrecordtmpl = L"<$pic.PATH$>|<$body$>";
  CRecord r = Rec(L"t", L"p.jpg", "JPEG", L"<img src=\"pic/x.png\">");
  r.fields[2].linkedFiles.push_back({L"pic/x.png", L"x.png", "PNG"});
  TemplateRun run(s, "/nonexistent");
  run.Run({r});
  EXPECT_EQ(ReadAll(dir.File("r.txt")), "p.jpg|<img src=\"x.png\">");
  EXPECT_EQ(ReadAll(dir.File("p.jpg")), "JPEG");
  EXPECT_EQ(ReadAll(dir.File("x.png")), "PNG");
}

TEST(TemplateOutputTest, FullDiskLeavesNoHalfFiles) {
  test::SmallDisk disk;
  if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here";
  const std::string& mnt = disk.path();
  {
    FileOutputSettings s;
    s.resultpath = FromUtf8(mnt);
    s.saverecordfile = 1;
    s.perrecordname = L"<$RECORDNUM$>.txt";
    s.perrecordtmpl = L"<$title$>";
    TemplateRun run(s, "/nonexistent");
    std::vector<CRecord> records;
    for (int i = 0; i < 6; ++i) records.push_back(Rec(std::wstring(3000, L'x')));
    run.Run(records);
    for (int i = 1; i <= 6; ++i) {
      std::string f = mnt + "/" + std::to_string(i) + ".txt";
      if (Exists(f)) EXPECT_EQ(ReadAll(f).size(), 3000u) << f;
    }
    EXPECT_FALSE(Exists(mnt + "/6.txt"));
  }
}

TEST(TemplateExportTest, ChecksSubFoldersAndNoEscape) {
  FileOutputSettings s;
  s.saverecordfile = 1;
  EXPECT_STREQ(CheckExportSettings(s), L"MSGBOX_FILEDLG_RESULTPATHEMPTY");
  s.resultpath = L"x";
  EXPECT_STREQ(CheckExportSettings(s), L"MSGBOX_FILEDLG_RECORDFILEEMPTY");
  s.perrecordname = L"n";
  s.savetaskfile = 1;
  EXPECT_STREQ(CheckExportSettings(s), L"MSGBOX_FILEDLG_TASKFILEEMPTY");
  s.pertaskname = L"t";
  EXPECT_EQ(CheckExportSettings(s), nullptr);

  TempDir dir;
  s.resultpath = FromUtf8(dir.File("res"));
  s.perrecordname = L"<$title$>.txt";
  s.perrecordtmpl = L"<$RECORDNUM$>";
  s.savetaskfile = 0;
  CRecordList list;
  for (const wchar_t* t : {L"sub/a", L"../../escape", L"/abs"})
    list.Insert(std::make_unique<CRecord>(Rec(t)));
  std::vector<OutputColumn> cols = {{L"title", L"INNERTEXT"}, {L"pic", L"LINKFILE"}};
  EXPECT_EQ(ExportResults(s, L"task", cols, list), 3);
  EXPECT_EQ(ReadAll(dir.File("res/sub/a.txt")), "1");       // a slash makes a sub-folder
  EXPECT_EQ(ReadAll(dir.File("res/#/#/escape.txt")), "2");  // ".." never leaves the folder
  EXPECT_EQ(ReadAll(dir.File("res/abs.txt")), "3");
}

}  // namespace
}  // namespace gm
