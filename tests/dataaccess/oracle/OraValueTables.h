// The tables of Oracle value forms made by data/gen_oravalues.py with Python's decimal and
// datetime modules, and a fixture with the client library loaded and initialised.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "OraFixture.h"
#include "dataaccess/oracle/OraClasses.h"
#include "tests/platform/oci/HexText.h"
#include "tests/platform/rtl/TsvTable.h"

namespace oratest {

inline std::vector<std::vector<std::string>> Table(const std::string& name) {
    return rtl::testing::ReadTsv(name, "tests/dataaccess/oracle/data");
}

inline std::vector<uint8_t> Hex(const std::string& text) {
    std::vector<uint8_t> bytes;
    std::istringstream in(text);
    std::string b;
    while (in >> b) bytes.push_back(static_cast<uint8_t>(std::stoi(b, nullptr, 16)));
    return bytes;
}

using standin::HexText;

template <class T = long long>
std::vector<T> Fields(const std::string& text) {
    std::vector<T> out;
    std::istringstream in(text);
    T v;
    while (in >> v) out.push_back(v);
    return out;
}

// The decimal digits of a packed BCD, most significant first.
inline std::string BcdDigits(const rtl::TBcd& bcd) {
    std::string digits;
    for (int k = 0; k < bcd.Precision; ++k)
        digits += static_cast<char>('0' + ((bcd.Fraction[k / 2] >> (k % 2 == 0 ? 4 : 0)) & 0x0F));
    return digits;
}

// "sign precision scale digits" as the number table writes it.
inline std::string BcdText(const rtl::TBcd& bcd) {
    std::string digits = BcdDigits(bcd);
    return std::string((bcd.SignSpecialPlaces & 0x80) ? "-" : "+") + " " + std::to_string(bcd.Precision) +
           " " + std::to_string(bcd.SignSpecialPlaces & 0x3F) + " " + digits;
}

inline std::string Message(const std::function<void()>& f) {
    try {
        f();
    } catch (const rtl::Exception& e) {
        return e.Message();
    }
    return "(nothing raised)";
}

inline int32_t OraCode(const std::function<void()>& f) {
    try {
        f();
    } catch (const dac::EOraError& e) {
        return e.ErrorCode;
    }
    return 0;
}

// The stand-in client loaded from the build's Oracle home and initialised; numbers and
// datetimes are converted with the invariant locale unless a test sets another.
class OraValueTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetClient();
        dac::InitOCI();
    }
    void TearDown() override { ResetClient(); }

    rtl::TFormatSettingsOverride locale_{rtl::TFormatSettings::Invariant()};
};

}  // namespace oratest
