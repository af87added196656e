// The settings file's rewrite into the form both builds read.
#include "fuzzentries.h"
#include "fuzzverdict.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return fuzzVerdict(FuzzEntry::settingsFile, data, size);
}
