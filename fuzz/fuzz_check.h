#pragma once
// What every fuzz target uses: a property check that stops the run with a message, so that
// libFuzzer records the input as a crash.

#include <cstdio>
#include <cstdlib>

#define FW_FUZZ_CHECK(condition)                                                           \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__,       \
                         #condition);                                                      \
            std::abort();                                                                  \
        }                                                                                  \
    } while (false)
