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

// Timestamps, intervals and LOBs: their attributes and elements are cells holding a descriptor.
inline bool IsDescriptorType(TDataType t) {
    switch (t) {
        case dtTimeStamp:
        case dtTimeStampTZ:
        case dtTimeStampLTZ:
        case dtIntervalYM:
        case dtIntervalDS:
        case dtOraBlob:
        case dtOraClob:
        case dtWideOraClob:
            return true;
        default:
            return false;
    }
}

}  // namespace dac::objcells
