#ifndef FLEETRUN_H
#define FLEETRUN_H

#include <functional>

// Runs `work` for each unit 0 .. count-1, at most `jobs` of them at once, each on a worker
// thread (a unit's link is made, used and closed on that thread: it blocks it while the unit
// answers), and returns when every one has ended. A unit that does not answer holds one worker
// for the protocol's waits only; the others go on.
void runUnits(int count, int jobs, const std::function<void(int unit)> &work);

#endif // FLEETRUN_H
