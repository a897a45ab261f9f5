// The Redis tables of the typical wiring: which entity collection each table
// holds, its name in Redis keys, and whether the agent reads it (an input) or
// writes it (an output). docs/agent.md lists them with an example of each.
#pragma once

#include <string>
#include <vector>

#include "corvane/store/RedisStore.h"
#include "examples/wiring/TypicalWiring.h"

namespace CorvaneAgent {

struct TableBinding {
  Corvane::RedisTableSpec spec;
  bool input;
};

// Every table of `w`, inputs first.
std::vector<TableBinding> wiringTables(ExampleWiring::Wiring& w);

// Binds every table of `w` to `store`: inputs as sources, outputs as mirrors.
inline void bindWiring(Corvane::RedisStore& store, ExampleWiring::Wiring& w) {
  for (TableBinding const& t : wiringTables(w)) {
    if (t.input) {
      store.sourceIs(t.spec);
    } else {
      store.mirrorIs(t.spec);
    }
  }
}

}  // namespace CorvaneAgent
