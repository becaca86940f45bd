// The .POL file: the optimal policy kept by a solve, one line per state in which the
// scheduler decides (what it starts, the mode it chooses, to wait or to abandon), with the
// state's members and the two values, then the legend shared by the network files.
#pragma once

#include "sdp/policy.h"

// Writes PJFileName + projectNumber + ".POL" for the policy kept for the networks in hand;
// makespanFirst when the makespan was minimised (the NPV then rides along). A file that
// cannot be written is skipped, like the other network files.
void writePolicyFile(const KeptPolicy& policy, bool makespanFirst);
