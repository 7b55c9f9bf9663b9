// The record kinds of the tests: tables, fixture cursors and the expected element texts.
#include "tests/export_service/KindFixtures.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "export_service/uExportValues.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Strings.h"

namespace kinds {

namespace {

std::vector<std::string> Split(const std::string& line, char delimiter) {
    std::vector<std::string> parts;
    std::stringstream in(line);
    std::string part;
    while (std::getline(in, part, delimiter))
        if (!part.empty()) parts.push_back(part);
    return parts;
}

std::vector<std::vector<std::string>> ReadTable(const std::string& name) {
    std::ifstream in(std::string(DX_SOURCE_DIR) + "/tests/export_service/data/" + name);
    if (!in) throw std::runtime_error("missing test table " + name);
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#') rows.push_back(Split(line, '\t'));
    return rows;
}

fakes::TColumnType TypeOf(const std::string& name) {
    if (name == "INT") return fakes::TColumnType::Int;
    if (name == "DEC") return fakes::TColumnType::Dec;
    if (name == "TXT") return fakes::TColumnType::Txt;
    if (name == "RAW") return fakes::TColumnType::Raw;
    if (name == "DATE") return fakes::TColumnType::Date;
    throw std::runtime_error("unknown column type " + name);
}

int ColumnIndex(const TKindSpec& kind, const std::string& name) {
    for (size_t i = 0; i < kind.columns.size(); ++i)
        if (rtl::SameText(kind.columns[i].name, name)) return static_cast<int>(i);
    throw std::runtime_error("kind " + std::to_string(kind.kind) + " has no column " + name);
}

bool IsCouponLimits(const TKindSpec& kind) {
    return kind.item == "COUPON_LIMITS";
}

}  // namespace

const std::vector<TKindSpec>& Kinds() {
    static const std::vector<TKindSpec> kinds = [] {
        std::vector<TKindSpec> list;
        for (const auto& row : ReadTable("kinds.tsv")) {
            TKindSpec kind{std::stoi(row.at(0)), row.at(1), row.at(2), row.at(3), row.at(4), row.at(5),
                           row.at(6).at(0),      row.at(7), {}};
            for (const auto& column : Split(row.at(8), ' ')) {
                const auto parts = Split(column, ':');
                kind.columns.push_back({parts.at(0), TypeOf(parts.at(1))});
            }
            list.push_back(std::move(kind));
        }
        return list;
    }();
    return kinds;
}

const std::vector<TElementSpec>& Elements(int kind) {
    static const std::map<int, std::vector<TElementSpec>> elements = [] {
        std::map<int, std::vector<TElementSpec>> map;
        for (const auto& row : ReadTable("elements.tsv"))
            map[std::stoi(row.at(0))].push_back({row.at(1), row.at(2), row.at(3)});
        return map;
    }();
    return elements.at(kind);
}

TCell CellValue(const TKindSpec& kind, int row, int column) {
    TCell cell;
    if (row % 3 == 2) {
        cell.null = true;
        return cell;
    }
    const fakes::TCursorColumn& c = kind.columns.at(static_cast<size_t>(column));
    // The limit pairs cycle through every pair the kind knows a code for.
    if (rtl::SameText(c.name, "kind_limit")) {
        cell.integer = row % 2;
        return cell;
    }
    if (rtl::SameText(c.name, "limit_type")) {
        cell.integer = (row / 2) % (IsCouponLimits(kind) ? 2 : 3);
        return cell;
    }
    const std::string tag = "r" + std::to_string(row) + "c" + std::to_string(column);
    switch (c.type) {
        case fakes::TColumnType::Int:
            cell.integer = 1000 * (row + 1) + column;
            break;
        case fakes::TColumnType::Dec:
            cell.number = (row + 1) * 10.25 + column * 0.125;
            break;
        case fakes::TColumnType::Txt:
            // "Клиент" in code page 1251 and the five markup characters.
            cell.text = "\xCA\xEB\xE8\xE5\xED\xF2 A&B<'\"> " + tag;
            break;
        case fakes::TColumnType::Raw:
            // A byte outside ASCII ("№" in code page 1251) that must reach the document as UTF-8.
            cell.text = "R-" + tag + "-" + std::to_string(kind.kind) + "\xB9";
            break;
        case fakes::TColumnType::Date:
            cell.dateTime = rtl::EncodeDateTime(2020 + column % 5, 1 + row % 12, 1 + column % 28,
                                                (row + column) % 24, column % 60, row % 60, 0);
            break;
    }
    return cell;
}

void FillCursor(fakes::TFakeProc& proc, const TKindSpec& kind, int rows) {
    if (proc.params.Count() == 0) svc::DeclareKindParams(svc::ExportKind(kind.kind), proc.params);
    proc.SetColumns(kind.columns);
    proc.data.Open();
    for (int row = 0; row < rows; ++row) {
        proc.data.Append();
        for (size_t i = 0; i < kind.columns.size(); ++i) {
            const TCell cell = CellValue(kind, row, static_cast<int>(i));
            if (cell.null) continue;
            db::TField* field = proc.data.FieldByName(kind.columns[i].name);
            switch (kind.columns[i].type) {
                case fakes::TColumnType::Int:
                    field->SetAsInteger(cell.integer);
                    break;
                case fakes::TColumnType::Dec:
                    field->SetAsFloat(cell.number);
                    break;
                case fakes::TColumnType::Txt:
                case fakes::TColumnType::Raw:
                    field->SetAsString(cell.text);
                    break;
                case fakes::TColumnType::Date:
                    field->SetAsDateTime(cell.dateTime);
                    break;
            }
        }
        proc.data.Post();
    }
    proc.data.Close();
    proc.data.ClearLog();
}

std::string ExpectedText(const TKindSpec& kind, const TElementSpec& element, int row) {
    const std::string& form = element.form;
    const std::string& source = element.source;
    if (source[0] == '=') return source.substr(1);
    if (source == "limit") {
        static const int kCodes[2][3] = {{2, 1, 3}, {5, 4, 6}};
        const TCell kindLimit = CellValue(kind, row, ColumnIndex(kind, "kind_limit"));
        const TCell limitType = CellValue(kind, row, ColumnIndex(kind, "limit_type"));
        return std::to_string(kCodes[kindLimit.integer][limitType.integer]);
    }
    TCell cell;
    cell.null = true;
    fakes::TColumnType type = fakes::TColumnType::Int;
    if (source != "-") {
        const int column = ColumnIndex(kind, source);
        cell = CellValue(kind, row, column);
        type = kind.columns[static_cast<size_t>(column)].type;
    }
    // A date column written as raw text: the regional short date, the zero date when null.
    if (form == "raw" && source != "-" && type == fakes::TColumnType::Date)
        return rtl::AnsiToUtf8(rtl::DateToStr(cell.null ? 0 : cell.dateTime));
    if (form == "integer") return std::to_string(cell.null ? 0 : cell.integer);
    if (form == "amount") return svc::AmountText(cell.null ? 0 : cell.number);
    if (form == "measure") {
        if (cell.null) return "0";
        return svc::MeasureText(type == fakes::TColumnType::Int ? cell.integer : cell.number);
    }
    if (form == "date-time") return svc::DateTimeText(cell.null ? 0 : cell.dateTime);
    if (form == "date") return svc::DateText(cell.null ? 0 : cell.dateTime);
    if (form == "text" || form == "raw") return rtl::AnsiToUtf8(cell.null ? "" : cell.text);
    throw std::runtime_error("unknown form " + form);
}

fakes::TFakeProc& TFakeProcedures::Proc(int kind) {
    auto& proc = procs_[kind];
    if (!proc) {
        proc = std::make_unique<fakes::TFakeProc>(svc::ExportKind(kind).StoredProc);
        svc::DeclareKindParams(svc::ExportKind(kind), proc->params);
    }
    return *proc;
}

std::vector<std::pair<std::string, std::string>> ItemChildren(const svc::TPersistentObject& object) {
    svc::TXmlNode node(object.ElementName);
    object.ToXml(node);
    std::vector<std::pair<std::string, std::string>> children;
    for (int i = 0; i < node.NodeCount(); ++i)
        children.emplace_back(node.Nodes(i).Name(), node.Nodes(i).Value());
    return children;
}

}  // namespace kinds
