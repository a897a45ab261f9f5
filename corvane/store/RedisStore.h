// The Redis store: the agent's tables outside the agent. Each table is one entity
// collection and one Redis key per entry, "<prefix><TABLE>:<key text>", in the
// shape TableCodec derives from the type registry.
//
// A source is a table the agent reads (its inputs): the store subscribes to the
// table's keyspace events first, then scans it; every event re-reads its key and
// applies the value through the entity's own setters, so the state machines see one
// notification per real change. Events are hints and the scan is the truth: after a
// lost connection the store connects again, subscribes again, scans again and
// deletes what vanished meanwhile.
//
// A mirror is a table the agent writes (its outputs): loaded from Redis into its
// entity before the state machines exist (the stale outputs they reconcile), then
// followed and written behind. Changes are coalesced per key, compared with what
// Redis holds (as loaded or as last written), and only real differences are
// written, in pipelined batches by a task of the agent's scheduler that yields
// when its time slice is used. A burst of changes to one key costs one write.
//
// Everything runs on the agent's one scheduler thread, on two connections (one for
// commands, one for the subscription) driven by the agent's poll loop: pollFds()
// says what to wait for, pollEvents() handles what came, tick() reconnects.
// A bad entry (text that does not parse, the wrong Redis type, a key that is not
// written the canonical way, a value over maxValueBytes) counts as absent: it is
// reported once and counted, and never stops the store. In a mirror table it is
// deleted once the store follows the table.
#pragma once

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "corvane/framework/SmControl.h"
#include "corvane/store/RedisConnection.h"
#include "corvane/store/TableCodec.h"

namespace Corvane {

struct CORVANE_API RedisStoreOptions {
  RedisAddress address;
  uint32_t database = 0;
  std::string keyPrefix;  // before every table name
  std::string user;       // ACL user (empty: the default user)
  std::string password;   // empty: no AUTH
  size_t maxValueBytes = 65536;
  // The flush task's scheduler (the process scheduler when null) and priority.
  Ptr<TaskScheduler> scheduler;
  TaskPriority flushPriority = 2;
  // Entries scanned or loaded per round trip.
  uint32_t scanCount = 1000;
  // One line per event (a bad entry, a lost connection, a reconnection).
  std::function<void(std::string const&)> log;
};

struct CORVANE_API RedisTableSpec {
  std::string name;         // the table's name in Redis keys
  Ptr<Entity> entity;       // its entity
  std::string attribute;    // the entity's collection
  std::string payloadType;  // the registered type of its payloads, if it holds payloads
};

class CORVANE_API RedisStore {
 public:
  explicit RedisStore(RedisStoreOptions options);
  ~RedisStore();
  RedisStore(RedisStore const&) = delete;
  RedisStore& operator=(RedisStore const&) = delete;

  // Tables, before start(). Throws ReflectionError for a collection of no known shape.
  void sourceIs(RedisTableSpec const& spec);
  void mirrorIs(RedisTableSpec const& spec);

  // Before the state machines exist (blocking, bounded by `timeout`): connects,
  // loads every mirror table into its entity (the outputs an earlier run left) and
  // follows it from then on, subscribes to the sources' events and loads every
  // source table. Throws RedisError.
  void start(std::chrono::milliseconds timeout = std::chrono::seconds(60));

  // The agent's poll loop.
  void pollFds(std::vector<pollfd>& fds) const;
  void pollEvents(std::vector<pollfd> const& fds);
  // Reconnects after a lost connection (at most every reconnectEvery) and writes
  // what the flush task queued. Call after pollEvents and after running tasks.
  void tick();
  // How long the poll loop may sleep: -1 while nothing is due.
  int pollTimeoutMs() const;
  std::chrono::milliseconds reconnectEvery{200};

  // Writes nothing more than what is queued, and waits (bounded) until it is written.
  void flushNow(std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Whether every change followed so far has been written.
  bool flushed() const noexcept;

  bool connected() const noexcept;
  RedisConnection& commands() noexcept { return *cmd_; }
  std::string key(std::string const& table, std::string const& keyText) const;

  // What the store has done.
  struct Counters {
    uint64_t badEntries = 0;      // entries read that did not parse
    uint64_t sourceApplied = 0;   // source entries written into entities
    uint64_t keysCompared = 0;    // mirror keys compared with what Redis holds
    uint64_t keysWritten = 0;     // mirror keys written (each a set of commands)
    uint64_t commandsWritten = 0;
    uint64_t reconnects = 0;
    uint64_t eventsHeard = 0;     // keyspace events of source tables
  };
  Counters const& counters() const noexcept { return counters_; }
  std::string const& lastError() const noexcept { return lastError_; }

 private:
  struct KeyState;
  struct Table;
  struct Mirror;
  struct ChildWatch;
  struct FlushTask;
  enum class ScanMode : uint8_t { source, mirrorLoad, mirrorKnown };

  std::unique_ptr<Table> tableMake(RedisTableSpec const& spec);
  void connectAll(std::chrono::milliseconds timeout);
  void lost(std::string const& why);
  void resync();
  struct ScanJob;
  struct KeyRead;
  void scanTables(ScanMode mode, std::function<void()> done);
  void scanStep(std::shared_ptr<ScanJob> job, std::string const& cursor, std::shared_ptr<void> previous);
  void keyRead(KeyRead* k);
  void loadDone(Table& t, std::string const& keyText, bool intoEntity, RedisReply const& r);
  void readKey(Table& t, std::string const& keyText);
  void readDone(Table& t, std::string const& keyText, RedisReply const& r);
  void applySource(Table& t, std::string const& keyText, RedisValue const& value);
  void sourceScanEnd(Table& t);
  void bad(Table& t, std::string const& keyText, std::string const& why);
  void onEvent(RedisReply const& r);
  void flushWanted();
  void flushRun(bool all);
  void note(std::string const& line);

  RedisStoreOptions options_;
  std::unique_ptr<RedisConnection> cmd_;
  std::unique_ptr<RedisConnection> sub_;
  std::shared_ptr<PayloadInterner> interner_;
  std::vector<std::unique_ptr<Table>> sources_;
  std::vector<std::unique_ptr<Table>> mirrors_;
  std::unique_ptr<FlushTask> flush_;
  size_t subscribed_ = 0;                  // patterns the server confirmed
  std::function<void()> subscribedDone_;  // called once every pattern is confirmed
  size_t resyncing_ = 0;                   // 1 while the mirror tables are read again
  Counters counters_;
  std::string lastError_;
  std::chrono::steady_clock::time_point nextConnect_{};
  bool started_ = false;
  bool following_ = false;
  bool down_ = false;
};

}  // namespace Corvane
