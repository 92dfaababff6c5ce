#pragma once

#include <cstdio>
#include <cstdlib>

// A broken property of the code under fuzzing: reported and turned into a crash, which
// libFuzzer records with the input that caused it.
#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);               \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)
