// Readiness entities made by name in a directory, and driven through the generic
// interface only, the way an agent's configuration layer would.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "corvane/Corvane.h"
#include "tests/support/Support.h"

using namespace Corvane;

namespace {

struct Recorder : Subscriber {
  std::vector<uint32_t> attrs;
  void dispatch(uint32_t attrId, void const*) override { attrs.push_back(attrId); }
};

}  // namespace

TEST(Directory, ReadinessEntitiesTakeOnlyTheirName) {
  Ptr<Directory> root = Directory::DirectoryIs("agent");
  Ptr<Directory> ready = root->folderIs("ready");
  Recorder entries;  // every entry made, replaced or removed is announced; refusals are not
  ready->subscriberAdd(&entries);
  for (char const* type : {"Corvane::LagInfoReady", "Corvane::TcamDbStatusInterfaceReady",
                           "Corvane::RedundancyStatusContainer"}) {
    int32_t const live = Reflect::type(type).liveCount();
    EXPECT_EQ(CorvaneTest::errorText<NewEntityArgumentsError>([&] { ready->entityIs("refused", type, {"extra"}); }),
              std::string("new entity of type ") + type + " takes only a name; 1 more argument(s) refused");
    EXPECT_FALSE(ready->entryHas("refused"));
    EXPECT_EQ(Reflect::type(type).liveCount(), live) << "a refused request created nothing";

    Ptr<Node> made = ready->entityIs(type, type);
    EXPECT_EQ(Reflect::type(type).liveCount(), live + 1);
    EXPECT_EQ(std::string(made->typeData().name()), type);
    EXPECT_EQ(dynamic_cast<NamedEntity&>(*made).nameString(), type);
  }
  EXPECT_EQ(root->lookup("ready/Corvane::LagInfoReady"), ready->entry("Corvane::LagInfoReady"));
  EXPECT_EQ(root->lookup("ready/missing/deeper"), nullptr);
  EXPECT_THROW(ready->entityIs("Corvane::LagInfoReady", "Corvane::LagInfoReady"), ReflectionError);
  EXPECT_THROW(ready->entityIs("x", "Corvane::NoSuchType"), ReflectionError);
  EXPECT_THROW(root->folderIs("ready")->folderIs("Corvane::LagInfoReady"), ReflectionError);
  // Names lookup() could never reach, and an entry of nothing, are refused.
  for (char const* name : {"", "a/b", "/"}) {
    EXPECT_THROW(ready->entityIs(name, "Corvane::LagInfoReady"), ReflectionError) << name;
    EXPECT_THROW(ready->folderIs(name), ReflectionError) << name;
  }
  EXPECT_EQ(CorvaneTest::errorText<ReflectionError>([&] { ready->entryIs("x", nullptr); }),
            "directory ready: entry 'x' given no node");
  EXPECT_FALSE(ready->entryHas("x"));

  int32_t const live = LagInfoReady::typeDataStatic().liveCount();
  EXPECT_EQ(entries.attrs.size(), 3u);
  ready->entryIs("Corvane::RedundancyStatusContainer", ready->entry("Corvane::RedundancyStatusContainer"));
  EXPECT_EQ(entries.attrs.size(), 3u);  // the same node again: no change
  ready->entryIs("Corvane::RedundancyStatusContainer", Directory::DirectoryIs("replacement"));
  EXPECT_EQ(entries.attrs.size(), 4u);
  EXPECT_TRUE(ready->entryDel("Corvane::LagInfoReady"));
  EXPECT_FALSE(ready->entryDel("Corvane::LagInfoReady"));
  EXPECT_EQ(entries.attrs, std::vector<uint32_t>(5, Directory::attrEntry));
  ready->subscriberRemove(&entries);
  EXPECT_EQ(LagInfoReady::typeDataStatic().liveCount(), live - 1);
}

TEST(Directory, GenericInterfaceReadsWritesAndSetsReferences) {
  Ptr<Directory> dir = Directory::DirectoryIs("agent");
  Ptr<Node> flag = dir->entityIs("lag", "Corvane::LagInfoReady");
  Recorder rec;
  auto& entity = static_cast<Entity&>(*flag);
  entity.subscriberAdd(&rec);
  EXPECT_EQ(Reflect::read(*flag, "ready"), "false");
  Reflect::write(*flag, "ready", "true");
  Reflect::write(*flag, "ready", "1");  // unchanged: silent
  EXPECT_EQ(Reflect::read(*flag, "ready"), "true");
  EXPECT_EQ(rec.attrs, std::vector<uint32_t>{LagInfoReady::attrReady});
  EXPECT_THROW(Reflect::write(*flag, "ready", "maybe"), ParseError);
  EXPECT_THROW(Reflect::read(*flag, "readiness"), ReflectionError);
  entity.subscriberRemove(&rec);

  Ptr<Node> container = dir->entityIs("redundancy", "Corvane::RedundancyStatusContainer");
  Ptr<RedundancyStatus> status = RedundancyStatus::RedundancyStatusIs("peer");
  EXPECT_EQ(Reflect::read(*container, "redundancyStatus"), "null");
  Reflect::referenceWrite(*container, "redundancyStatus", status);
  EXPECT_EQ(static_cast<RedundancyStatusContainer&>(*container).redundancyStatus(), status);
  EXPECT_EQ(Reflect::read(*container, "redundancyStatus"), "RedundancyStatus(peer)");
  EXPECT_THROW(Reflect::referenceWrite(*container, "redundancyStatus", flag), ReflectionError);
  EXPECT_THROW(Reflect::write(*container, "redundancyStatus", "peer"), ReflectionError);
  Reflect::referenceWrite(*container, "redundancyStatus", nullptr);
  EXPECT_EQ(status->refCount(), 1);

  auto const dump = nlohmann::json::parse(Reflect::json(*dir));
  EXPECT_EQ(dump["type"], "Corvane::Directory");
  EXPECT_EQ(dump["entry"]["lag"]["ready"], "true");
  EXPECT_TRUE(dump["entry"]["redundancy"]["redundancyStatus"].is_null());
}
