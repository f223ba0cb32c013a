#include "output/db_writer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "doc/text_codec.h"
#include "output_fixture.h"

namespace gm {
namespace {

// A writer slower than the rows it is given: once its queue is full the thread that hands
// rows over waits (memory stays bounded), and the rows are written in order, all of them by
// the time Finish returns.
TEST(DbWriterTest, FullQueueHoldsTheProducerAndKeepsTheOrder) {
  test::TempDir dir;
  DbConnectParams p;
  p.kind = DbKind::kSqlite;
  p.file = dir.WFile("w.db");
  std::promise<void> release;
  std::shared_future<void> go = release.get_future().share();
  std::vector<std::wstring> seen;  // writer's thread until Finish
  CDbWriter w;
  std::wstring error;
  ASSERT_TRUE(w.Start(
      CDbWriter::Mode::kQueued, p,
      [](CDbConnection& db) { return db.Execute("create table t(n integer)", {}, nullptr); },
      [&](CDbConnection& db, const CDbWriter::Row& row) {
        go.wait();
        seen.push_back(row[0].text);
        return db.Execute("insert into t values(?)", row, nullptr);
      },
      nullptr, &error))
      << ToUtf8(error);

  const int n = static_cast<int>(CDbWriter::kMaxRows) + 10;
  std::atomic<int> pushed{0};
  std::thread producer([&] {
    for (int i = 0; i < n; ++i) {
      DbValue v;
      v.text = std::to_wstring(i);
      w.Push({v});
      ++pushed;
    }
  });
  // The writer holds the first row; the queue takes kMaxRows rows in all, the next one waits.
  for (int i = 0; i < 1000 && pushed < static_cast<int>(CDbWriter::kMaxRows); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(pushed.load(), static_cast<int>(CDbWriter::kMaxRows));
  release.set_value();
  producer.join();
  w.Finish();
  EXPECT_EQ(w.Failures(), 0);
  ASSERT_EQ(seen.size(), static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) ASSERT_EQ(seen[i], std::to_wstring(i));
  std::string rows = test::Python(
      "import sqlite3,sys\nc = sqlite3.connect(sys.argv[1])\n"
      "print(c.execute(\"select count(*), sum(n + 1 = rowid) from t\").fetchone())",
      {dir.File("w.db")});
  EXPECT_EQ(rows, "(" + std::to_string(n) + ", " + std::to_string(n) + ")\n");
}

// Another connection keeps the database locked: the writer's rows wait for it, the queue fills
// and holds the thread that hands rows over. A stop gives every wait up at once (not after 5 s
// a row): the rows not written are counted as failures.
TEST(DbWriterTest, AStopGivesUpTheWaitsOfAFullQueueOnALockedDatabase) {
  test::TempDir dir;
  DbConnectParams p;
  p.kind = DbKind::kSqlite;
  p.file = dir.WFile("w.db");
  std::wstring error;
  std::unique_ptr<CDbConnection> holder = OpenDbConnection(p, &error);
  ASSERT_TRUE(holder) << ToUtf8(error);
  ASSERT_TRUE(holder->Execute("create table t(n integer)", {}, nullptr));
  ASSERT_TRUE(holder->Execute("begin immediate", {}, nullptr));

  std::atomic<bool> stop{false};
  CDbWriter w;
  ASSERT_TRUE(w.Start(
      CDbWriter::Mode::kQueued, p, nullptr,
      [](CDbConnection& db, const CDbWriter::Row& row) {
        return db.Execute("insert into t values(?)", row, nullptr);
      },
      [&] { return stop.load(); }, &error))
      << ToUtf8(error);
  const int n = static_cast<int>(CDbWriter::kMaxRows) + 10;
  std::atomic<int> pushed{0};
  std::thread producer([&] {
    for (int i = 0; i < n; ++i) {
      w.Push({DbValue{std::to_wstring(i)}});
      ++pushed;
    }
  });
  for (int i = 0; i < 1000 && pushed < static_cast<int>(CDbWriter::kMaxRows); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_LT(pushed.load(), n);  // the queue is full and holds the producer
  const auto stopped = std::chrono::steady_clock::now();
  stop = true;
  producer.join();
  w.Finish();
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(10));
  EXPECT_EQ(w.Failures(), n);
  EXPECT_FALSE(w.FirstError().empty());
}

}  // namespace
}  // namespace gm
