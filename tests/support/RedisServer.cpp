#include "tests/support/RedisServer.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace CorvaneTest {

namespace {
bool socketAnswers(std::string const& path) {
  int const fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
  bool const ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
  ::close(fd);
  return ok;
}
}  // namespace

RedisServer::RedisServer(std::vector<std::string> extra) : extra_(std::move(extra)) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "corvane-redis.XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("RedisServer: cannot make a temporary folder");
  dir_ = tmpl;
  socket_ = dir_ + "/redis.sock";
  start();
}

RedisServer::~RedisServer() {
  stop();
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void RedisServer::start() {
  if (pid_ > 0) return;
  std::vector<std::string> args = {"redis-server", "--port", "0", "--unixsocket", socket_, "--unixsocketperm", "700",
                                   "--dir", dir_, "--save", "", "--appendonly", "no", "--daemonize", "no",
                                   "--logfile", dir_ + "/redis.log"};
  args.insert(args.end(), extra_.begin(), extra_.end());
  pid_t const pid = ::fork();
  if (pid < 0) throw std::runtime_error("RedisServer: fork failed");
  if (pid == 0) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execvp("redis-server", argv.data());
    std::_Exit(127);
  }
  pid_ = pid;
  auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!socketAnswers(socket_)) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      throw std::runtime_error("RedisServer: redis-server exited at start (is it installed?); see " + dir_ +
                               "/redis.log");
    }
    if (std::chrono::steady_clock::now() > deadline) {
      stop();
      throw std::runtime_error("RedisServer: redis-server did not answer on " + socket_ + " within 5 s");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void RedisServer::stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  int status = 0;
  while (::waitpid(pid_, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid_ = -1;
  ::unlink(socket_.c_str());
}

}  // namespace CorvaneTest
