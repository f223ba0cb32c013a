// The shared run on a real Redis server: addresses handed out once, keys judged across
// workers, a quiet worker's page taken over after the lease, figures, reset, and a server that
// goes away and comes back.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <set>
#include <thread>

#include "queue/redis_shared_run.h"
#include "redis_server.h"
#include "site.h"

namespace gm {
namespace {

TEST(QueueAddressTest, Forms) {
  ::unsetenv(kRedisPasswordVariable);
  struct Case {
    const char* url;
    bool ok;
    const char* host;
    int port;
    const char* name;
    const char* user = "";
    const char* password = "";
  } cases[] = {
      {"redis://db.example/crawl", true, "db.example", 6379, "crawl"},
      {"redis://10.0.0.2:7000/a:b", true, "10.0.0.2", 7000, "a:b"},
      {"redis://[::1]:7001/q", true, "::1", 7001, "q"},
      {"redis://:s3cret@db/q", true, "db", 6379, "q", "", "s3cret"},
      {"redis://gm:p%40ss%3Aw%2Frd@[::1]:7001/q", true, "::1", 7001, "q", "gm", "p@ss:w/rd"},
      {"redis://gm:a@b@db:7000/q", true, "db", 7000, "q", "gm", "a@b"},
      {"redis://host/", false, "", 0, ""},
      {"redis://host", false, "", 0, ""},
      {"redis://:7000/q", false, "", 0, ""},
      {"redis://host:0/q", false, "", 0, ""},
      {"redis://host:x/q", false, "", 0, ""},
      {"redis://host/a/b", false, "", 0, ""},
      {"http://host/q", false, "", 0, ""},
      {"redis://:s3cret%zz@db/q", false, "", 0, ""},
      {"redis://:s3cret@/q", false, "", 0, ""},
      {"http://u:s3cret@db/q", false, "", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    RedisQueueAddress a;
    std::string error;
    ASSERT_EQ(ParseQueueAddress(c.url, &a, &error), c.ok) << error;
    if (!c.ok) {
      EXPECT_NE(error.find("redis://HOST[:PORT]/NAME"), std::string::npos);
      EXPECT_EQ(error.find("s3cret"), std::string::npos) << error;
      continue;
    }
    EXPECT_EQ(a.host, c.host);
    EXPECT_EQ(a.port, c.port);
    EXPECT_EQ(a.name, c.name);
    EXPECT_EQ(a.user, c.user);
    EXPECT_EQ(a.password, c.password);
    EXPECT_EQ(a.Text().find("s3cret"), std::string::npos);
  }
}

// The environment's password stands in for one the address does not name.
TEST(QueueAddressTest, PasswordFromTheEnvironment) {
  ::setenv(kRedisPasswordVariable, "from-env", 1);
  RedisQueueAddress a, b;
  std::string error;
  ASSERT_TRUE(ParseQueueAddress("redis://gm@db/q", &a, &error)) << error;
  ASSERT_TRUE(ParseQueueAddress("redis://:own@db/q", &b, &error)) << error;
  ::unsetenv(kRedisPasswordVariable);
  EXPECT_EQ(a.user, "gm");
  EXPECT_EQ(a.password, "from-env");
  EXPECT_EQ(b.password, "own");
}

// Two workers started on one host with one process id (containers) get names of their own.
TEST(WorkerNameTest, DistinctWithinOneHostAndProcess) {
  char host[256] = {};
  ::gethostname(host, sizeof host - 1);
  const std::string a = NewWorkerName(), b = NewWorkerName();
  const std::string head = std::string(host) + "-" + std::to_string(::getpid()) + "-";
  EXPECT_NE(a, b);
  for (const std::string& name : {a, b}) {
    EXPECT_EQ(name.rfind(head, 0), 0u) << name;
    EXPECT_EQ(name.size(), head.size() + 6) << name;
  }
}

class RedisSharedRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Running());
    std::string error;
    ASSERT_TRUE(ParseQueueAddress(server_.Url("t"), &address_, &error)) << error;
  }
  std::unique_ptr<CRedisClient> Client(int wait_seconds = 5,
                                       std::function<void(const std::string&)> report = nullptr) {
    return std::make_unique<CRedisClient>(address_, wait_seconds, nullptr, std::move(report));
  }
  static CRedisSharedRun::Options Worker(const std::string& name, int lease = 60) {
    CRedisSharedRun::Options o;
    o.worker = name;
    o.definition = "def-1";
    o.leaseSeconds = lease;
    return o;
  }
  static std::vector<std::wstring> Addresses(int n) {
    std::vector<std::wstring> all;
    for (int i = 0; i < n; ++i) all.push_back(L"http://site/list/" + std::to_wstring(i));
    return all;
  }

