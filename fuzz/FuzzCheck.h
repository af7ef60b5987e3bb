#pragma once
// A broken expectation inside a fuzz target: report it and abort, which
// libFuzzer records as a finding with the input that caused it.
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                              \
    do {                                                                                   \
        if (!(condition)) {                                                                \
            std::fprintf(stderr, "%s:%d: expectation failed: %s\n", __FILE__, __LINE__,    \
                         #condition);                                                      \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)
