// A small fixed world for the fault tests: inputs for every SM of the typical
// wiring (ports on TCAMs, two LAGs in the hardware and in the configuration, port
// maps with wildcards, feature payloads), one change of every input, and which SMs
// read, directly or not, what an SM writes.
#pragma once

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "examples/wiring/TypicalWiring.h"

namespace CorvaneTest {

// Fills the wiring's inputs (its outputs stay as they are).
void populate(ExampleWiring::Wiring& w);
// Changes every input once: moves, additions, deletions, a replaced element
// object, a replaced payload, a failing hardware entry.
void changeEveryInput(ExampleWiring::Wiring& w);
// The SMs that read what `k` writes, and those that read what they write, and so on.
std::vector<ExampleWiring::SmKind> downstreamOf(ExampleWiring::SmKind k);
// The entity SM `k` writes (for IntfFeatureStatusSm: what its output SM writes).
Corvane::Ptr<Corvane::Entity> outputOf(ExampleWiring::Wiring const& w, ExampleWiring::SmKind k);
// The entities SM `k` reads.
std::vector<Corvane::Ptr<Corvane::Entity>> inputsOf(ExampleWiring::Wiring const& w, ExampleWiring::SmKind k);
// The engine machine of SM `k` (for IntfFeatureStatusSm: its output SM); null while stopped.
Corvane::RootSm* rootSmOf(ExampleWiring::Wiring const& w, ExampleWiring::SmKind k);

// Objects live in each slab pool of the process, and the pools whose count is no
// longer what `before` says ("" when none), for the checks after a teardown.
using SlabCounts = std::map<Corvane::SlabPool const*, uint64_t>;
SlabCounts slabCounts();
std::string slabCountsChanged(SlabCounts const& before);

// Names the cases of a suite run for every SM, synchronous and asynchronous.
std::string smCaseName(::testing::TestParamInfo<std::tuple<ExampleWiring::SmKind, bool>> const& info);

}  // namespace CorvaneTest