  test::CRedisServer server_;
  RedisQueueAddress address_;
};

// What a worker said, from any thread.
class CHeard {
 public:
  std::function<void(const std::string&)> Listener() {
    return [this](const std::string& text) {
      std::lock_guard<std::mutex> lock(mutex_);
      said_.push_back(text);
    };
  }
  // Whether a message holding `part` was heard.
  bool Heard(const std::string& part) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& s : said_)
      if (s.find(part) != std::string::npos) return true;
    return false;
  }
  std::vector<std::string> All() {
    std::lock_guard<std::mutex> lock(mutex_);
    return said_;
  }

 private:
  std::mutex mutex_;  // guards said_
  std::vector<std::string> said_;
};

TEST_F(RedisSharedRunTest, EachAddressIsHandedOutOnceAndTheRunCompletes) {
  auto c1 = Client(), c2 = Client();
  CRedisSharedRun a(c1.get(), Worker("a")), b(c2.get(), Worker("b"));
  int computed = 0;
  auto addresses = [&computed] {
    ++computed;
    return Addresses(7);
  };
  ASSERT_TRUE(a.Fill(addresses));
  ASSERT_TRUE(b.Fill(addresses));  // filled already: not computed again
  EXPECT_EQ(computed, 1);

  std::set<long long> seen;
  for (bool turn = false;; turn = !turn) {
    CRedisSharedRun& w = turn ? b : a;
    std::optional<SharedAddress> page = w.Take(true);
    if (!page) break;
    EXPECT_TRUE(seen.insert(page->index).second) << page->index;
    EXPECT_EQ(page->address, L"http://site/list/" + std::to_wstring(page->index));
    ASSERT_TRUE(w.Done(*page, 2));
  }
  EXPECT_EQ(seen.size(), 7u);
  EXPECT_TRUE(a.Failure().empty()) << a.Failure();
  SharedRunStatus s;
  ASSERT_TRUE(CRedisSharedRun::Status(c1.get(), &s));
  EXPECT_EQ(s.filled, 7);
  EXPECT_EQ(s.done, 7);
  EXPECT_EQ(s.pending, 0);
  EXPECT_EQ(s.Left(), 0);
  EXPECT_EQ(s.written, 14);

  // Another task's workers are refused until the queue is reset.
  CRedisSharedRun::Options other = Worker("c");
  other.definition = "def-2";
  CRedisSharedRun c(c1.get(), other);
  EXPECT_FALSE(c.Fill(addresses));
  EXPECT_NE(c.Failure().find("queue reset"), std::string::npos) << c.Failure();
  ASSERT_TRUE(CRedisSharedRun::Reset(c1.get()));
  CRedisSharedRun fresh(c1.get(), other);
  EXPECT_TRUE(fresh.Fill(addresses));
  EXPECT_EQ(computed, 2);
}

