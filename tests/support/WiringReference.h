// The typical wiring's outputs as functions of its inputs alone, for the tests
// that drive the whole wiring (the system test, the fault tests): the reference,
// what the SMs actually wrote in the same shapes, and a comparison that prints the
// keys that differ.
#pragma once

#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "examples/wiring/TypicalWiring.h"

namespace CorvaneTest {

using TcamSets = std::map<Corvane::IntfId, std::set<Corvane::SystemTcamId>>;
using PortMapSets = std::map<Corvane::IntfId, std::set<Corvane::PortMap>>;
using PayloadMap = std::map<Corvane::IntfId, Corvane::FeatureConfigBase const*>;

struct Reference {
  std::map<Corvane::IntfId, Corvane::IntfId> portToLag;
  TcamSets intfToTcamSet;
  PortMapSets intfToPortMapSet;
  std::map<Corvane::PortMap, Corvane::IntfId> portMapToIntf;
  PayloadMap memberConfig;
  std::map<Corvane::IntfIdSystemTcamId, Corvane::FeatureConfigBase const*> tcamConfig;
  std::map<Corvane::IntfIdPortMap, Corvane::FeatureConfigBase const*> portMapConfig;
  std::map<Corvane::IntfId, std::map<Corvane::SystemTcamId, Corvane::FeatureStatusBase const*>> perTcamStatus;
  std::map<Corvane::IntfId, ExampleFeature::State> featureStatus;
};

// The LAG a port is configured into, if any.
std::optional<Corvane::IntfId> configuredLag(Lag::Config const& lags, Corvane::IntfId port);
// The port maps a port map stands for, its wildcard FAP and core ids expanded.
std::vector<Corvane::PortMap> expansion(Corvane::PortMap const& pm, uint16_t maxFaps, uint16_t maxCores);

// Every output as the reference computes it from the wiring's inputs. The topology
// outputs (intfToTcamSet, intfToPortMapSet, portMapToIntf) are exact when no two
// port maps in use have expansions that meet and no LAG id has a TCAM or port map
// of its own; otherwise they depend on the order of events, and a test passes the
// SMs' own `topology` to compute the outputs that follow from them.
Reference reference(ExampleWiring::Wiring const& w, Reference const* topology = nullptr);
// With order-dependent inputs: every key of the topology outputs in `got` has a
// source in the inputs (an interface's TCAM or expanded port map, or an owner among
// the interfaces whose port maps expand to the key), as `bound` (the reference
// computed without `topology`) says; prints what has none.
bool topologyWithinBounds(ExampleWiring::Wiring const& w, Reference const& bound, Reference const& got);
// What the SMs wrote, in the reference's shapes.
Reference actual(ExampleWiring::Wiring const& w);

// ---- text forms, for the messages ------------------------------------------------

template <class T>
std::string text(T const& v) {
  std::ostringstream os;
  os << v;
  return os.str();
}
std::string text(Corvane::FeatureConfigBase const* p);
std::string text(Corvane::FeatureStatusBase const* p);
template <class T>
std::string text(std::set<T> const& s) {
  std::string out = "{";
  for (auto const& v : s) out += (out.size() > 1 ? ", " : "") + text(v);
  return out + "}";
}
template <class K, class V>
std::string text(std::map<K, V> const& m) {
  std::string out = "{";
  for (auto const& [k, v] : m) out += (out.size() > 1 ? ", " : "") + text(k) + ": " + text(v);
  return out + "}";
}

// Compares one output; prints up to a few differing keys to stderr.
template <class K, class V>
bool same(char const* name, std::map<K, V> const& want, std::map<K, V> const& got) {
  if (want == got) return true;
  std::fprintf(stderr, "  %s differs from the reference:\n", name);
  int shown = 0;
  for (auto const& [k, v] : want) {
    auto it = got.find(k);
    if (it != got.end() && it->second == v) continue;
    if (++shown > 8) break;
    std::fprintf(stderr, "    %s: want %s, got %s\n", text(k).c_str(), text(v).c_str(),
                 it == got.end() ? "nothing" : text(it->second).c_str());
  }
  for (auto const& [k, v] : got) {
    if (want.contains(k)) continue;
    if (++shown > 8) break;
    std::fprintf(stderr, "    %s: want nothing, got %s\n", text(k).c_str(), text(v).c_str());
  }
  return false;
}

// Compares the outputs that SM `k` writes, or every output when `k` is absent.
bool outputsSame(Reference const& want, Reference const& got,
                 std::optional<ExampleWiring::SmKind> k = std::nullopt);

}  // namespace CorvaneTest
