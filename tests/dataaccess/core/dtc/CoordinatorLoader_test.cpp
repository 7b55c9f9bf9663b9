// The distributed-transaction coordinator loader with a coordinator library present: loaded
// once however often and from however many threads it is asked for, unloaded by one FreeMSDTC,
// loaded again afterwards.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "dataaccess/core/DAServices.h"

namespace dac {
namespace {

// Whether the library is in the process, without loading it.
bool LibraryResident() {
    void* h = dlopen("xolehlp.dll", RTLD_NOW | RTLD_NOLOAD);
    if (!h) return false;
    dlclose(h);
    return true;
}

int32_t CallEntry() {
    void* manager = reinterpret_cast<void*>(1);
    return DtcGetTransactionManagerEx(nullptr, nullptr, nullptr, 0, nullptr, &manager);
}

TEST(CoordinatorLoader, TwoInitsLoadTheLibraryOnceAndOneFreeUnloadsIt) {
    ASSERT_FALSE(MSDTCLoaded());
    ASSERT_FALSE(LibraryResident());
    InitMSDTC();
    InitMSDTC();
    EXPECT_TRUE(MSDTCLoaded());
    EXPECT_EQ(CallEntry(), 0x7E57);
    FreeMSDTC();
    EXPECT_FALSE(MSDTCLoaded());
    // A second load would have kept a reference.
    EXPECT_FALSE(LibraryResident());
    try {
        CallEntry();
        ADD_FAILURE() << "an unloaded entry point answered";
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message(), "Function is not linked");
    }
    EXPECT_NO_THROW(FreeMSDTC());

    InitMSDTC();
    EXPECT_EQ(CallEntry(), 0x7E57);
    FreeMSDTC();
    EXPECT_FALSE(LibraryResident());
}

TEST(CoordinatorLoader, ConcurrentFirstCallsLoadItOnce) {
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) threads.emplace_back([] { InitMSDTC(); });
    for (auto& t : threads) t.join();
    EXPECT_TRUE(MSDTCLoaded());
    FreeMSDTC();
    EXPECT_FALSE(LibraryResident());
}

}  // namespace
}  // namespace dac
