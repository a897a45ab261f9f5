#include "tools/sim/Scenario.h"

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <set>
#include <sstream>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

namespace Sim {

using json = nlohmann::json;
using ExampleWiring::SmKind;
using Hardware::Velt::FapId;
using Hardware::Velt::FapPortId;
using Hardware::Velt::LocalCoreId;

namespace {

struct OpInfo {
  OpKind kind;
  char const* name;
};
constexpr OpInfo opInfos[] = {
    {OpKind::setTcam, "setTcam"},
    {OpKind::delTcam, "delTcam"},
    {OpKind::setPortMap, "setPortMap"},
    {OpKind::delPortMap, "delPortMap"},
    {OpKind::holdPortMaps, "holdPortMaps"},
    {OpKind::releasePortMaps, "releasePortMaps"},
    {OpKind::addMember, "addMember"},
    {OpKind::removeMember, "removeMember"},
    {OpKind::setFeature, "setFeature"},
    {OpKind::delFeature, "delFeature"},
    {OpKind::failHardware, "failHardware"},
    {OpKind::recoverHardware, "recoverHardware"},
    {OpKind::stop, "stop"},
    {OpKind::start, "start"},
    {OpKind::restart, "restart"},
};

std::string opNames() {
  std::string s;
  for (auto const& o : opInfos) s += (s.empty() ? "" : ", ") + std::string(o.name);
  return s;
}

// Reads one scenario document, keeping the JSON path of the value at hand for errors.
class Reader {
 public:
  explicit Reader(std::string source) : source_(std::move(source)) {}

  [[noreturn]] void fail(std::string const& path, std::string const& what) const {
    throw ScenarioError(fmt::format("{}: {}: {}", source_, path.empty() ? "/" : path, what));
  }

  Scenario read(json const& doc) {
    Scenario s;
    object(doc, "", {"name", "description", "chip", "lagMemberExpansion", "interfaces", "lags", "features",
                     "failures", "steps"});
    s.name = doc.contains("name") ? string(doc["name"], "/name") : "unnamed";
    if (doc.contains("description")) s.description = string(doc["description"], "/description");
    if (doc.contains("chip")) {
      json const& chip = doc["chip"];
      object(chip, "/chip", {"maxFaps", "maxCores"});
      if (chip.contains("maxFaps")) s.maxFaps = uint16_t(number(chip["maxFaps"], "/chip/maxFaps", 1, 2046));
      if (chip.contains("maxCores")) s.maxCores = uint16_t(number(chip["maxCores"], "/chip/maxCores", 1, 4));
    }
    maxFaps_ = s.maxFaps;
    maxCores_ = s.maxCores;
    if (doc.contains("lagMemberExpansion")) {
      if (!doc["lagMemberExpansion"].is_boolean()) fail("/lagMemberExpansion", "expected true or false");
      s.lagMemberExpansion = doc["lagMemberExpansion"].get<bool>();
    }
    eachOf(doc, "interfaces", [&](json const& e, std::string const& p) { s.interfaces.push_back(interface(e, p)); });
    eachOf(doc, "lags", [&](json const& e, std::string const& p) { s.lags.push_back(lag(e, p)); });
    eachOf(doc, "features", [&](json const& e, std::string const& p) {
      object(e, p, {"interface", "vlan"});
      s.features.push_back({declared(required(e, p, "interface"), p + "/interface"),
                            number(required(e, p, "vlan"), p + "/vlan", 0, 4095)});
    });
    eachOf(doc, "failures", [&](json const& e, std::string const& p) {
      object(e, p, {"interface", "tcam"});
      s.failures.push_back(
          {declared(required(e, p, "interface"), p + "/interface"), tcam(required(e, p, "tcam"), p + "/tcam")});
    });
    eachOf(doc, "steps", [&](json const& e, std::string const& p) { s.steps.push_back(step(e, p)); });
    return s;
  }

