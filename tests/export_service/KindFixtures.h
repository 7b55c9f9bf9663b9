// The forty record kinds as the tests know them, read from tests/export_service/data: what the
// database sends (kinds.tsv: list, item, classes, procedure, cursor columns with their types)
// and what each item carries (elements.tsv: element, form and the column or rule it comes
// from). The fixture cursors are filled with values made from (row, column), every third row
// null, so that the expected text of every element can be worked out from the same two tables.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "export_service/udmQelOutDataObject.h"
#include "tests/common/DataFilesFakes.h"

namespace kinds {

struct TKindSpec {
    int kind;
    std::string list, item, dataClass, mapper, component;
    char runner;  // 'C' client type, 'I' client type ignored, 'P' package id
    std::string procedure;
    std::vector<fakes::TCursorColumn> columns;
};

struct TElementSpec {
    std::string element, form;
    // A cursor column; "-" not read; "=N" the constant N; "limit" the limit code.
    std::string source;
};

const std::vector<TKindSpec>& Kinds();
const std::vector<TElementSpec>& Elements(int kind);

// The value of a fixture cell.
struct TCell {
    bool null = false;
    int32_t integer = 0;
    double number = 0;
    std::string text;  // 8-bit, code page 1251
    rtl::TDateTime dateTime = 0;
};
TCell CellValue(const TKindSpec& kind, int row, int column);

// Declares the kind's parameters and fills its cursor with `rows` fixture rows.
void FillCursor(fakes::TFakeProc& proc, const TKindSpec& kind, int rows);
// The text the element must have in the item of that fixture row.
std::string ExpectedText(const TKindSpec& kind, const TElementSpec& element, int row);

// The run's stored procedures: a fake per kind, made on first use with its declared parameters.
class TFakeProcedures : public svc::TExportProcedures {
public:
    svc::TCursorProc& ProcedureOf(int kind) override { return Proc(kind); }
    fakes::TFakeProc& Proc(int kind);
    bool Made(int kind) const { return procs_.count(kind) > 0; }

private:
    std::map<int, std::unique_ptr<fakes::TFakeProc>> procs_;
};

// The names of an item's child elements and their texts, in order.
std::vector<std::pair<std::string, std::string>> ItemChildren(const svc::TPersistentObject& object);

}  // namespace kinds
