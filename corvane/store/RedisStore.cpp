#include "corvane/store/RedisStore.h"

#include <algorithm>
#include <deque>
#include <unordered_map>
#include <unordered_set>

#include <fmt/format.h>

#include "corvane/framework/Errors.h"
#include "corvane/framework/Reflection.h"
#include "corvane/store/KeyTable.h"

namespace Corvane {

namespace {

// SCAN and PSUBSCRIBE take glob patterns: a prefix is matched as written.
std::string globEscaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '*' || c == '?' || c == '[' || c == ']' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

char const* readCommand(RedisValue::Kind kind) {
  switch (kind) {
    case RedisValue::Kind::set:
      return "SMEMBERS";
    case RedisValue::Kind::hash:
      return "HGETALL";
    default:
      return "GET";
  }
}

// The keyspace classes the store hears: generic (del, rename, expire), string,
// set, hash, expired and evicted keys.
constexpr std::string_view keyspaceFlags = "Kg$shxe";

}  // namespace

// What a mirror knows of one key of its table. A key has a record while Redis
// holds something under it, while it waits for its flush, or while its entry's
// child entity is followed.
struct RedisStore::KeyState {
  std::string held;   // what Redis holds (RedisValue::packed(); empty: nothing)
  bool foreign = false;  // Redis holds something no entry yields (not read back)
  bool invalid = false;  // no entry can have this key: its flush deletes it
  bool dirty = false;    // queued for the flush
  std::unique_ptr<ChildWatch> watch;
};

struct RedisStore::Table {
  std::string name;
  std::string prefix;  // "<keyPrefix><name>:"
  std::unique_ptr<TableCodec> codec;
  std::unordered_set<std::string> reported;  // bad keys already in the log

  // Sources: the keys read since the current scan began (when its entity held any).
  std::unordered_set<std::string> seen;
  bool scanning = false;
  bool seenTracked = false;

  // Mirrors: every key's record, and the keys waiting to be compared with Redis
  // (a record is never erased while it waits).
  using Keys = KeyTable<KeyState>;
  using Entry = Keys::Record;
  Keys keys;
  std::deque<Entry*> dirtyOrder;
  std::unique_ptr<Mirror> follower;
};

// Follows a child entity of a mirror's entry: any change of it marks the entry.
struct RedisStore::ChildWatch : Subscriber {
  Mirror* mirror = nullptr;
  Table::Entry* key = nullptr;
  Ptr<Node const> child;
  void dispatch(uint32_t, void const*) override;
  ~ChildWatch() override { static_cast<Entity const*>(child.get())->subscriberRemove(this); }
};

// Follows a mirror's entity (and each child entity of its entries): every change
// marks its key. Never throws: a subscriber that throws would cost other
// subscribers their notification.
struct RedisStore::Mirror : Subscriber {
  RedisStore* store = nullptr;
  Table* table = nullptr;

