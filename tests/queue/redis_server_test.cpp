// The tests' Redis server: it answers, keeps its data over a stop and a start on the same port,
// and loses nothing written before a kill (every write is on disk before the reply).
#include <gtest/gtest.h>

#include <unistd.h>

#include "redis_server.h"

namespace gm {
namespace {

using test::CRedisServer;

TEST(RedisServerTest, KeepsItsDataOverAStopAndAKill) {
  CRedisServer redis;
  ASSERT_TRUE(redis.Running()) << "redis-server could not be started";
  EXPECT_TRUE(redis.Ping());
  EXPECT_EQ(redis.Url("crawl"), "redis://127.0.0.1:" + std::to_string(redis.Port()) + "/crawl");
  EXPECT_EQ(redis.Cli({"SET", "crawl:k", "one"}), "OK\n");

  const int port = redis.Port();
  redis.Stop();
  EXPECT_FALSE(redis.Running());
  EXPECT_FALSE(redis.Ping());
  ASSERT_TRUE(redis.Start());
  EXPECT_EQ(redis.Port(), port);
  EXPECT_EQ(redis.Cli({"GET", "crawl:k"}), "one\n");

  EXPECT_EQ(redis.Cli({"RPUSH", "crawl:l", "a b"}), "1\n");
  redis.Kill();
  EXPECT_FALSE(redis.Ping());
  ASSERT_TRUE(redis.Start());
  EXPECT_EQ(redis.Cli({"LRANGE", "crawl:l", "0", "-1"}), "a b\n");
}

// Two servers at once get ports of their own, and a server's folder goes with it.
TEST(RedisServerTest, TwoServersAndCleanUp) {
  std::string folder;
  {
    CRedisServer a, b;
    ASSERT_TRUE(a.Running() && b.Running());
    EXPECT_NE(a.Port(), b.Port());
    a.Cli({"SET", "x", "1"});
    EXPECT_EQ(b.Cli({"EXISTS", "x"}), "0\n");
    folder = a.Folder();
  }
  EXPECT_NE(::access(folder.c_str(), F_OK), 0);
}

}  // namespace
}  // namespace gm
