// Template body of walkUdcStates (placeholder until the walk lands).
#pragma once
template <class Visit>
bool walkUdcStates(UdcStateWalk&, bool, Visit&&) { return true; }
