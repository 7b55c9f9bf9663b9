#include "OraCommandFixture.h"

#include <cstdio>
#include <cstring>

using namespace dac;

void OraCommandTest::SetUp() {
    OraTest::SetUp();
    conn_ = newConnection();
    conn_->Connect("");
}

void OraCommandTest::TearDown() {
    conn_.reset();
    OraTest::TearDown();
}

std::unique_ptr<TOCICommand> OraCommandTest::Command(const AnsiString& sql) {
    auto command = std::make_unique<TOCICommand>();
    command->SetConnection(conn_.get());
    command->SetSQLText(sql);
    return command;
}

void OraCommandTest::Run(const AnsiString& sql, const std::function<void(TOCICommand&)>& set) {
    auto command = Command(sql);
    if (set) set(*command);
    command->Execute();
}

namespace {

std::string ValueText(const TFieldDesc& field, const uint8_t* p) {
    char text[64];
    switch (field.DataType) {
        case dtInteger: {
            int32_t v;
            std::memcpy(&v, p, 4);
            return std::to_string(v);
        }
        case dtSmallint: {
            int16_t v;
            std::memcpy(&v, p, 2);
            return std::to_string(v);
        }
        case dtFloat: {
            double v;
            std::memcpy(&v, p, 8);
            std::snprintf(text, sizeof text, "%.15g", v);
            return text;
        }
        case dtDateTime:
            std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", (p[0] - 100) * 100 + p[1] - 100,
                          p[2], p[3], p[4] - 1, p[5] - 1, p[6] - 1);
            return text;
        case dtVarBytes:
        case dtVarBytesRef: {
            uint16_t n;
            std::memcpy(&n, p, 2);
            std::string hex;
            for (uint16_t k = 0; k < n; ++k) {
                std::snprintf(text, sizeof text, "%02X", p[2 + k]);
                hex += text;
            }
            return hex;
        }
        case dtLargeint:
        case dtNumber: {
            OCINumber number;
            std::memcpy(&number, p, sizeof number);
            double v = 0;
            dac::OCINumberToReal(OCIErrorHandle(), &number, sizeof v, &v);
            std::snprintf(text, sizeof text, "%.15g", v);
            return text;
        }
        default:
            return std::string(
                reinterpret_cast<const char*>(p),
                strnlen(reinterpret_cast<const char*>(p), TOCICommand::DefineBufferSize(field)));
    }
}

}  // namespace

std::vector<std::vector<std::string>> OraCommandTest::FetchAll(TOCICommand& command, int block) {
    struct Column {
        TOCIFieldDesc field;
        ub4 stride = 0;
        std::vector<uint8_t> values;
        std::vector<int16_t> indicators;
    };
    std::vector<std::unique_ptr<Column>> columns;
    for (int i = 1;; ++i) {
        auto column = std::make_unique<Column>();
        if (!command.DescribeField(i, column->field, true, true)) break;
        column->stride = TOCICommand::DefineBufferSize(column->field);
        column->values.assign(static_cast<size_t>(column->stride) * block, 0);
        column->indicators.assign(static_cast<size_t>(block), 0);
        command.DefineArrayData(column->field, column->values.data(), sizeof(int16_t), column->stride,
                                column->indicators.data());
        columns.push_back(std::move(column));
    }
    std::vector<std::vector<std::string>> rows;
    while (command.GetCursorState() != csFetched) {
        const int n = command.Fetch(static_cast<ub4>(block));
        for (int r = 0; r < n; ++r) {
            std::vector<std::string> row;
            for (auto& c : columns) {
                if (c->indicators[static_cast<size_t>(r)] == -1)
                    row.emplace_back("<null>");
                else
                    row.push_back(ValueText(c->field, c->values.data() + static_cast<size_t>(r) * c->stride));
            }
            rows.push_back(row);
        }
        if (n == 0 && command.GetCursorState() != csFetched) break;  // a scrollable cursor at its end
    }
    return rows;
}

std::vector<std::vector<std::string>> OraCommandTest::Query(const AnsiString& sql, int block) {
    auto command = Command(sql);
    command->Prepare();
    command->BindParams();
    command->Exec();
    return FetchAll(*command, block);
}

// ---------------------------------------------------------------------------------------------

namespace {

BindSpy* activeBindSpy = nullptr;
decltype(dac::OCIBindByName) realBindByName = nullptr;

sword SpyBindByName(OCIStmt* stmtp, OCIBind** bindp, OCIError* errhp, const OraText* placeholder,
                    sb4 placeh_len, void* valuep, sb4 value_sz, ub2 dty, void* indp, ub2* alenp, ub2* rcodep,
                    ub4 maxarr_len, ub4* curelep, ub4 mode) {
    activeBindSpy->Calls.push_back(
        {std::string(reinterpret_cast<const char*>(placeholder), static_cast<size_t>(placeh_len)), value_sz,
         dty, valuep != nullptr, maxarr_len, mode});
    return realBindByName(stmtp, bindp, errhp, placeholder, placeh_len, valuep, value_sz, dty, indp, alenp,
                          rcodep, maxarr_len, curelep, mode);
}

}  // namespace

BindSpy::BindSpy() {
    activeBindSpy = this;
    swap_ = std::make_unique<EntrySwap<decltype(dac::OCIBindByName)>>(dac::OCIBindByName, &SpyBindByName);
    realBindByName = swap_->Saved();
}

BindSpy::~BindSpy() {
    swap_.reset();
    activeBindSpy = nullptr;
}
