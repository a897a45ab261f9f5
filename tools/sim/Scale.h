// corvane-sim --scale N: a synthetic chip of N interfaces, for the cost of start-up,
// of one change and of memory at a size no hand-written scenario reaches.
#pragma once

#include <cstdint>

#include "tools/sim/Scenario.h"
#include "tools/sim/Simulator.h"

namespace Sim {

// N interfaces over 16 TCAMs and 16 FAPs of 2 cores; the first half of the ports in
// LAGs of 8; every 50th port map a wildcard; a payload on every LAG and on every port
// outside a LAG.
Scenario scaleScenario(uint32_t interfaces);

// Runs the synthetic chip and prints its figures; a progress line goes to stderr
// while the start-up runs. Returns the exit status.
int runScale(uint32_t interfaces, RunMode mode, bool memory = false);

}  // namespace Sim
