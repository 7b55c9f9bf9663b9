// Cells of object instances and collection elements, as the object and collection values read
// and write them: unaligned copies, and which attribute types are numbers.
#pragma once

#include <cstring>

#include "dataaccess/core/MemData.h"

namespace dac::objcells {

template <class T>
T Peek(const void* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class T>
void Poke(void* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

inline bool IsNumberType(TDataType t) {
    return t == dtInteger || t == dtFloat || t == dtLargeint;
}

}  // namespace dac::objcells
