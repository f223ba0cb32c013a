// gleanmark-cli run with every output a task can enable, and the other --format choices, read
// back by Python's json, csv, sqlite3, xlrd and openpyxl; gleanmark-cli db test.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "run_cli.h"
#include "site.h"
#include "test_server.h"

namespace gm {
namespace {

using testing::RunCli;
using testing::Slurp;

std::string Python(const std::string& dir, const std::string& script, const std::string& arg) {
  std::ofstream(dir + "/s.py") << script;
  std::string out = dir + "/s.txt";
  std::system(("/usr/bin/python3 '" + dir + "/s.py' '" + arg + "' > '" + out + "' 2>&1").c_str());
  return Slurp(out);
}

class OutputCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::MakeTempFolder();
    site_.Put("/a",
              "<html><body><table><tr><td>alpha</td><td>1</td><td>x</td></tr>"
              "<tr><td>beta</td><td>2</td><td>y</td></tr></table></body></html>");
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  // Two items share the name "name"; the task enables its CSV file, text files, web output and
  // an SQLite database.
  std::string Task(const std::string& web_url) {
    std::string task =
        "<task name=\"out\" useiectrl=\"0\"><address type=\"0\"><url>" + site_.Url("/a") +
        "</url></address>"
        "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\">"
        "<data name=\"name\" type=\"INNERTEXT\" path=\"@TD\"></data>"
        "<data name=\"price\" type=\"INNERTEXT\" path=\"@TD#TD\"></data>"
        "<data name=\"name\" type=\"INNERTEXT\" path=\"@TD#TD#TD\"></data></location>"
        "<savetoxls enable=\"1\" excelfile=\"" +
        dir_ +
        "/auto.csv\" encoding=\"UTF-8\" "
        "option=\"1\"></savetoxls>"
        "<savetofile saverecordfile=\"1\"><resultpath>" +
        dir_ +
        "/files</resultpath>"
        "<perrecordname>&lt;$RECORDNUM$&gt;.txt</perrecordname>"
        "<perrecordtmpl>&lt;$name$&gt;=&lt;$price$&gt;</perrecordtmpl></savetofile>"
        "<savetoweb enable=\"1\" postmethod=\"0\"><posturl>" +
        web_url +
        "</posturl>"
        "<senddata name=\"p\" value=\"&lt;$price$&gt;\"></senddata></savetoweb>"
        "<savetodb enable=\"1\"><dbms>SQLITE</dbms><dbfile>" +
        dir_ +
        "/t.db</dbfile>"
        "<tablename>goods</tablename><datamap field=\"n\" value=\"&lt;$name$&gt;\"></datamap>"
        "<datamap field=\"p\" value=\"&lt;$price$&gt;\"></datamap></savetodb></task>";
    std::string path = dir_ + "/task.xml";
    std::ofstream(path) << task;
    return path;
  }

  test::CSite site_;
  std::string dir_;
};

TEST_F(OutputCliTest, EveryOutputOfTheTaskAndUniqueJsonKeys) {
  test::CTestServer web(test::CTestServer::Always("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"));
  std::string task = Task(web.Url("/in"));
  std::system(("/usr/bin/python3 -c 'import sqlite3; sqlite3.connect(\"" + dir_ +
               "/t.db\").execute(\"create table goods(n, p)\")'")
                  .c_str());
  auto r = RunCli({"run", task, "--format", "jsonl"}, {"XDG_DATA_HOME=" + dir_});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\"name\":\"alpha\",\"price\":\"1\",\"name_2\":\"x\"}\n"
            "{\"name\":\"beta\",\"price\":\"2\",\"name_2\":\"y\"}\n");
  EXPECT_EQ(Python(dir_,
                   "import csv,sys\nprint(list(csv.reader(open(sys.argv[1], newline=\"\", "
                   "encoding=\"utf-8-sig\"))))",
                   dir_ + "/auto.csv"),
            "[['name', 'price', 'name'], ['alpha', '1', 'x'], ['beta', '2', 'y']]\n");
  // Two items named "name": the placeholder takes the first one's text.
  EXPECT_EQ(Slurp(dir_ + "/files/1.txt"), "alpha=1");
  EXPECT_EQ(Slurp(dir_ + "/files/2.txt"), "beta=2");
  ASSERT_EQ(web.requests().size(), 2u);
  EXPECT_NE(web.requests()[1].find("\r\n\r\np=2"), std::string::npos);
  EXPECT_EQ(Python(dir_,
                   "import sqlite3,sys\nprint(sqlite3.connect(sys.argv[1]).execute(\"select n, p "
                   "from goods\").fetchall())",
                   dir_ + "/t.db"),
            "[('alpha', '1'), ('beta', '2')]\n");
}

