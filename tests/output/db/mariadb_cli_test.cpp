// gleanmark-cli run writing a task's records to a MariaDB server that the tests stop (SIGSTOP),
// kill and start again while the run goes on.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "mariadb_server.h"
#include "run_cli.h"
#include "test_server.h"

namespace gm {
namespace {

using namespace std::chrono_literals;
using test::CMariaDbServer;

template <class Pred>
bool Eventually(Pred pred, std::chrono::milliseconds limit) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// Two pages of three records each; the second is sent only once the test opens its gate.
class CGatedSite {
 public:
  CGatedSite()
      : server_([this](test::CTestConn& c) {
          std::string request;
          while (c.ReadRequest(&request)) {
            const bool second = request.rfind("GET /two", 0) == 0;
            requests_++;
            if (second) {
              while (!open_ && !c.stopping()) std::this_thread::sleep_for(10ms);
            }
            std::string body = "<html><body><table>";
            for (int i = 1; i <= 3; ++i) {
              body += "<tr><td>" + std::string(second ? "two-" : "one-") + std::to_string(i) +
                      "</td></tr>";
            }
            body += "</table></body></html>";
            c.Send("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                   std::to_string(body.size()) + "\r\n\r\n" + body);
          }
        }) {}
  std::string Url(const std::string& path) const { return server_.Url(path); }
  int Requests() const { return requests_; }
  void Open() { open_ = true; }

 private:
  std::atomic<bool> open_{false};
  std::atomic<int> requests_{0};
  test::CTestServer server_;
};

class MariaDbCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!server_.Running()) GTEST_SKIP() << "mariadbd could not be started";
    server_.Client("drop table if exists items; create table items(n varchar(20))");
    std::ofstream(dir_.File("task.xml"))
        << "<task name=\"db\" useiectrl=\"0\"><address type=\"2\"><url>" << site_.Url("/one")
        << "</url><urllist>" << site_.Url("/two")
        << "\n</urllist></address>"
           "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\">"
           "<data name=\"n\" type=\"INNERTEXT\" path=\"@TD\"></data></location>"
           "<savetodb enable=\"1\"><dbms>MYSQL</dbms><dbserver>"
        << server_.Socket()
        << "</dbserver><dbname>gm</dbname><username>root</username><tablename>items</tablename>"
           "<datamap field=\"n\" value=\"&lt;$n$&gt;\"></datamap></savetodb></task>";
  }
  void TearDown() override { server_.Thaw(); }