  void dispatch(uint32_t attrId, void const* key) override {
    if (attrId != table->codec->attrId() || !key) return;
    Table::Entry& entry = table->keys.findOrAdd(table->codec->keyText(key));
    mark(entry);
    if (table->codec->hasChildren()) watch(entry, table->codec->child(entry.key));
  }
  void mark(Table::Entry& entry) {
    if (!entry.state.dirty) {
      entry.state.dirty = true;
      table->dirtyOrder.push_back(&entry);
    }
    store->flushWanted();
  }
  void watch(Table::Entry& entry, Node const* child) {
    std::unique_ptr<ChildWatch>& w = entry.state.watch;
    if (w && w->child.get() == child) return;
    w.reset();
    auto const* entity = dynamic_cast<Entity const*>(child);
    if (!entity) return;
    w = std::make_unique<ChildWatch>();
    w->mirror = this;
    w->key = &entry;
    w->child = Ptr<Node const>(child);
    entity->subscriberAdd(w.get());
  }
  void start() {
    table->codec->entity().subscriberAdd(this);
    if (table->codec->hasChildren()) {
      table->codec->keys([&](std::string const& k, Node const* child) { watch(table->keys.findOrAdd(k), child); });
    }
  }
  ~Mirror() override {
    table->codec->entity().subscriberRemove(this);
    table->keys.forEach([](Table::Entry& e) { e.state.watch.reset(); });
  }
};

void RedisStore::ChildWatch::dispatch(uint32_t, void const*) { mirror->mark(*key); }

struct RedisStore::FlushTask : Subscriber {
  RedisStore* store = nullptr;
  Ptr<Task> task;
  void dispatch(uint32_t attrId, void const*) override {
    if (attrId == Task::attrRun) store->flushRun(false);
  }
  ~FlushTask() override {
    if (task) task->subscriberRemove(this);
  }
};

RedisStore::RedisStore(RedisStoreOptions options)
    : options_(std::move(options)),
      cmd_(std::make_unique<RedisConnection>(options_.address)),
      sub_(std::make_unique<RedisConnection>(options_.address)),
      interner_(std::make_shared<PayloadInterner>()) {
  flush_ = std::make_unique<FlushTask>();
  flush_->store = this;
  Ptr<TaskScheduler> s = options_.scheduler ? options_.scheduler : TaskSchedulerRoot::findOrCreateScheduler();
  flush_->task = Task::TaskIs(std::move(s), options_.flushPriority, "RedisStore-flush");
  flush_->task->subscriberAdd(flush_.get());
}

RedisStore::~RedisStore() {
  for (auto& t : mirrors_) t->follower.reset();
  flush_.reset();
}

std::string RedisStore::key(std::string const& table, std::string const& keyText) const {
  return fmt::format("{}{}:{}", options_.keyPrefix, table, keyText);
}

void RedisStore::note(std::string const& line) {
  if (options_.log) options_.log(line);
}

void RedisStore::sourceIs(RedisTableSpec const& spec) { sources_.push_back(tableMake(spec)); }

void RedisStore::mirrorIs(RedisTableSpec const& spec) { mirrors_.push_back(tableMake(spec)); }

std::unique_ptr<RedisStore::Table> RedisStore::tableMake(RedisTableSpec const& spec) {
  if (started_) throw InternalError("RedisStore: a table added after start()");
  // A key is split at the first ':' after the prefix: the table's name has none.
  if (spec.name.empty() || spec.name.find(':') != std::string::npos) {
    throw InternalError("RedisStore: '" + spec.name + "' is not a table name");
  }
  for (auto const* tables : {&sources_, &mirrors_}) {
    for (auto const& t : *tables) {
      if (t->name == spec.name) throw InternalError("RedisStore: two tables named " + spec.name);
    }
  }
  auto t = std::make_unique<Table>();
  t->name = spec.name;
  t->prefix = options_.keyPrefix + spec.name + ":";
  t->codec = std::make_unique<TableCodec>(spec.entity, spec.attribute, spec.payloadType, interner_);
  return t;
}

bool RedisStore::connected() const noexcept { return !down_ && cmd_->connected() && sub_->connected(); }

void RedisStore::connectAll(std::chrono::milliseconds timeout) {
  cmd_->connect(timeout);
  sub_->connect(timeout);
  for (RedisConnection* c : {cmd_.get(), sub_.get()}) {
    if (!options_.password.empty()) {
      std::vector<std::string> auth{"AUTH"};
      if (!options_.user.empty()) auth.push_back(options_.user);
      auth.push_back(options_.password);
      std::string failed;
      c->command(auth, [&](RedisReply const& r) {
        if (r.isError()) failed = std::string(r.str());
      });
      c->drain(timeout);
      if (!failed.empty()) throw RedisError(fmt::format("redis {}: AUTH: {}", options_.address.text(), failed));
    }
    std::string failed;
    c->command({"SELECT", std::to_string(options_.database)}, [&](RedisReply const& r) {
      if (r.isError()) failed = std::string(r.str());
    });
    c->drain(timeout);
    if (!failed.empty()) throw RedisError(fmt::format("redis {}: SELECT: {}", options_.address.text(), failed));
  }
  // Keyspace events must be on for the classes the store hears; a user the server
  // does not let read its configuration is taken to have them on.
  std::string flags;
  bool readable = false;
  cmd_->command({"CONFIG", "GET", "notify-keyspace-events"}, [&](RedisReply const& r) {
    readable = r.size() == 2;
    if (readable) flags = std::string(r[1].str());
  });
  cmd_->drain(timeout);
  std::string wanted = flags;
  for (char f : readable ? keyspaceFlags : std::string_view()) {
    if (flags.find(f) == std::string::npos && !(f != 'K' && f != 'E' && flags.find('A') != std::string::npos)) {
      wanted += f;
    }
  }
  if (wanted != flags) {
    cmd_->command({"CONFIG", "SET", "notify-keyspace-events", wanted}, [&](RedisReply const& r) {
      if (r.isError()) note(fmt::format("redis: keyspace events could not be switched on: {}", r.str()));
    });
    cmd_->drain(timeout);
  }
  sub_->subscriberModeIs([this](RedisReply const& r) { onEvent(r); });
  subscribed_ = 0;
  for (auto& t : sources_) {
    sub_->command({"PSUBSCRIBE", fmt::format("__keyspace@{}__:{}*", options_.database, globEscaped(t->prefix))});
  }
}

void RedisStore::start(std::chrono::milliseconds timeout) {
  if (started_) return;
  started_ = true;
  connectAll(timeout);
  auto const deadline = std::chrono::steady_clock::now() + timeout;
  auto waitFor = [&](bool const& done, char const* what) {
    while (!done) {
      auto const left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) throw RedisError(fmt::format("redis {}: {} took longer than {} ms", options_.address.text(), what, timeout.count()));
      std::vector<pollfd> fds;
      pollFds(fds);
      int const n = ::poll(fds.data(), fds.size(), int(std::min<int64_t>(left.count(), 100)));
      if (n > 0) pollEvents(fds);
      if (down_) throw RedisError(lastError_);
    }
  };
  // The outputs an earlier run left, before anything can change them.
  bool loaded = mirrors_.empty();
  if (!loaded) scanTables(ScanMode::mirrorLoad, [&] { loaded = true; });
  waitFor(loaded, "loading the outputs");
  for (auto& t : mirrors_) {
    t->follower = std::make_unique<Mirror>();
    t->follower->store = this;
    t->follower->table = t.get();
    t->follower->start();
    // What did not read back goes at the first flush.
    t->keys.forEach([&](Table::Entry& e) {
      if (e.state.foreign || e.state.invalid) t->follower->mark(e);
    });
  }
  following_ = true;
  // Subscribed before the scan: a change made while it runs is heard.
  bool subscribed = subscribed_ == sources_.size();
  subscribedDone_ = [&] { subscribed = true; };
  waitFor(subscribed, "subscribing");
  subscribedDone_ = nullptr;
  bool read = sources_.empty();
  if (!read) scanTables(ScanMode::source, [&] { read = true; });
  waitFor(read, "loading the inputs");
}

