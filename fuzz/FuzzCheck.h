#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// The entry point every harness defines; libFuzzer, or the replay driver of the ordinary
// build, calls it with one input.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

// A broken property of the code under fuzzing: reported and turned into a crash, which
// libFuzzer records with the input that caused it.
#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);               \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)
