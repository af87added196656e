#include "simulatorfixture.h"
// Placeholder: the fixture lands with the simulator.
struct SimulatorFixture::Private {};
