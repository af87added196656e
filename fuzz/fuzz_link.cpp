// The configurator's handling of whatever the unit sends back, for every command.
#include "fuzzentries.h"
#include "fuzzverdict.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return fuzzVerdict(FuzzEntry::link, data, size);
}
