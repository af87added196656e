// The value rules that turn a profile's texts into records, and records back into texts.
#include "fuzzentries.h"
#include "fuzzverdict.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return fuzzVerdict(FuzzEntry::profile, data, size);
}