TEST_F(RedisSharedRunTest, AQuietWorkersPageIsTakenOverAndItsKeysAreRecognised) {
  auto c1 = Client(), c2 = Client();
  CRedisSharedRun dead(c1.get(), Worker("dead", 1)), alive(c2.get(), Worker("alive", 1));
  ASSERT_TRUE(dead.Fill([] { return Addresses(1); }));
  ASSERT_TRUE(alive.Fill([] { return Addresses(1); }));  // joins the run
  std::optional<SharedAddress> page = dead.Take(true);
  ASSERT_TRUE(page);
  // The dead worker met two records of its page before it went quiet.
  std::vector<SharedKeyVerdict> first = dead.ClaimKeys(*page, {"k1", "k2"});
  EXPECT_EQ(first, (std::vector<SharedKeyVerdict>{SharedKeyVerdict::kNew, SharedKeyVerdict::kNew}));

  SharedRunStatus s;
  ASSERT_TRUE(CRedisSharedRun::Status(c2.get(), &s));
  ASSERT_EQ(s.pendingByWorker.size(), 1u);
  EXPECT_EQ(s.pendingByWorker[0], (std::pair<std::string, long long>("dead", 1)));

  // The other worker waits for the lease, then gets the same page.
  std::optional<SharedAddress> again = alive.Take(true);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->ticket, page->ticket);
  EXPECT_EQ(again->index, 0);
  // Its own records: those the dead worker met may be written already, one is new, a repeat in
  // the same page and a key of another page are duplicates.
  ASSERT_TRUE(CRedisClient(address_, 5, nullptr, nullptr)
                  .Run({"HSET", "t:keys", "other", "1-1"})
                  .has_value());
  std::vector<SharedKeyVerdict> second = alive.ClaimKeys(*again, {"k1", "k2", "k3", "k3", "other"});
  EXPECT_EQ(second, (std::vector<SharedKeyVerdict>{
                        SharedKeyVerdict::kMetBefore, SharedKeyVerdict::kMetBefore,
                        SharedKeyVerdict::kNew, SharedKeyVerdict::kDuplicate,
                        SharedKeyVerdict::kDuplicate}));
  ASSERT_TRUE(alive.Done(*again, 3));
  // The dead worker's late acknowledgement counts nothing twice.
  ASSERT_TRUE(dead.Done(*page, 2));
  ASSERT_TRUE(CRedisSharedRun::Status(c2.get(), &s));
  EXPECT_EQ(s.done, 1);
  EXPECT_EQ(s.written, 3);
  EXPECT_FALSE(alive.Take(true));
}

TEST_F(RedisSharedRunTest, APageGivenBackIsTakenAtOnce) {
  auto c1 = Client(), c2 = Client();
  // A lease of an hour: only the giving back lets the other worker have the page now.
  CRedisSharedRun quitter(c1.get(), Worker("quitter", 3600)), other(c2.get(), Worker("other", 3600));
  ASSERT_TRUE(quitter.Fill([] { return Addresses(1); }));
  std::optional<SharedAddress> page = quitter.Take(true);
  ASSERT_TRUE(page);
  EXPECT_FALSE(other.Take(false));
  quitter.GiveBack(*page);
  std::optional<SharedAddress> taken = other.Take(false);
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->ticket, page->ticket);
}

// Keys of the rule that replaces belong to the page latest in the sequence; the others to
// the first page that claimed them. A worker of a run that was reset is refused and leaves
// no key behind.
TEST_F(RedisSharedRunTest, KeysAreJudgedByTheirRuleAndOnlyForTheRunThatHoldsThem) {
  auto c = Client();
  CRedisSharedRun w(c.get(), Worker("w"));
  ASSERT_TRUE(w.Fill([] { return Addresses(3); }));
  std::vector<SharedAddress> pages;
  while (std::optional<SharedAddress> p = w.Take(false)) pages.push_back(*p);
  ASSERT_EQ(pages.size(), 3u);
  using V = SharedKeyVerdict;
  struct Case {
    int page;
    std::vector<std::string> keys;
    std::vector<V> want;
  } cases[] = {
      {1, {"r:x", "k:y"}, {V::kNew, V::kNew}},
      {0, {"r:x", "k:y"}, {V::kDuplicate, V::kDuplicate}},  // a later page has "r:x"
      {2, {"r:x", "r:x", "k:y"}, {V::kReplace, V::kMetBefore, V::kDuplicate}},
      {1, {"r:x", "k:z", "k:z"}, {V::kDuplicate, V::kNew, V::kDuplicate}},
      {2, {"r:x"}, {V::kMetBefore}},
  };
  for (const Case& k : cases)
    EXPECT_EQ(w.ClaimKeys(pages[k.page], k.keys), k.want) << "page " << k.page;

  ASSERT_TRUE(CRedisSharedRun::Reset(c.get()));
  CRedisSharedRun next(c.get(), Worker("next"));
  ASSERT_TRUE(next.Fill([] { return Addresses(3); }));
  EXPECT_TRUE(w.ClaimKeys(pages[0], {"r:late"}).empty());
  EXPECT_NE(w.Failure().find("was reset"), std::string::npos) << w.Failure();
  EXPECT_EQ(c->Run({"HLEN", "t:keys"})->integer, 0);
  std::optional<SharedAddress> fresh = next.Take(false);
  ASSERT_TRUE(fresh);
  EXPECT_EQ(next.ClaimKeys(*fresh, {"r:late"}), std::vector<V>{V::kNew});
}

