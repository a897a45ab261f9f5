#include "corvane/framework/Directory.h"

#include <utility>

#include <fmt/format.h>

#include "corvane/framework/Reflection.h"
#include "corvane/framework/TypeRegistry.h"

namespace Corvane {

CORVANE_NODE_TYPE_DEFINE(Directory, "Corvane::Directory", NamedEntity)

Ptr<Directory> Directory::DirectoryIs(std::string const& name) { return Ptr<Directory>(new Directory(name)); }
Directory::Directory(std::string name) : NamedEntity(std::move(name)) {}
Directory::~Directory() = default;

Ptr<Node> Directory::entry(std::string_view name) const {
  auto const it = entry_.find(name);
  return it == entry_.end() ? Ptr<Node>() : it->second;
}

Ptr<Node> Directory::entityIs(std::string const& name, std::string_view typeName,
                              std::vector<std::string> const& args) {
  if (name.empty() || name.find('/') != std::string::npos) {
    throw ReflectionError(fmt::format("directory {}: '{}' is not an entry name", nameString(), name));
  }
  TypeData const& type = Reflect::type(typeName);
  TypeDescription const& d = Reflect::description(type);
  if (!d.createNamed && !d.create) {
    throw ReflectionError(fmt::format("type {} cannot be created in a directory", type.name()));
  }
  if (!args.empty()) throw NewEntityArgumentsError(type.name(), args.size());
  if (entryHas(name)) throw ReflectionError(fmt::format("directory {} already has an entry '{}'", nameString(), name));
  Ptr<Node> node = d.createNamed ? d.createNamed(name) : d.create();
  entryIs(name, node);
  return node;
}

Ptr<Directory> Directory::folderIs(std::string const& name) {
  if (Ptr<Node> const e = entry(name)) {
    if (auto* folder = dynamic_cast<Directory*>(e.get())) return Ptr<Directory>(folder);
    throw ReflectionError(fmt::format("entry '{}' of directory {} is not a folder", name, nameString()));
  }
  Ptr<Directory> folder = DirectoryIs(name);
  entryIs(name, folder);
  return folder;
}

void Directory::entryIs(std::string const& name, Ptr<Node> node) {
  // lookup() splits paths at '/' and skips empty steps: such a name could never be found.
  if (name.empty() || name.find('/') != std::string::npos) {
    throw ReflectionError(fmt::format("directory {}: '{}' is not an entry name", nameString(), name));
  }
  if (!node) throw ReflectionError(fmt::format("directory {}: entry '{}' given no node", nameString(), name));
  auto [it, inserted] = entry_.try_emplace(name, node);
  if (!inserted) {
    if (it->second == node) return;
    Ptr<Node> const previous = std::exchange(it->second, std::move(node));
    publishChange(attrEntry, &it->first, previousOf(previous));
    return;
  }
  publishChange(attrEntry, &it->first);
}

bool Directory::entryDel(std::string_view name) {
  auto const it = entry_.find(name);
  if (it == entry_.end()) return false;
  std::string const key = it->first;
  Ptr<Node> const previous = std::move(it->second);
  entry_.erase(it);
  publishChange(attrEntry, &key, previousOf(previous));
  return true;
}

Ptr<Node> Directory::lookup(std::string_view path) const {
  Directory const* dir = this;
  Ptr<Node> found;
  while (!path.empty()) {
    size_t const slash = path.find('/');
    std::string_view const step = path.substr(0, slash);
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    if (step.empty()) continue;
    if (!dir) return nullptr;
    found = dir->entry(step);
    if (!found) return nullptr;
    dir = dynamic_cast<Directory const*>(found.get());
  }
  return found;
}

namespace {
[[maybe_unused]] bool const registered = [] {
  TypeRegistry::typeRegister(Node::typeDataStatic());
  TypeRegistry::typeRegister(Entity::typeDataStatic(), Describe<Entity>(TypeKind::entity).done());
  TypeRegistry::typeRegister(NamedEntity::typeDataStatic(), Describe<Entity>(TypeKind::entity).done());
  TypeRegistry::typeRegister(Directory::typeDataStatic(),
                             Describe<Directory>(TypeKind::entity)
                                 .named()
                                 .collection<attribute(&Directory::entry)>("entry", Directory::attrEntry, true)
                                 .done());
  return true;
}();
}  // namespace

}  // namespace Corvane
