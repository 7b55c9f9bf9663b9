// Connections joining and leaving input/output handlers.
#include "dataaccess/components/CRIOHandler.h"

#include <gtest/gtest.h>

#include <memory>

namespace dac {
namespace {

TEST(IOHandler, ChangingTheHandlerLeavesTheOldOneAndJoinsTheNewOne) {
    TCRIOHandler a, b;
    rtl::TComponent connection;
    TCRIOHandlerUtils::ChangeHandler(nullptr, &a, &connection);
    EXPECT_EQ(a.ClientCount(), 1);
    EXPECT_EQ(a.Clients(0), &connection);
    // Joining twice counts once.
    TCRIOHandlerUtils::RegisterClient(&a, &connection);
    EXPECT_EQ(a.ClientCount(), 1);
    TCRIOHandlerUtils::ChangeHandler(&a, &b, &connection);
    EXPECT_EQ(a.ClientCount(), 0);
    EXPECT_EQ(b.ClientCount(), 1);
    TCRIOHandlerUtils::ChangeHandler(&b, nullptr, &connection);
    EXPECT_EQ(b.ClientCount(), 0);
    EXPECT_NO_THROW(TCRIOHandlerUtils::UnRegisterClient(nullptr, &connection));
}

TEST(IOHandler, AFreedConnectionOrHandlerIsForgotten) {
    TCRIOHandler handler;
    auto connection = std::make_unique<rtl::TComponent>();
    TCRIOHandlerUtils::RegisterClient(&handler, connection.get());
    connection.reset();
    EXPECT_EQ(handler.ClientCount(), 0);

    // A handler freed first leaves no notification behind in its clients.
    rtl::TComponent survivor;
    {
        TCRIOHandler shortLived;
        TCRIOHandlerUtils::RegisterClient(&shortLived, &survivor);
    }
    TCRIOHandler other;
    TCRIOHandlerUtils::RegisterClient(&other, &survivor);
    EXPECT_EQ(other.ClientCount(), 1);
}

}  // namespace
}  // namespace dac