// A worker at a long page keeps the lease of the page it took ahead too; after a new connection
// it first takes what was handed to it by a command whose reply it never read.
TEST_F(RedisSharedRunTest, EveryPageAWorkerHoldsIsItsOwn) {
  auto c1 = Client(), c2 = Client();
  CRedisSharedRun slow(c1.get(), Worker("slow", 1)), other(c2.get(), Worker("other", 1));
  ASSERT_TRUE(slow.Fill([] { return Addresses(3); }));
  std::optional<SharedAddress> in_work = slow.Take(true), ahead = slow.Take(false);
  ASSERT_TRUE(in_work && ahead);
  for (int i = 0; i < 25; ++i) {
    slow.StillWorking(*in_work);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::optional<SharedAddress> third = other.Take(false);
  ASSERT_TRUE(third);
  EXPECT_EQ(third->index, 2);
  EXPECT_FALSE(other.Take(false));  // both of the slow worker's pages are still its own

  // The last page goes to the slow worker without its knowing (the reply was lost).
  other.GiveBack(*third);
  ASSERT_TRUE(c2->Run({"XCLAIM", "t:pages", "workers", "slow", "0", third->ticket}));
  server_.Stop();
  ASSERT_TRUE(server_.Start());
  std::optional<SharedAddress> own = slow.Take(false);
  ASSERT_TRUE(own);
  EXPECT_EQ(own->index, 2);
}

TEST_F(RedisSharedRunTest, AServerThatGoesAwayIsWaitedForUntilTheWaitRunsOut) {
  auto client = Client(60);
  ASSERT_TRUE(client->Run({"SET", "x", "1"}));
  server_.Stop();
  // The server is started again by this thread (its process ends with the thread that made it).
  std::optional<RedisReply> r;
  std::thread asking([&client, &r] { r = client->Run({"GET", "x"}); });
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  const bool started = server_.Start();
  asking.join();
  ASSERT_TRUE(started);
  ASSERT_TRUE(r) << client->Error();  // it waited, then got the kept value
  EXPECT_EQ(r->text, "1");

  server_.Stop();
  auto quick = Client(1);
  EXPECT_FALSE(quick->Run({"GET", "x"}));
  EXPECT_NE(quick->Error().find("could not be reached for 1 s"), std::string::npos)
      << quick->Error();
  CRedisSharedRun w(quick.get(), Worker("w"));
  EXPECT_FALSE(w.Fill([] { return Addresses(1); }));
  EXPECT_NE(w.Failure().find(std::to_string(server_.Port())), std::string::npos) << w.Failure();
}

// A server that is there but not ready (another client's long script; a restart that loads its
// data; a replica cut off from its master) is waited for with the waiting message, and the
// worker then takes its page; it is not taken for a queue that was reset.
TEST_F(RedisSharedRunTest, AServerThatIsNotReadyIsWaitedFor) {
  struct Case {
    const char* code;
    std::function<void()> begin, end;
  } cases[] = {
      {"BUSY", [&] { ASSERT_TRUE(server_.StartBusy()); }, [&] { server_.EndBusy(); }},
      {"LOADING", [&] { ASSERT_TRUE(server_.StartLoading()); },
       [&] { ASSERT_TRUE(server_.EndLoading()); }},
      {"MASTERDOWN",
       [&] {
         server_.Cli({"CONFIG", "SET", "replica-read-only", "no"});
         server_.Cli({"CONFIG", "SET", "replica-serve-stale-data", "no"});
         server_.Cli({"REPLICAOF", "127.0.0.1", "1"});  // a master that never answers
         ASSERT_EQ(server_.Cli({"GET", "x"}).rfind("MASTERDOWN", 0), 0u);
       },
       [&] { server_.Cli({"REPLICAOF", "NO", "ONE"}); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    ASSERT_TRUE(CRedisSharedRun::Reset(Client().get()));
    CHeard heard;
    auto client = Client(300, heard.Listener());
    CRedisSharedRun w(client.get(), Worker("w"));
    ASSERT_TRUE(w.Fill([] { return Addresses(2); }));
    std::optional<SharedAddress> first = w.Take(true);
    ASSERT_TRUE(first);
    c.begin();
    if (::testing::Test::HasFatalFailure()) return c.end();
    std::optional<SharedAddress> second;
    bool done = false;
    std::thread working([&] {
      second = w.Take(true);
      done = second && w.Done(*second, 1) && w.Done(*first, 1);
    });
    const bool waiting = test::WaitFor(
        [&] { return heard.Heard(std::string("not ready (") + c.code); }, std::chrono::seconds(60));
    c.end();
    working.join();
    ASSERT_TRUE(waiting);
    EXPECT_TRUE(heard.Heard("waiting up to 300 s for it"));
    EXPECT_TRUE(heard.Heard("is back"));
    EXPECT_TRUE(w.Failure().empty()) << w.Failure();
    ASSERT_TRUE(second);
    EXPECT_NE(second->ticket, first->ticket);
    EXPECT_TRUE(done);
    EXPECT_FALSE(w.Take(true));
  }
}

// Entries that anyone may add with an address other than http or https are never handed out:
// each is reported (escaped) and dropped from the stream, and the run completes with its own.
TEST_F(RedisSharedRunTest, OnlyWebAddressesAreTakenFromTheQueue) {
  auto client = Client();
  CHeard heard;
  CRedisSharedRun::Options options = Worker("w");
  options.report = heard.Listener();
  CRedisSharedRun w(client.get(), options);
  ASSERT_TRUE(w.Fill([] { return Addresses(2); }));
  const char* refused[] = {"file:///etc/passwd", "/etc/passwd", "C:/boot.ini", "ftp://site/x",
                           "javascript:alert(1)", "http:///no-host", "file:///tmp/\x1b[2J\n"};
  for (const char* address : refused)
    ASSERT_TRUE(client->Run({"XADD", "t:pages", "*", "i", "9", "a", address}));

  std::set<std::wstring> taken;
  while (std::optional<SharedAddress> page = w.Take(true)) {
    taken.insert(page->address);
    ASSERT_TRUE(w.Done(*page, 0));
  }
  EXPECT_TRUE(w.Failure().empty()) << w.Failure();
  EXPECT_EQ(taken, (std::set<std::wstring>{L"http://site/list/0", L"http://site/list/1"}));
  std::vector<std::string> said = heard.All();
  ASSERT_EQ(said.size(), std::size(refused));
  for (const std::string& s : said) {
    EXPECT_NE(s.find("not http or https"), std::string::npos) << s;
    EXPECT_EQ(s.find_first_of("\x1b\n"), std::string::npos) << s;
  }
  EXPECT_TRUE(heard.Heard("file:///tmp/\\x1B[2J\\x0A"));
  EXPECT_EQ(client->Run({"XLEN", "t:pages"})->integer, 2);
  SharedRunStatus s;
  ASSERT_TRUE(CRedisSharedRun::Status(client.get(), &s));
  EXPECT_EQ(s.done, 2);
  EXPECT_EQ(s.pending, 0);
  EXPECT_EQ(s.Left(), 0);
}

}  // namespace
}  // namespace gm
