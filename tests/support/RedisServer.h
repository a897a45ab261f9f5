// A private redis-server for a test: its own temporary folder, a unix socket in it,
// no TCP port, no persistence. Started by the constructor (which waits until the
// socket answers), stopped by the destructor or stop(). Never a system-wide server.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace CorvaneTest {

class RedisServer {
 public:
  // `extra`: more "--name value" arguments for the server. Throws std::runtime_error
  // when redis-server cannot be started or does not answer within five seconds.
  explicit RedisServer(std::vector<std::string> extra = {});
  ~RedisServer();
  RedisServer(RedisServer const&) = delete;
  RedisServer& operator=(RedisServer const&) = delete;

  std::string const& socketPath() const { return socket_; }
  std::string address() const { return "unix:" + socket_; }
  std::string const& folder() const { return dir_; }
  bool running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // Stops the server (SIGTERM, then SIGKILL after two seconds) and waits for it.
  void stop();
  // Starts it again on the same socket, empty.
  void start();

 private:
  std::string dir_;
  std::string socket_;
  std::vector<std::string> extra_;
  pid_t pid_ = -1;
};

}  // namespace CorvaneTest
