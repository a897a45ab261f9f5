// One connection to a private redis-server: pipelined commands answered in order,
// error replies counted, a subscriber's messages, and a server that goes away
// seen as a failed connection that connects again once the server is back.
#include <gtest/gtest.h>

#include <poll.h>

#include <chrono>
#include <string>
#include <vector>

#include "corvane/Corvane.h"
#include "corvane/store/RedisConnection.h"
#include "tests/support/RedisServer.h"

using namespace Corvane;
using CorvaneTest::RedisServer;

TEST(RedisAddress, ParsesUnixAndTcpAndRefusesTheRest) {
  RedisAddress const u = RedisAddress::parse("unix:/run/redis/redis.sock");
  EXPECT_TRUE(u.unixSocket);
  EXPECT_EQ(u.path, "/run/redis/redis.sock");
  RedisAddress const t = RedisAddress::parse("tcp:127.0.0.1:6379");
  EXPECT_FALSE(t.unixSocket);
  EXPECT_EQ(t.host, "127.0.0.1");
  EXPECT_EQ(t.port, 6379);
  EXPECT_EQ(t.text(), "tcp:127.0.0.1:6379");
  for (char const* bad : {"", "unix:", "tcp:host", "tcp::6379", "tcp:h:0", "tcp:h:65536", "tcp:h:6x", "redis://h"}) {
    EXPECT_THROW(RedisAddress::parse(bad), ParseError) << bad;
  }
}

TEST(RedisConnection, PipelinedRepliesComeInOrderAndErrorsAreCounted) {
  RedisServer server;
  RedisConnection c(RedisAddress::parse(server.address()));
  c.connect();
  ASSERT_TRUE(c.connected());
  std::vector<std::string> got;
  for (int i = 0; i < 1000; ++i) c.command({"SET", "k" + std::to_string(i), std::to_string(i * 7)});
  for (int i = 0; i < 1000; i += 100) {
    c.command({"GET", "k" + std::to_string(i)}, [&](RedisReply const& r) { got.emplace_back(r.str()); });
  }
  c.command({"GET", "absent"}, [&](RedisReply const& r) { got.push_back(r.isNil() ? "nil" : "?"); });
  c.command({"HSET", "k1", "f", "v"});  // a string key: WRONGTYPE
  c.command({"SADD", "s", "a", "b"});
  c.command({"SMEMBERS", "s"}, [&](RedisReply const& r) { got.push_back(std::to_string(r.size())); });
  EXPECT_EQ(c.pending(), 1014u);
  c.drain();
  EXPECT_EQ(c.pending(), 0u);
  std::vector<std::string> want;
  for (int i = 0; i < 1000; i += 100) want.push_back(std::to_string(i * 7));
  want.push_back("nil");
  want.push_back("2");
  EXPECT_EQ(got, want);
  EXPECT_EQ(c.errorReplies(), 1u);
  EXPECT_NE(c.lastError().find("WRONGTYPE"), std::string::npos) << c.lastError();
}

TEST(RedisConnection, SubscriberHearsKeyspaceEventsAndAServerThatGoesIsSeen) {
  RedisServer server({"--notify-keyspace-events", "Kg$sh"});
  RedisConnection sub(RedisAddress::parse(server.address()));
  RedisConnection cmd(RedisAddress::parse(server.address()));
  sub.connect();
  cmd.connect();
  std::vector<std::string> events;
  sub.subscriberModeIs([&](RedisReply const& r) {
    if (r.size() == 4 && r[0].str() == "pmessage") events.push_back(std::string(r[2].str()) + " " + std::string(r[3].str()));
  });
  sub.command({"PSUBSCRIBE", "__keyspace@0__:t:*"});
  sub.drain();
  cmd.command({"SET", "t:Ethernet1", "3"});
  cmd.command({"SET", "other", "1"});
  cmd.command({"DEL", "t:Ethernet1"});
  cmd.drain();
  auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (events.size() < 2 && std::chrono::steady_clock::now() < deadline) {
    pollfd p{sub.fd(), POLLIN, 0};
    if (::poll(&p, 1, 100) > 0) {
      ASSERT_TRUE(sub.readable());
    }
  }
  EXPECT_EQ(events, (std::vector<std::string>{"__keyspace@0__:t:Ethernet1 set", "__keyspace@0__:t:Ethernet1 del"}));

  // The server goes: the next read fails with a message and the connection is closed.
  server.stop();
  pollfd p{sub.fd(), POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 2000), 1);
  EXPECT_FALSE(sub.readable());
  EXPECT_FALSE(sub.connected());
  EXPECT_NE(sub.lastError().find("closed"), std::string::npos) << sub.lastError();
  EXPECT_THROW(cmd.connect(), RedisError);
  server.start();
  cmd.connect();
  std::string value = "?";
  cmd.command({"GET", "other"}, [&](RedisReply const& r) { value = r.isNil() ? "nil" : std::string(r.str()); });
  cmd.drain();
  EXPECT_EQ(value, "nil") << "the server came back empty";
}
