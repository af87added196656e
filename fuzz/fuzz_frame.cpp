// The pure frame and record functions, fed directly.
#include "fuzzentries.h"
#include "fuzzverdict.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return fuzzVerdict(FuzzEntry::frame, data, size);
}