// One pass of SCAN over every table of a kind (one pass over the keyspace, not one
// per table: SCAN walks every key whatever its pattern). The job belongs to the
// command waiting for its reply, so a connection lost midway frees it.
struct RedisStore::ScanJob {
  ScanMode mode;
  std::string pattern;
  std::unordered_map<std::string, Table*> byName;
  std::function<void()> done;
};

// A key to read, and where its reply goes. The reads of one page of SCAN live in
// one array that the command after them (the next SCAN, or the last PING) owns:
// replies come in order, so when that command's reply comes every read's has, and
// a connection lost midway drops every handler uncalled. Each read's handler holds
// one pointer and needs no memory of its own.
struct RedisStore::KeyRead {
  RedisStore* store;
  Table* table;
  std::string keyText;
  ScanMode mode;
};

void RedisStore::scanTables(ScanMode mode, std::function<void()> done) {
  auto job = std::make_shared<ScanJob>();
  job->mode = mode;
  job->pattern = globEscaped(options_.keyPrefix) + "*";
  job->done = std::move(done);
  for (auto& t : mode == ScanMode::source ? sources_ : mirrors_) {
    job->byName.emplace(t->name, t.get());
    if (mode == ScanMode::source) {
      t->seen.clear();
      t->scanning = true;
      // Keys can vanish only from an entity that held some when the scan began.
      t->seenTracked = !t->codec->empty();
    } else {
      // Read again from nothing: a record stays while its key waits or is followed.
      t->keys.forEach([&](Table::Entry& e) {
        e.state.held.clear();
        e.state.foreign = false;
        if (!e.state.dirty && !e.state.watch) t->keys.erase(e);
      });
    }
  }
  scanStep(std::move(job), "0", nullptr);
}