 private:
  void object(json const& v, std::string const& path, std::initializer_list<char const*> keys) const {
    if (!v.is_object()) fail(path, fmt::format("expected an object, found {}", v.type_name()));
    for (auto const& [key, value] : v.items()) {
      bool known = false;
      for (char const* k : keys) known = known || key == k;
      if (!known) fail(path + "/" + key, "unknown key");
    }
  }

  json const& required(json const& obj, std::string const& path, char const* key) const {
    if (!obj.contains(key)) fail(path, fmt::format("missing key \"{}\"", key));
    return obj[key];
  }

  template <class F>
  void eachOf(json const& doc, char const* key, F&& fn) const {
    if (!doc.contains(key)) return;
    std::string path = std::string("/") + key;
    json const& list = doc[key];
    if (!list.is_array()) fail(path, fmt::format("expected an array, found {}", list.type_name()));
    for (std::size_t i = 0; i < list.size(); ++i) fn(list[i], fmt::format("{}/{}", path, i));
  }

  std::string string(json const& v, std::string const& path) const {
    if (!v.is_string()) fail(path, fmt::format("expected a string, found {}", v.type_name()));
    return v.get<std::string>();
  }

  uint32_t number(json const& v, std::string const& path, uint64_t min, uint64_t max) const {
    if (!v.is_number_integer()) fail(path, fmt::format("expected an integer, found {}", v.type_name()));
    if (v.is_number_unsigned() && v.get<uint64_t>() >= min && v.get<uint64_t>() <= max) return uint32_t(v.get<uint64_t>());
    if (!v.is_number_unsigned() && v.get<int64_t>() >= 0 && uint64_t(v.get<int64_t>()) >= min &&
        uint64_t(v.get<int64_t>()) <= max) {
      return uint32_t(v.get<int64_t>());
    }
    fail(path, fmt::format("{} is out of range ({} to {})", v.dump(), min, max));
  }

  IntfId name(json const& v, std::string const& path) const {
    std::string text = string(v, path);
    try {
      return IntfId(text);
    } catch (Corvane::ParseError const& e) {
      fail(path, e.what());
    }
  }

  IntfId declared(json const& v, std::string const& path) const {
    IntfId id = name(v, path);
    if (!declared_.contains(id.value())) {
      fail(path, fmt::format("unknown interface \"{}\" (declare it under /interfaces or /lags)", v.get<std::string>()));
    }
    return id;
  }

  IntfId declaredLag(json const& v, std::string const& path) const {
    IntfId id = declared(v, path);
    if (!lags_.contains(id.value())) fail(path, fmt::format("\"{}\" is not a LAG of /lags", v.get<std::string>()));
    return id;
  }

  SystemTcamId tcam(json const& v, std::string const& path) const {
    return SystemTcamId(uint16_t(number(v, path, 0, 2047)));
  }

  PortMap portMap(json const& v, std::string const& path) const {
    object(v, path, {"fap", "port", "core"});
    json const& f = required(v, path, "fap");
    json const& c = required(v, path, "core");
    // "*" is the wildcard: every FAP (every core) of the chip.
    uint32_t fap = f.is_string() && f.get<std::string>() == "*" ? FapId::wildcardA : number(f, path + "/fap", 0, 65535);
    uint32_t core =
        c.is_string() && c.get<std::string>() == "*" ? LocalCoreId::wildcardA : number(c, path + "/core", 0, 65535);
    uint32_t port = number(required(v, path, "port"), path + "/port", 0, 0xffffffffu);
    try {
      FapId fapId(fap);
      LocalCoreId coreId(core);
      if (!fapId.isWildcard() && fap >= maxFaps_) {
        fail(path + "/fap", fmt::format("FAP {} is outside the chip (FAPs 0 to {})", fap, maxFaps_ - 1));
      }
      if (!coreId.isWildcard() && core >= maxCores_) {
        fail(path + "/core", fmt::format("core {} is outside the chip (cores 0 to {})", core, maxCores_ - 1));
      }
      return PortMap(fapId, FapPortId(port), coreId);
    } catch (Corvane::RangeError const& e) {
      fail(path + (fap > FapId::null ? "/fap" : "/core"), e.what());
    }
  }