TEST_F(OutputCliTest, WorkbookAndSqliteFormats) {
  std::string task = Task("http://127.0.0.1:1/");
  auto x =
      RunCli({"run", task, "--format", "xls", "--out", dir_ + "/r.xls", "--verbose"},
             {"XDG_DATA_HOME=" + dir_});
  // The web output and the database table of the task fail: the workbook is written, and the
  // run says which outputs lost how many records and ends with status 3.
  ASSERT_EQ(x.status, 3) << x.err;
  EXPECT_NE(x.err.find("the task's web output lost 2 record(s)"), std::string::npos) << x.err;
  EXPECT_NE(x.err.find("the task's database lost 2 record(s)"), std::string::npos) << x.err;
  EXPECT_EQ(Python(dir_,
                   "import xlrd,sys\ns = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)\n"
                   "print([s.row_values(i) for i in range(s.nrows)])",
                   dir_ + "/r.xls"),
            "[['name', 'price', 'name'], ['alpha', '1', 'x'], ['beta', '2', 'y']]\n");
  EXPECT_NE(x.err.find("Web output"), std::string::npos) << x.err;  // a status text
  auto w = RunCli({"run", task, "--format", "xlsx", "--out", dir_ + "/r.xlsx"},
                  {"XDG_DATA_HOME=" + dir_});
  ASSERT_EQ(w.status, 3) << w.err;
  // Without --verbose the outputs' problems are still told.
  EXPECT_NE(w.err.find("Web output: the request to http://127.0.0.1:1/ failed"), std::string::npos)
      << w.err;
  EXPECT_EQ(w.err.find("Downloading"), std::string::npos) << w.err;  // no other status text
  EXPECT_EQ(Python(dir_,
                   "import openpyxl,sys\ns = openpyxl.load_workbook(sys.argv[1]).active\n"
                   "print(list(s.iter_rows(values_only=True)))",
                   dir_ + "/r.xlsx"),
            "[('name', 'price', 'name'), ('alpha', '1', 'x'), ('beta', '2', 'y')]\n");
  auto q = RunCli({"run", task, "--format", "sqlite", "--out", dir_ + "/r.db"},
                  {"XDG_DATA_HOME=" + dir_});
  ASSERT_EQ(q.status, 3) << q.err;
  EXPECT_EQ(Python(dir_,
                   "import sqlite3,sys\nprint(sqlite3.connect(sys.argv[1]).execute(\"select * "
                   "from records\").fetchall())",
                   dir_ + "/r.db"),
            "[('alpha', '1', 'x'), ('beta', '2', 'y')]\n");
  EXPECT_EQ(RunCli({"run", task, "--format", "xls"}).status, 1);  // needs --out
  EXPECT_EQ(RunCli({"run", task, "--format", "xlsx", "--resume"}).status, 1);
}

// A task over six records with one output (`output`, in task text form).
std::string SixRecordTask(const test::CSite& site, const std::string& dir,
                          const std::string& output) {
  std::string task = "<task name=\"six\" useiectrl=\"0\"><address type=\"0\"><url>" +
                     site.Url("/six") +
                     "</url></address>"
                     "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\">"
                     "<data name=\"name\" type=\"INNERTEXT\" path=\"@TD\"></data></location>" +
                     output + "</task>";
  std::string path = dir + "/six.xml";
  std::ofstream(path) << task;
  return path;
}