void RedisStore::scanStep(std::shared_ptr<ScanJob> job, std::string const& cursor, std::shared_ptr<void> previous) {
  cmd_->command({"SCAN", cursor, "MATCH", job->pattern, "COUNT", std::to_string(options_.scanCount)},
                [this, job, previous](RedisReply const& r) {
                  if (r.isError() || r.size() != 2) {
                    lost(fmt::format("redis: SCAN: {}", r.text()));
                    return;
                  }
                  RedisReply const keys = r[1];
                  size_t const skip = options_.keyPrefix.size();
                  auto page = std::make_shared<std::vector<KeyRead>>();
                  page->reserve(keys.size());
                  for (size_t i = 0; i < keys.size(); ++i) {
                    std::string_view const key = keys[i].str();
                    size_t const colon = key.find(':', skip);
                    if (colon == std::string_view::npos) continue;
                    auto const t = job->byName.find(std::string(key.substr(skip, colon - skip)));
                    if (t == job->byName.end()) continue;  // another table's key, or nobody's
                    page->push_back(KeyRead{this, t->second, std::string(key.substr(colon + 1)), job->mode});
                  }
                  for (KeyRead& k : *page) keyRead(&k);
                  std::string const next(r[0].str());
                  if (next != "0") {
                    scanStep(job, next, page);
                    return;
                  }
                  cmd_->command({"PING"}, [this, job, page](RedisReply const&) {
                    if (job->mode == ScanMode::source) {
                      for (auto const& [name, t] : job->byName) sourceScanEnd(*t);
                    }
                    job->done();
                  });
                });
}

void RedisStore::keyRead(KeyRead* k) {
  Table& t = *k->table;
  if (k->mode == ScanMode::source && t.scanning && t.seenTracked) t.seen.insert(k->keyText);
  RedisValue::Kind const kind = t.codec->kind();
  cmd_->command({readCommand(kind), t.prefix + k->keyText}, [k](RedisReply const& r) {
    if (k->mode == ScanMode::source) {
      k->store->readDone(*k->table, k->keyText, r);
    } else {
      k->store->loadDone(*k->table, k->keyText, k->mode == ScanMode::mirrorLoad, r);
    }
  });
}

void RedisStore::loadDone(Table& t, std::string const& keyText, bool intoEntity, RedisReply const& r) {
  RedisValue::Kind const kind = t.codec->kind();
  RedisValue value;
  if (!redisValueFromReply(kind, r, value)) {
    // The next flush of the key deletes or replaces what is there.
    KeyState& state = t.keys.findOrAdd(keyText).state;
    state.held.clear();
    state.foreign = true;
    bad(t, keyText, r.isError() ? std::string(r.str()) : fmt::format("not read by {}", readCommand(kind)));
    return;
  }
  if (value.absent()) return;
  KeyState& state = t.keys.findOrAdd(keyText).state;
  state.held = value.packed();
  state.foreign = false;
  if (!intoEntity) return;
  std::string why;
  if (value.textBytes() > options_.maxValueBytes) {
    why = fmt::format("{} bytes, more than {}", value.textBytes(), options_.maxValueBytes);
  } else {
    try {
      t.codec->write(keyText, value);
      return;
    } catch (std::exception const& e) {
      why = e.what();
    }
  }
  bad(t, keyText, why);
  // What did not read into the entity is what no entry yields.
  state.foreign = true;
  try {
    t.codec->keyCheck(keyText);
  } catch (std::exception const&) {
    state.invalid = true;
  }
}

void RedisStore::readKey(Table& t, std::string const& keyText) {
  // A key made while a scan runs may not be in it: what an event reads was seen.
  if (t.scanning && t.seenTracked) t.seen.insert(keyText);
  RedisValue::Kind const kind = t.codec->kind();
  cmd_->command({readCommand(kind), t.prefix + keyText},
                [this, &t, keyText](RedisReply const& r) { readDone(t, keyText, r); });
}

void RedisStore::readDone(Table& t, std::string const& keyText, RedisReply const& r) {
  RedisValue::Kind const kind = t.codec->kind();
  RedisValue value;
  if (!redisValueFromReply(kind, r, value)) {
    bad(t, keyText, r.isError() ? std::string(r.str()) : "not a Redis " + std::string(readCommand(kind)));
    value = RedisValue();
  } else if (value.textBytes() > options_.maxValueBytes) {
    bad(t, keyText, fmt::format("{} bytes, more than {}", value.textBytes(), options_.maxValueBytes));
    value = RedisValue();
  }
  applySource(t, keyText, value);
}

