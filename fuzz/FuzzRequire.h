#pragma once

#include <cstdlib>

// A broken property ends the run at once, so that the fuzzer keeps the input that broke it.
inline void require(bool condition)
{
    if (!condition)
        std::abort();
}