// Ctrl-C while an output of the task waits for something that does not come (a web server that
// accepts and never answers, an SQLite file that another program keeps locked): the wait is
// given up, the run ends within a few seconds instead of the time-outs of every record (30 s a
// request, 5 s a row), and the records that were not written are reported as lost.
TEST_F(OutputCliTest, CtrlCEndsTheWaitOfAnOutput) {
  std::string rows;
  for (int i = 1; i <= 6; ++i) rows += "<tr><td>r" + std::to_string(i) + "</td></tr>";
  site_.Put("/six", "<html><body><table>" + rows + "</table></body></html>");
  test::CTestServer silent([](test::CTestConn& c) {
    std::string request;
    if (c.ReadRequest(&request)) c.HoldUntilStopped();
  });
  const std::string db = dir_ + "/locked.db", locked = dir_ + "/locked";
  struct Case {
    const char* label;
    std::string output;
    std::string lost_line;
  };
  const Case cases[] = {
      {"web", "<savetoweb enable=\"1\" postmethod=\"0\"><posturl>" + silent.Url("/in") +
                  "</posturl><senddata name=\"n\" value=\"&lt;$name$&gt;\"></senddata>"
                  "</savetoweb>",
       "the task's web output lost 1 record(s)"},
      {"sqlite",
       "<savetodb enable=\"1\"><dbms>SQLITE</dbms><dbfile>" + db +
           "</dbfile><tablename>goods</tablename>"
           "<datamap field=\"n\" value=\"&lt;$name$&gt;\"></datamap></savetodb>",
       "the task's database lost 6 record(s)"},
  };
  // Another program holds the database's write lock for a minute.
  std::ofstream(dir_ + "/lock.py")
      << "import sqlite3,sys,time\n"
         "c = sqlite3.connect(sys.argv[1], isolation_level=None)\n"
         "c.execute('pragma journal_mode=wal')\n"
         "c.execute('create table goods(n)')\n"
         "c.execute('begin immediate')\n"
         "c.execute('insert into goods values(0)')\n"
         "open(sys.argv[2], 'w').close()\n"
         "time.sleep(60)\n";
  pid_t holder = fork();
  if (holder == 0) {
    execl("/usr/bin/python3", "python3", (dir_ + "/lock.py").c_str(), db.c_str(), locked.c_str(),
          (char*)nullptr);
    _exit(127);
  }
  ASSERT_TRUE(test::WaitFor([&] { return access(locked.c_str(), F_OK) == 0; },
                            std::chrono::seconds(30)));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::string task = SixRecordTask(site_, dir_, c.output), err = dir_ + "/err.txt";
    const size_t served = site_.Requested().size();
    pid_t cli = testing::StartProgram(GM_CLI, {"run", task}, {"XDG_DATA_HOME=" + dir_}, err);
    // The page is in; the records reach the output (the web server holds the first request,
    // the locked database each row for 5 s).
    ASSERT_TRUE(test::WaitFor([&] { return site_.Requested().size() > served; },
                              std::chrono::seconds(30)));
    if (c.label == std::string("web"))
      ASSERT_TRUE(test::WaitFor([&] { return !silent.requests().empty(); }, std::chrono::seconds(30)));
    else
      std::this_thread::sleep_for(std::chrono::seconds(2));
    testing::Interrupted end = testing::InterruptChild(cli);
    EXPECT_LT(end.took, std::chrono::seconds(10));
    EXPECT_EQ(end.status, 130);
    EXPECT_NE(Slurp(err).find(c.lost_line), std::string::npos) << Slurp(err);
  }
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
}

TEST_F(OutputCliTest, DbTestPrintsTheConnectionTest) {
  std::string ok = dir_ + "/ok.xml";
  std::ofstream(ok) << "<task><savetodb enable=\"1\"><dbms>SQLITE</dbms><dbfile>" << dir_
                    << "/x.db</dbfile></savetodb></task>";
  auto good = RunCli({"db", "test", ok}, {"XDG_DATA_HOME=" + dir_});
  EXPECT_EQ(good.status, 0) << good.err;
  EXPECT_FALSE(good.out.empty());
  std::string bad = dir_ + "/bad.xml";
  std::ofstream(bad) << "<task><savetodb enable=\"1\"><dbms>ACCESS</dbms><dbfile>/x.mdb</dbfile>"
                        "<dbserver>Missing Driver</dbserver></savetodb></task>";
  auto missing = RunCli({"db", "test", bad}, {"XDG_DATA_HOME=" + dir_});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("\"Missing Driver\" is not installed"), std::string::npos)
      << missing.err;
}

}  // namespace
}  // namespace gm