void RedisStore::applySource(Table& t, std::string const& keyText, RedisValue const& value) {
  try {
    t.codec->write(keyText, value);
    if (!value.absent()) t.reported.erase(keyText);
    ++counters_.sourceApplied;
  } catch (std::exception const& e) {
    bad(t, keyText, e.what());
    try {
      t.codec->write(keyText, RedisValue());  // a bad entry counts as absent
    } catch (std::exception const&) {
      // The key itself does not parse: the entity cannot hold it.
    }
  }
}

void RedisStore::sourceScanEnd(Table& t) {
  t.scanning = false;
  if (!t.seenTracked) return;
  // What the entity holds and the scan did not find vanished while the store was away.
  std::vector<std::string> gone;
  t.codec->keys([&](std::string const& k, Node const*) {
    if (!t.seen.count(k)) gone.push_back(k);
  });
  t.seen.clear();
  for (std::string const& k : gone) applySource(t, k, RedisValue());
}

void RedisStore::bad(Table& t, std::string const& keyText, std::string const& why) {
  ++counters_.badEntries;
  lastError_ = fmt::format("{}{}: {}", t.prefix, keyText, why);
  if (t.reported.insert(keyText).second) note(fmt::format("bad entry {}{}: {}", t.prefix, keyText, why));
}

void RedisStore::onEvent(RedisReply const& r) {
  if (r.isError()) {
    // A subscription refused (an ACL without the channel): nothing would be heard.
    lost(fmt::format("redis {}: {}", options_.address.text(), r.str()));
    return;
  }
  if (r.size() == 3 && r[0].str() == "psubscribe") {
    if (++subscribed_ == sources_.size() && subscribedDone_) subscribedDone_();
    return;
  }
  if (r.size() != 4 || r[0].str() != "pmessage") return;
  std::string_view channel = r[2].str();
  size_t const colon = channel.find(':');
  if (colon == std::string_view::npos) return;
  std::string_view const key = channel.substr(colon + 1);
  for (auto& t : sources_) {
    if (key.size() > t->prefix.size() && key.starts_with(t->prefix)) {
      ++counters_.eventsHeard;
      readKey(*t, std::string(key.substr(t->prefix.size())));
      return;
    }
  }
}

void RedisStore::pollFds(std::vector<pollfd>& fds) const {
  for (RedisConnection const* c : {cmd_.get(), sub_.get()}) {
    if (c->connected()) fds.push_back(pollfd{c->fd(), short(POLLIN | (c->wantsWrite() ? POLLOUT : 0)), 0});
  }
}

void RedisStore::pollEvents(std::vector<pollfd> const& fds) {
  for (pollfd const& p : fds) {
    for (RedisConnection* c : {cmd_.get(), sub_.get()}) {
      if (!c->connected() || c->fd() != p.fd) continue;
      bool ok = true;
      if (p.revents & POLLOUT) ok = c->writable();
      if (ok && (p.revents & (POLLIN | POLLHUP | POLLERR))) ok = c->readable();
      if (!ok) lost(c->lastError());
      break;
    }
  }
}

void RedisStore::lost(std::string const& why) {
  if (down_) return;
  down_ = true;
  lastError_ = why;
  note(fmt::format("redis connection lost: {}", why));
  cmd_->close();
  sub_->close();
  for (auto& t : sources_) t->scanning = false;
  nextConnect_ = std::chrono::steady_clock::now();
}

int RedisStore::pollTimeoutMs() const {
  if (!down_) return -1;
  auto const left = std::chrono::duration_cast<std::chrono::milliseconds>(nextConnect_ - std::chrono::steady_clock::now());
  return int(std::max<int64_t>(0, left.count()));
}