  InterfaceSpec interface(json const& e, std::string const& p) {
    object(e, p, {"name", "tcam", "portMap"});
    InterfaceSpec spec;
    spec.id = name(required(e, p, "name"), p + "/name");
    if (spec.id.isPortChannelIntfId()) fail(p + "/name", "a LAG belongs under /lags");
    if (!declared_.insert(spec.id.value()).second) fail(p + "/name", "interface declared twice");
    if (e.contains("tcam")) spec.tcam = tcam(e["tcam"], p + "/tcam");
    if (e.contains("portMap")) spec.portMap = portMap(e["portMap"], p + "/portMap");
    return spec;
  }

  LagSpec lag(json const& e, std::string const& p) {
    object(e, p, {"name", "members"});
    LagSpec spec;
    spec.id = name(required(e, p, "name"), p + "/name");
    if (!spec.id.isPortChannelIntfId()) fail(p + "/name", "a LAG's name is Port-Channel<n>");
    if (!declared_.insert(spec.id.value()).second) fail(p + "/name", "interface declared twice");
    lags_.insert(spec.id.value());
    if (e.contains("members")) {
      json const& m = e["members"];
      if (!m.is_array()) fail(p + "/members", fmt::format("expected an array, found {}", m.type_name()));
      for (std::size_t i = 0; i < m.size(); ++i) {
        std::string mp = fmt::format("{}/members/{}", p, i);
        IntfId member = declared(m[i], mp);
        if (lags_.contains(member.value())) fail(mp, "a LAG cannot be a member of a LAG");
        if (!members_.insert(member.value()).second) fail(mp, "port is already a member of a LAG");
        spec.members.push_back(member);
      }
    }
    return spec;
  }

  Step step(json const& e, std::string const& p) {
    object(e, p, {"title", "ops"});
    Step s;
    s.title = string(required(e, p, "title"), p + "/title");
    json const& ops = required(e, p, "ops");
    if (!ops.is_array()) fail(p + "/ops", fmt::format("expected an array, found {}", ops.type_name()));
    for (std::size_t i = 0; i < ops.size(); ++i) s.ops.push_back(op(ops[i], fmt::format("{}/ops/{}", p, i)));
    return s;
  }

  Op op(json const& e, std::string const& p) {
    if (!e.is_object()) fail(p, fmt::format("expected an object, found {}", e.type_name()));
    std::string name = string(required(e, p, "op"), p + "/op");
    Op op;
    bool found = false;
    for (auto const& o : opInfos) {
      if (name == o.name) {
        op.kind = o.kind;
        found = true;
      }
    }
    if (!found) fail(p + "/op", fmt::format("unknown op \"{}\" (known: {})", name, opNames()));
    auto intf = [&] { op.intf = declared(required(e, p, "interface"), p + "/interface"); };
    auto plainIntf = [&] {
      intf();
      if (lags_.contains(op.intf.value())) fail(p + "/interface", "not allowed on a LAG");
    };
    switch (op.kind) {
      case OpKind::setTcam:
        object(e, p, {"op", "interface", "tcam"});
        plainIntf();
        op.tcam = tcam(required(e, p, "tcam"), p + "/tcam");
        break;
      case OpKind::delTcam:
      case OpKind::delPortMap:
        object(e, p, {"op", "interface"});
        plainIntf();
        break;
      case OpKind::setPortMap:
        object(e, p, {"op", "interface", "portMap"});
        plainIntf();
        op.portMap = portMap(required(e, p, "portMap"), p + "/portMap");
        break;
      case OpKind::holdPortMaps:
      case OpKind::releasePortMaps:
        object(e, p, {"op"});
        break;
      case OpKind::addMember:
      case OpKind::removeMember:
        object(e, p, {"op", "lag", "interface", "in"});
        op.lag = declaredLag(required(e, p, "lag"), p + "/lag");
        plainIntf();
        if (e.contains("in")) {
          std::string in = string(e["in"], p + "/in");
          if (in == "config") {
            op.scope = LagScope::config;
          } else if (in == "hardware") {
            op.scope = LagScope::hardware;
          } else if (in != "both") {
            fail(p + "/in", fmt::format("\"{}\" is not one of config, hardware, both", in));
          }
        }
        break;
      case OpKind::setFeature:
        object(e, p, {"op", "interface", "vlan"});
        intf();
        op.vlan = number(required(e, p, "vlan"), p + "/vlan", 0, 4095);
        break;
      case OpKind::delFeature:
        object(e, p, {"op", "interface"});
        intf();
        break;
      case OpKind::failHardware:
      case OpKind::recoverHardware:
        object(e, p, {"op", "interface", "tcam"});
        intf();
        op.tcam = tcam(required(e, p, "tcam"), p + "/tcam");
        break;
      case OpKind::stop:
      case OpKind::start:
      case OpKind::restart: {
        object(e, p, {"op", "sm"});
        std::string sm = string(required(e, p, "sm"), p + "/sm");
        if (sm != "all") {
          op.sm = ExampleWiring::smKindFromName(sm);
          if (!op.sm) {
            std::string known;
            for (SmKind k : ExampleWiring::allSmKinds) known += std::string(", ") + ExampleWiring::smKindName(k);
            fail(p + "/sm", fmt::format("unknown SM \"{}\" (known: all{})", sm, known));
          }
        }
        break;
      }
    }
    return op;
  }

