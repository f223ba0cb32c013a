// The record store: kept records written through and read back by a new runner, the list's rules
// (length limit, replacement, clearing) followed in the file, the run journal, and a store that
// cannot be used (newer layout, damaged file, full disk) switching itself off without touching
// the file.
#include "engine/record_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "doc/file_util.h"
#include "doc/text_codec.h"
#include "site.h"

namespace gm {
namespace {

using test::CSite;
using test::CTaskHarness;
using test::ListTexts;
using test::RunToEnd;

// Six rows on one page, the second name twice.
void Serve(CSite* site) {
  std::string rows;
  for (const char* r : {"a|1", "b|2", "c|3", "b|4", "d|5", "e|6"}) {
    std::string s = r;
    rows += "<tr><td>" + s.substr(0, 1) + "</td><td>" + s.substr(2) + "</td></tr>";
  }
  site->Put("/list", "<html><body><table>" + rows + "</table></body></html>");
}

std::string Task(const std::string& attributes, const std::string& children = "") {
  return "<task name=\"s\" useiectrl=\"0\" " + attributes +
         "><address type=\"0\"><url>@SITE@/list</url></address>"
         "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\">"
         "<data name=\"name\" type=\"INNERTEXT\" path=\"@TD\"></data></location>"
         "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\">"
         "<data name=\"n\" type=\"INNERTEXT\" path=\"@TD#TD\"></data></location>" +
         children + "</task>";
}

class RecordStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = test::MakeTempFolder(); }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
  std::wstring Path() const { return FromUtf8(dir_ + "/records.db"); }
  std::string dir_;
};

