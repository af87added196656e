// The simulated unit's request parsing, fault lines and state files.
#include "fuzzentries.h"
#include "fuzzverdict.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return fuzzVerdict(FuzzEntry::unitEngine, data, size);
}
