// A broken invariant is a finding: say which one and stop the fuzzer there.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace vostrel {

#define FUZZ_CHECK(cond)                                                                                               \
    do {                                                                                                               \
        if (!(cond)) {                                                                                                 \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #cond);                          \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)

}  // namespace vostrel
