// A coordinator library for the loader's tests: its entry point answers with a marker.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) int32_t DtcGetTransactionManagerEx(const char*, const char*,
                                                                                     const void*, uint32_t,
                                                                                     void*, void** result) {
    if (result) *result = nullptr;
    return 0x7E57;
}
