// Named folders of entities. The agent creates entities in a directory by type name
// (through the registry's descriptions), looks them up by path ("a/b/c"), lists and
// deletes them; a directory is itself an entity and announces each entry it gains,
// replaces or loses (attribute `entry`, keyed by the entry's name).
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "corvane/framework/Publisher.h"

namespace Corvane {

class CORVANE_API Directory : public NamedEntity {
  CORVANE_NODE_TYPE(Directory)

  static constexpr uint32_t attrEntry = 1;
  using EntryColl = std::map<std::string, Ptr<Node>, std::less<>>;

  static Ptr<Directory> DirectoryIs(std::string const& name);
  explicit Directory(std::string name);
  ~Directory() override;

  // Entries in name order.
  EntryColl const& entry() const noexcept { return entry_; }
  // The entry of that name, or null.
  Ptr<Node> entry(std::string_view name) const;
  bool entryHas(std::string_view name) const { return entry_.find(name) != entry_.end(); }

  // Creates an entity of a registered type under `name`. A named entity gets `name` as
  // its name and takes no further argument: any element of `args` is refused with
  // NewEntityArgumentsError and nothing is created. ReflectionError when the type is
  // unknown, cannot be created by name, or the name is taken.
  Ptr<Node> entityIs(std::string const& name, std::string_view typeName, std::vector<std::string> const& args = {});
  // A folder of that name, created when absent (ReflectionError when the name holds
  // something else).
  Ptr<Directory> folderIs(std::string const& name);
  // Places an existing node under `name` (replacing what was there).
  void entryIs(std::string const& name, Ptr<Node> node);
  // Removes the entry; false when there was none.
  bool entryDel(std::string_view name);

  // Follows a path of entry names separated by '/'; null when a step is missing.
  Ptr<Node> lookup(std::string_view path) const;

 private:
  EntryColl entry_;
};

}  // namespace Corvane
