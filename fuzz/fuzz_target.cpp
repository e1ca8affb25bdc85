// One libFuzzer target: FUZZ_ENTRY names the entry function (see FuzzEntries.h) it runs on each input.
#include <cstdio>
#include <cstdlib>

#include "fuzz/FuzzEntries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (const char* why = FUZZ_ENTRY(data, size)) {
        std::fprintf(stderr, "broken expectation: %s\n", why);
        std::abort();
    }
    return 0;
}
