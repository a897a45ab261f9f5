// Uses an installed Corvane through its one public include: an interface id
// and the process task scheduler. Returns 0 when both work.
#include "corvane/Corvane.h"

int main() {
  Net::IntfId intf("Ethernet1");
  Corvane::Ptr<Corvane::TaskScheduler> scheduler =
      Corvane::TaskSchedulerRoot::findOrCreateScheduler();
  if (!intf.isEthernetIntfId() || !scheduler) {
    return 1;
  }
  return 0;
}