  std::string source_;
  uint32_t maxFaps_ = 4, maxCores_ = 2;
  std::set<uint64_t> declared_, lags_, members_;
};

}  // namespace

Scenario parseScenario(std::string_view text, std::string const& source) {
  json doc;
  try {
    doc = json::parse(text.begin(), text.end());
  } catch (json::exception const& e) {
    // A syntax error, or a number past what a double holds. Drop the library's
    // "[json.exception.parse_error.101] " tag.
    std::string what = e.what();
    auto tagEnd = what.find("] ");
    if (tagEnd != std::string::npos) what = what.substr(tagEnd + 2);
    throw ScenarioError(fmt::format("{}: not valid JSON: {}", source, what));
  }
  return Reader(source).read(doc);
}

Scenario loadScenarioFile(std::string const& path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) throw ScenarioError(fmt::format("{}: is a directory, not a file", path));
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ScenarioError(fmt::format("{}: cannot read the file", path));
  std::ostringstream text;
  text << in.rdbuf();
  return parseScenario(text.str(), path);
}

char const* opKindName(OpKind k) noexcept {
  for (auto const& o : opInfos) {
    if (o.kind == k) return o.name;
  }
  return "?";
}

std::string opText(Op const& op) {
  std::string s = opKindName(op.kind);
  switch (op.kind) {
    case OpKind::setTcam:
    case OpKind::failHardware:
    case OpKind::recoverHardware:
      return fmt::format("{} {} tcam {}", s, op.intf.stringValue(), op.tcam.value());
    case OpKind::delTcam:
    case OpKind::delPortMap:
    case OpKind::delFeature:
      return fmt::format("{} {}", s, op.intf.stringValue());
    case OpKind::setPortMap:
      return fmt::format("{} {} {}", s, op.intf.stringValue(), fmt::streamed(op.portMap));
    case OpKind::addMember:
    case OpKind::removeMember: {
      char const* scope = op.scope == LagScope::config ? " (configuration only)"
                          : op.scope == LagScope::hardware ? " (hardware only)"
                                                           : "";
      return fmt::format("{} {} {}{}", s, op.lag.stringValue(), op.intf.stringValue(), scope);
    }
    case OpKind::setFeature:
      return fmt::format("{} {} vlan {}", s, op.intf.stringValue(), op.vlan);
    case OpKind::holdPortMaps:
    case OpKind::releasePortMaps:
      return s;
    case OpKind::stop:
    case OpKind::start:
    case OpKind::restart:
      return fmt::format("{} {}", s, op.sm ? ExampleWiring::smKindName(*op.sm) : "all");
  }
  return s;
}

}  // namespace Sim
