// fuzz/FuzzCheck.h
// The fuzz targets' assertion: active in every build type, it names the failed condition and
// aborts, which libFuzzer reports as a crash with the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "check failed at line %d: %s\n", __LINE__, #condition);                     \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)