TEST_F(RecordStoreTest, ANewRunnerReadsBackWhatTheListKeptUnderItsRules) {
  CSite site;
  Serve(&site);
  struct Case {
    const char* label;
    std::string task;
    size_t kept;
  } cases[] = {
      {"every record", Task(""), 6},
      {"length limit", Task("limitresult=\"1\" maxresult=\"3\""), 3},
      {"replacement by key", Task("ignorenewrecord=\"1\"", "<keycolumn>name</keycolumn>"), 5},
      {"sorted", Task("sortitem=\"name\" sorttype=\"1\""), 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    CRecordStore store(Path());
    ASSERT_TRUE(store.Ok()) << ToUtf8(store.Error());
    std::wstring id = FromUtf8(c.label);
    std::unique_ptr<CTaskStore> part = store.ForTask(id);
    std::vector<std::vector<std::wstring>> first;
    {
      CTaskHarness run(c.task, site, nullptr, true, part.get());
      ASSERT_TRUE(RunToEnd(*run.runner));
      first = ListTexts(*run.runner);
      ASSERT_EQ(first.size(), c.kept);
    }
    EXPECT_EQ(store.CountRecords(id), static_cast<long long>(c.kept));
    CTaskHarness again(c.task, site, nullptr, true, part.get());
    again.runner->LoadStoredRecords();
    EXPECT_EQ(ListTexts(*again.runner), first);
    // A finished run leaves nothing to continue; clearing empties the task's part.
    EXPECT_FALSE(again.runner->CanContinue());
    ASSERT_TRUE(again.runner->TryAcquireRunLock());
    again.runner->ClearRecords();
    again.runner->ReleaseRunLock();
    EXPECT_EQ(store.CountRecords(id), 0);
  }
}

TEST_F(RecordStoreTest, TheJournalContinuesOnlyTheSameDefinition) {
  CRecordStore store(Path());
  std::unique_ptr<CTaskStore> j = store.ForTask(L"t");
  EXPECT_FALSE(j->Begin("def", true).continuing);  // nothing on record: a fresh run
  // Stopped before the outputs' positions were on record: nothing to continue.
  EXPECT_EQ(j->LastRunOnRecord().state, LastRun::kUnstarted);
  EXPECT_FALSE(j->Interrupted());
  EXPECT_FALSE(j->Begin("def", true).continuing);
  j->SetCheckpoint("0");
  CRecord r;
  r.fields.resize(1);
  r.fields[0].text = L"x";
  int64_t id = 0;
  ASSERT_TRUE(j->Claim(0, L"a"));
  ASSERT_TRUE(j->Commit(r, "0:k:0", {}, &id));
  j->Finish(0, "10");
  ASSERT_TRUE(j->Claim(1, L"b"));
  ASSERT_TRUE(j->Commit(r, "1:k:0", {}, &id));
  EXPECT_TRUE(j->Interrupted());

  JournalStart s = j->Begin("def", true);
  EXPECT_TRUE(s.continuing);
  EXPECT_EQ(s.finished, 1);
  EXPECT_EQ(s.checkpoint, "10");
  EXPECT_EQ(s.committedInWork, 1);
  EXPECT_TRUE(j->Claim(0, L"a changed address"));  // not the address that was finished
  EXPECT_FALSE(j->Claim(0, L"a"));
  EXPECT_TRUE(j->Claim(1, L"b"));
  EXPECT_TRUE(j->HasKey("1:k:0"));
  EXPECT_FALSE(j->HasKey("0:k:0"));  // keys of finished addresses are gone

  JournalStart changed = j->Begin("other", true, "out.csv");
  EXPECT_FALSE(changed.continuing);
  EXPECT_TRUE(changed.definitionChanged);
  EXPECT_EQ(j->LastRunOnRecord().outputs, "out.csv");
  EXPECT_TRUE(j->Claim(0, L"a"));
  j->Complete();
  EXPECT_FALSE(j->Interrupted());
  // The end is on record: a continuation asked for now has nothing left.
  LastRun ended = j->LastRunOnRecord();
  EXPECT_EQ(ended.state, LastRun::kEnded);
  EXPECT_EQ(ended.definition, "other");
  ASSERT_EQ(store.Tasks().size(), 1u);
  EXPECT_EQ(store.Tasks()[0].records, 2);
  j->DeleteTask();
  EXPECT_EQ(j->LastRunOnRecord().state, LastRun::kNone);
  EXPECT_TRUE(store.Tasks().empty());
}

// A store that cannot be used says so once, and its file keeps every byte.
TEST_F(RecordStoreTest, AnUnusableFileIsLeftAsItIs) {
  struct Case {
    const char* label;
    std::string make;  // python that prepares the file
    const char* says;
  } cases[] = {
      {"newer layout",
       "import sqlite3,sys\nc=sqlite3.connect(sys.argv[1])\nc.execute('create table x(y)')\n"
       "c.execute('pragma user_version=7')\nc.commit()",
       "newer version"},
      {"not a database", "import sys\nopen(sys.argv[1],'wb').write(b'not sqlite at all, ' * 300)",
       "cannot be read"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::string file = dir_ + "/bad.db", py = dir_ + "/make.py";
    std::ofstream(py) << c.make;
    ASSERT_EQ(std::system(("/usr/bin/python3 " + py + " " + file).c_str()), 0);
    std::string before;
    ASSERT_TRUE(ReadFileBytes(FromUtf8(file), &before));
    {
      CRecordStore store(FromUtf8(file));
      EXPECT_FALSE(store.Ok());
      EXPECT_NE(store.Error().find(FromUtf8(c.says)), std::wstring::npos) << ToUtf8(store.Error());
      // A runner over it keeps its records in memory.
      std::unique_ptr<CTaskStore> part = store.ForTask(L"t");
      CSite site;
      Serve(&site);
      CTaskHarness run(Task(""), site, nullptr, true, part.get());
      ASSERT_TRUE(RunToEnd(*run.runner));
      EXPECT_EQ(ListTexts(*run.runner).size(), 6u);
    }
    std::string after;
    ASSERT_TRUE(ReadFileBytes(FromUtf8(file), &after));
    EXPECT_TRUE(after == before);
    std::remove(file.c_str());
  }
}

// A full disk (a file size limit, in a child process): the write that fails is rolled back, the
// store switches off with a message, and what was committed before stays readable.
TEST_F(RecordStoreTest, AFullDiskSwitchesTheStoreOffAndKeepsWhatWasCommitted) {
  const std::wstring path = Path();
  {
    CRecordStore store(path);  // made at full size first
    ASSERT_TRUE(store.Ok());
  }
  pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit rl = {256 * 1024, 256 * 1024};
    setrlimit(RLIMIT_FSIZE, &rl);
    CRecordStore store(path);
    std::unique_ptr<CTaskStore> part = store.ForTask(L"t");
    CRecord r;
    r.fields.resize(1);
    r.fields[0].text = std::wstring(2000, L'x');
    int64_t id;
    int committed = 0;
    for (int i = 0; i < 2000 && part->Commit(r, "", {}, &id); ++i) {
      store.Drain();
      if (store.Ok()) committed = i + 1;
    }
    bool said = store.Error().find(L"could not be written") != std::wstring::npos;
    _exit(!store.Ok() && said && committed > 10 && committed < 2000 ? 0 : 1);
  }
  int st = 0;
  ASSERT_EQ(waitpid(pid, &st, 0), pid);
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 0);
  CRecordStore store(path);
  ASSERT_TRUE(store.Ok()) << ToUtf8(store.Error());
  long long n = store.CountRecords(L"t");
  EXPECT_GT(n, 10);
  EXPECT_EQ(static_cast<long long>(store.ForTask(L"t")->LoadRecords().size()), n);
}

}  // namespace
}  // namespace gm
