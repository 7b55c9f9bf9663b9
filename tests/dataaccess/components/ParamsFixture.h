// A collection of Oracle parameters without a statement, for the parameter tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "dataaccess/components/Ora.h"

class ParamsTest : public ::testing::Test {
protected:
    // A new parameter named P<n>, of the given type unless ftUnknown.
    dac::TOraParam* Add(db::TFieldType type = db::ftUnknown) {
        auto* p = static_cast<dac::TOraParam*>(params_.Add());
        p->SetName("P" + std::to_string(params_.Count()));
        if (type != db::ftUnknown) p->SetDataType(type);
        return p;
    }
    dac::TOraParams params_;
};
