#include "udc/state_walk.h"
void prepareStateWalk(UdcStateWalk&) {}
void beginUdc(UdcStateWalk&, const BitWord*) {}