void RedisStore::tick() {
  if (down_ && std::chrono::steady_clock::now() >= nextConnect_) {
    nextConnect_ = std::chrono::steady_clock::now() + reconnectEvery;
    try {
      down_ = false;
      connectAll(std::chrono::milliseconds(1000));
    } catch (std::exception const& e) {
      down_ = true;
      cmd_->close();
      sub_->close();
      lastError_ = e.what();
      return;
    }
    ++counters_.reconnects;
    note(fmt::format("redis {}: connected again", options_.address.text()));
    resync();
  }
  if (!down_ && cmd_->wantsWrite() && !cmd_->writable()) lost(cmd_->lastError());
}

// After a reconnection Redis may be another server, or the same one emptied: the
// mirrors read their tables again and compare everything, the sources scan again
// once subscribed.
void RedisStore::resync() {
  if (!mirrors_.empty()) {
    resyncing_ = 1;
    scanTables(ScanMode::mirrorKnown, [this] {
      for (auto& t : mirrors_) {
        t->codec->keys([&](std::string const& k, Node const*) { t->keys.findOrAdd(k); });
        t->keys.forEach([&](Table::Entry& e) { t->follower->mark(e); });
      }
      resyncing_ = 0;
      flushWanted();
    });
  }
  subscribedDone_ = [this] {
    if (!sources_.empty()) scanTables(ScanMode::source, [] {});
  };
  if (sources_.empty()) subscribedDone_();
}

void RedisStore::flushWanted() {
  if (!following_ || down_ || resyncing_ != 0 || flush_->task->scheduled()) return;
  for (auto const& t : mirrors_) {
    if (!t->dirtyOrder.empty()) {
      flush_->task->scheduleTask();
      return;
    }
  }
}

void RedisStore::flushRun(bool all) {
  if (down_ || resyncing_ != 0) return;
  std::vector<std::vector<std::string>> cmds;
  uint32_t n = 0;
  // Keys written since MULTI, plus one (0: no transaction open). A transaction
  // holds the server for its whole length: it is closed after this many keys.
  uint32_t inTransaction = 0;
  constexpr uint32_t maxTransactionKeys = 256;
  for (auto& t : mirrors_) {
    while (!t->dirtyOrder.empty()) {
      Table::Entry& entry = *t->dirtyOrder.front();
      t->dirtyOrder.pop_front();
      std::string const& k = entry.key;
      KeyState& state = entry.state;
      state.dirty = false;
      RedisValue now;
      if (!state.invalid) {
        try {
          now = t->codec->read(k);
        } catch (std::exception const& e) {
          bad(*t, k, e.what());
        }
      }
      std::string packed = now.packed();
      ++counters_.keysCompared;
      if (state.foreign || packed != state.held) {
        // Something no entry yields is taken for a one-byte string: SET replaces
        // it, anything else deletes it first.
        RedisValue const was = state.foreign ? RedisValue::ofString(std::string(1, '\0')) : RedisValue::unpacked(state.held);
        cmds.clear();
        redisWriteCommands(t->prefix + k, was, now, cmds);
        if (!cmds.empty()) {
          // A reader never sees half an entry: from the first entry written with
          // more than one command, the rest of the batch is one transaction.
          if (cmds.size() > 1 && inTransaction == 0) {
            cmd_->command({"MULTI"});
            inTransaction = 1;
          }
          for (auto const& c : cmds) cmd_->command(c);
          if (inTransaction != 0 && ++inTransaction > maxTransactionKeys) {
            cmd_->command({"EXEC"});
            inTransaction = 0;
          }
          ++counters_.keysWritten;
          counters_.commandsWritten += cmds.size();
        }
        state.held = std::move(packed);
        state.foreign = false;
      }
      if (state.held.empty()) {
        state.invalid = false;
        if (!state.watch) t->keys.erase(entry);
      }
      if (!all && ++n % 32 == 0 && flush_->task->taskShouldYield()) {
        if (inTransaction != 0) cmd_->command({"EXEC"});
        flush_->task->scheduleTask();
        tick();
        return;
      }
    }
  }
  if (inTransaction != 0) cmd_->command({"EXEC"});
  tick();
}

void RedisStore::flushNow(std::chrono::milliseconds timeout) {
  flushRun(true);
  if (!down_) cmd_->drain(timeout);
}

bool RedisStore::flushed() const noexcept {
  for (auto const& t : mirrors_) {
    if (!t->dirtyOrder.empty()) return false;
  }
  return !cmd_->wantsWrite() && cmd_->pending() == 0;
}

}  // namespace Corvane
