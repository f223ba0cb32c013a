// gleanmark-cli run --parallel: with pages in flight a run writes exactly what it writes one
// page at a time (the --out file, the task's CSV file, its SQLite table), and the site never
// has more requests or connections of the run at once than asked for.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "run_cli.h"
#include "site.h"

namespace gm {
namespace {

using namespace std::chrono_literals;
using testing::RunCli;
using testing::Slurp;

// Two list pages (the first with a second page behind its "Next" link), five rows each, every
// row leading to a detail page; detail pages answer late so that requests overlap.
void Serve(test::CSite* site) {
  auto list = [](const std::string& id, const std::string& next) {
    std::string rows;
    for (int i = 1; i <= 5; ++i) {
      std::string n = id + "-" + std::to_string(i);
      rows += "<tr><td><a href=\"/d/" + n + "\">row " + n + "</a></td></tr>";
    }
    return "<html><body><table>" + rows + "</table>" + next + "</body></html>";
  };
  site->Put("/l/1", list("a", "<a href=\"1b\">Next</a>"));
  site->Put("/l/1b", list("b", ""));
  site->Put("/m/1", list("c", ""));
  for (const char* id : {"a", "b", "c"}) {
    for (int i = 1; i <= 5; ++i) {
      std::string n = std::string(id) + "-" + std::to_string(i);
      site->Put("/d/" + n, "<html><body><div>detail " + n + ", \"quoted\"</div></body></html>");
    }
  }
  site->SlowDown("/d/", 30ms);
}

std::string Task(const test::CSite& site, const std::string& dir) {
  return "<task name=\"par\" useiectrl=\"0\"><address type=\"2\"><url>" + site.Url("/l/1") +
         "</url><urllist>" + site.Url("/m/1") +
         "</urllist></address>"
         "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\">"
         "<data name=\"name\" type=\"INNERTEXT\" path=\"@TD@A\"></data>"
         "<data name=\"link\" type=\"LINKTASK\" attr=\"href\" path=\"@TD@A\">"
         "<location path=\"HTML@HEAD#BODY@DIV\"><data name=\"detail\" type=\"INNERTEXT\" "
         "path=\"\"></data></location></data></location>"
         "<autopage type=\"1\" nextlink=\"Next\"></autopage>"
         "<savetoxls enable=\"1\" excelfile=\"" +
         dir +
         "/task.csv\" encoding=\"UTF-8\" option=\"1\"></savetoxls>"
         "<savetodb enable=\"1\"><dbms>SQLITE</dbms><dbfile>" +
         dir +
         "/t.db</dbfile><tablename>goods</tablename>"
         "<datamap field=\"n\" value=\"&lt;$name$&gt;\"></datamap>"
         "<datamap field=\"d\" value=\"&lt;$detail$&gt;\"></datamap></savetodb></task>";
}

struct Outputs {
  std::string out, taskCsv, table;
  int mostInFlight = 0, mostConnections = 0;
  std::vector<std::string> requested;  // sorted
};

Outputs RunWith(int parallel, const std::string& dir) {
  test::CSite site;
  Serve(&site);
  std::filesystem::create_directories(dir);
  std::ofstream(dir + "/task.xml") << Task(site, dir);
  std::system(("/usr/bin/python3 -c 'import sqlite3; sqlite3.connect(\"" + dir +
               "/t.db\").execute(\"create table goods(n, d)\")'")
                  .c_str());
  // The last list pages have no next link (nor scripts that could write one): paging ends
  // there without the browser, which stays off all the same.
  auto r = RunCli(
      {"run", dir + "/task.xml", "--out", dir + "/out.csv", "--parallel", std::to_string(parallel)},
      {"XDG_DATA_HOME=" + dir + "/data", "GLEANMARK_NO_BROWSER=1"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::system(("/usr/bin/python3 -c 'import sqlite3; print(sqlite3.connect(\"" + dir +
               "/t.db\").execute(\"select n, d from goods order by rowid\").fetchall())' > '" +
               dir + "/table.txt'")
                  .c_str());
  std::vector<std::string> requested = site.Requested();
  std::sort(requested.begin(), requested.end());
  return {Slurp(dir + "/out.csv"), Slurp(dir + "/task.csv"), Slurp(dir + "/table.txt"),
          site.MostInFlight(), site.MostConnections(), requested};
}

TEST(ParallelCliTest, PagesInFlightWriteWhatOnePageAtATimeWrites) {
  const std::string dir = test::MakeTempFolder();
  Outputs one = RunWith(1, dir + "/1");
  Outputs eight = RunWith(8, dir + "/8");
  std::system(("rm -rf '" + dir + "'").c_str());

  EXPECT_NE(one.out.find("row c-5"), std::string::npos);
  EXPECT_NE(one.table.find("('row b-3', 'detail b-3, \"quoted\"')"), std::string::npos);
  EXPECT_EQ(testing::Lines(one.out).size(), 15u + 1u);  // the header and 15 records
  EXPECT_EQ(eight.out, one.out);
  EXPECT_EQ(eight.taskCsv, one.taskCsv);
  EXPECT_EQ(eight.table, one.table);

  EXPECT_EQ(one.mostInFlight, 1);
  EXPECT_EQ(one.mostConnections, 1);
  EXPECT_LE(eight.mostInFlight, 8);
  EXPECT_LE(eight.mostConnections, 8);
  EXPECT_GT(eight.mostInFlight, 1);  // the detail pages were asked ahead, side by side
  // Every page once: the three list pages and the fifteen detail pages.
  EXPECT_EQ(one.requested.size(), 18u);
  EXPECT_EQ(eight.requested, one.requested);
  EXPECT_EQ(std::adjacent_find(eight.requested.begin(), eight.requested.end()),
            eight.requested.end());
}

// Ctrl-C while eight pages are in flight to a server that never answers them: the run ends at
// once with what it committed.
TEST(ParallelCliTest, CtrlCEndsARunWithPagesInFlight) {
  test::CSite site;
  site.Put("/a", "<html><body><table><tr><td>first</td></tr></table></body></html>");
  site.SlowDown("/h/", 0ms);
  site.Hold(true);
  std::string list;
  for (int i = 1; i <= 10; ++i) list += site.Url("/h/" + std::to_string(i)) + "\n";
  const std::string dir = test::MakeTempFolder();
  std::ofstream(dir + "/task.xml")
      << "<task name=\"hold\" useiectrl=\"0\"><address type=\"2\"><url>" + site.Url("/a") +
             "</url><urllist>" + list +
             "</urllist></address><location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" "
             "step=\"#TR\"><data name=\"v\" type=\"INNERTEXT\" path=\"@TD\"></data>"
             "</location></task>";
  pid_t pid = testing::StartProgram(GM_CLI, {"run", dir + "/task.xml", "--out", dir + "/out.csv"},
                                    {"XDG_DATA_HOME=" + dir + "/data"}, dir + "/err");
  ASSERT_TRUE(test::WaitFor([&] { return site.MostInFlight() == 8; }, 10s));
  testing::Interrupted end = testing::InterruptChild(pid);
  site.Hold(false);
  EXPECT_EQ(end.status, 130) << Slurp(dir + "/err");
  EXPECT_LT(end.took, 2s);
  EXPECT_NE(Slurp(dir + "/out.csv").find("first"), std::string::npos);
  std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
}  // namespace gm
