#pragma once
// What the fuzz targets share: an oracle's failure stops the run like a crash, with its reason.
#include <cstdio>
#include <cstdlib>

#define QM_FUZZ_CHECK(condition, what)                                                                       \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "oracle failed: %s (%s)\n", what, #condition);                              \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)
