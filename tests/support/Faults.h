#pragma once

#include <cstdint>

namespace testenv {

// A write through an address the compiler cannot see is null: a real access violation.
inline void writeThroughNull()
{
    static volatile std::uintptr_t address = 0;
    *reinterpret_cast<volatile int *>(address) = 1;
}

// An integer division by a zero the compiler cannot see, kept alive by a volatile store.
inline void divideByZero()
{
    static volatile int zero = 0;
    [[maybe_unused]] static volatile int result = 0;
    result = 7 / zero;
}

} // namespace testenv
