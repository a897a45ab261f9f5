// A consumer of an installed Corvane that does not use CMake: scripts/test compiles
// it with a plain `c++ -std=c++20 main.cpp $(pkg-config --cflags --libs corvane)`
// against the extracted Debian packages. Uses the library and {fmt} (whose library
// only the pc file's Requires: fmt brings in); returns 0 when both work.
#include <fmt/format.h>

#include <string>

#include "corvane/Corvane.h"

int main() {
  Net::IntfId intf("Ethernet3/1");
  Corvane::Ptr<Corvane::TaskScheduler> scheduler =
      Corvane::TaskSchedulerRoot::findOrCreateScheduler();
  std::string text = fmt::format("{} {}", intf.stringValue(), intf.isEthernetIntfId());
  if (text != "Ethernet3/1 true" || !scheduler) {
    fmt::print(stderr, "unexpected: '{}'\n", text);
    return 1;
  }
  return 0;
}