  // Starts the run; returns once the first page is written and the second one asked for.
  pid_t StartRun() {
    pid_t pid = testing::StartProgram(GM_CLI, {"run", dir_.File("task.xml")},
                                      {"XDG_DATA_HOME=" + dir_.path()}, dir_.File("err.txt"));
    EXPECT_TRUE(Eventually([&] { return site_.Requests() >= 2; }, 60s));
    EXPECT_TRUE(Eventually([&] { return Rows() == "one-1\none-2\none-3\n"; }, 30s)) << Rows();
    return pid;
  }
  std::string Rows() { return server_.Client("select n from items order by n"); }
  std::string Err() { return testing::Slurp(dir_.File("err.txt")); }
  static int Wait(pid_t pid) {
    int st = 0;
    ::waitpid(pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }

  CMariaDbServer server_;
  test::TempDir dir_;
  CGatedSite site_;
};

// A server that stops answering (SIGSTOP) holds a stop no longer than a moment: Ctrl-C during
// the insert of a record, or during the connection at the start of a run, ends the run within
// a few seconds (not the 30 s of the server's read time-out), and the record is counted lost.
TEST_F(MariaDbCliTest, CtrlCEndsTheWaitForAStoppedServer) {
  pid_t pid = StartRun();
  server_.Freeze();
  site_.Open();
  std::this_thread::sleep_for(2s);  // the first record of the second page waits (30 s at most)
  testing::Interrupted end = testing::InterruptChild(pid);
  EXPECT_LT(end.took, 10s);
  EXPECT_EQ(end.status, 130);
  EXPECT_NE(Err().find("the task's database lost 1 record(s)"), std::string::npos) << Err();

  // The server is still stopped when the next runs start: the connection of the output waits,
  // or the query that gives an address parameter its values.
  std::ofstream(dir_.File("query.xml"))
      << "<task name=\"q\" useiectrl=\"0\"><address type=\"1\"><url>" << site_.Url("/one")
      << "</url><urlpattern>" << site_.Url("/N")
      << "</urlpattern><pattern name=\"N\" value=\"{DBTYPE=MYSQL;SERVER=" << server_.Socket()
      << ";DATABASE=gm;USERNAME=root;PASSWORD=;SQL=select n from items;}\"></pattern></address>"
         "<location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\">"
         "<data name=\"n\" type=\"INNERTEXT\" path=\"@TD\"></data></location></task>";
  for (const char* task : {"task.xml", "query.xml"}) {
    SCOPED_TRACE(task);
    pid = testing::StartProgram(GM_CLI, {"run", dir_.File(task)},
                                {"XDG_DATA_HOME=" + dir_.path()}, dir_.File("err.txt"));
    std::this_thread::sleep_for(1s);
    end = testing::InterruptChild(pid);
    EXPECT_LT(end.took, 10s);
    EXPECT_EQ(end.status, 130);
  }
}

// A server that dies in the middle of a run and is started again: the connection is made again
// and every later record arrives, which the run reports. A server that stays dead: the records
// after its death are counted lost, and the run ends with status 3.
TEST_F(MariaDbCliTest, ALostConnectionIsMadeAgain) {
  pid_t pid = StartRun();
  ASSERT_TRUE(server_.Restart());
  site_.Open();
  EXPECT_EQ(Wait(pid), 0) << Err();
  EXPECT_EQ(Rows(), "one-1\none-2\none-3\ntwo-1\ntwo-2\ntwo-3\n");
  EXPECT_NE(Err().find("the connection was lost and made again (1)"), std::string::npos) << Err();
  EXPECT_NE(Err().find("the task's database reconnected 1 time(s)"), std::string::npos) << Err();
}

TEST_F(MariaDbCliTest, AServerThatStaysDeadLosesTheLaterRecords) {
  pid_t pid = StartRun();
  server_.Kill();
  site_.Open();
  EXPECT_EQ(Wait(pid), 3) << Err();
  EXPECT_NE(Err().find("the task's database lost 3 record(s)"), std::string::npos) << Err();
  EXPECT_NE(Err().find("could not be made again"), std::string::npos) << Err();
}

// Another task writes the same table while the run is interrupted (killed while the server held
// the first row of its second page): the continued run tells its own rows from the other
// task's, passes over the ones it wrote and writes each of the others once.
TEST_F(MariaDbCliTest, AContinuedRunCountsOnlyItsOwnRows) {
  pid_t pid = StartRun();
  server_.Freeze();
  site_.Open();
  std::this_thread::sleep_for(1s);  // the first record of the second page waits for the server
  ::kill(pid, SIGKILL);
  Wait(pid);
  server_.Thaw();
  std::ofstream(dir_.File("other.xml"))
      << "<task name=\"other\" useiectrl=\"0\"><address type=\"2\"><url>" << site_.Url("/one")
      << "</url></address><location path=\"HTML@HEAD#BODY@TABLE@TBODY@TR\" step=\"#TR\">"
         "<data name=\"n\" type=\"INNERTEXT\" path=\"@TD\"></data></location>"
         "<savetodb enable=\"1\"><dbms>MYSQL</dbms><dbserver>"
      << server_.Socket()
      << "</dbserver><dbname>gm</dbname><username>root</username><tablename>items</tablename>"
         "<datamap field=\"n\" value=\"other &lt;$n$&gt;\"></datamap></savetodb></task>";
  const std::vector<std::string> env{"XDG_DATA_HOME=" + dir_.path()};
  auto other = testing::RunCli({"run", dir_.File("other.xml")}, env);
  ASSERT_EQ(other.status, 0) << other.err;
  auto r = testing::RunCli({"run", dir_.File("task.xml"), "--resume"}, env);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("1 pages skipped as already done"), std::string::npos) << r.err;
  EXPECT_EQ(Rows(),
            "one-1\none-2\none-3\nother one-1\nother one-2\nother one-3\ntwo-1\ntwo-2\ntwo-3\n");
}

}  // namespace
}  // namespace gm
