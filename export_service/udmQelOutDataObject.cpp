// Data classes of the export: descriptors, values, the item writer, the order-list item and the
// lookups of the kind table (the tables themselves are in udmQelOutDataObjectKinds.cpp).
#include "export_service/udmQelOutDataObject.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>

#include "common/uXmlNode.h"
#include "platform/db/DB.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Lists.h"

namespace svc {

// ---------------------------------------------------------------------------------------------
// TRecordClass

TRecordClass::TRecordClass(const char* itemElement, std::span<const TFieldSpec> fields, TCreate create)
    : itemElement_(itemElement), fields_(fields), create_(create) {
    slots_.reserve(fields.size());
    for (int i = 0; i < FieldCount(); ++i) slots_.push_back(IsText(i) ? textCount_++ : numberCount_++);
    for (const TFieldSpec& field : fields) {
        const std::string element = field.Element;
        tags_.push_back({"<" + element + ">", "</" + element + ">\r\n", "<" + element + "/>\r\n"});
    }
}

int TRecordClass::IndexOf(std::string_view element) const {
    for (int i = 0; i < FieldCount(); ++i)
        if (element == fields_[static_cast<size_t>(i)].Element) return i;
    return -1;
}

bool TRecordClass::IsText(int field) const {
    const TValueForm form = fields_[static_cast<size_t>(field)].Form;
    return form == TValueForm::Text || form == TValueForm::Raw;
}

// ---------------------------------------------------------------------------------------------
// TExportRecord

TExportRecord::TExportRecord(const TRecordClass& recordClass)
    : class_(recordClass),
      numbers_(static_cast<size_t>(recordClass.NumberCount())),
      texts_(static_cast<size_t>(recordClass.TextCount())) {
    ElementName = recordClass.ItemElement();
}

double TExportRecord::Number(int field) const {
    rtl::Assert(!class_.IsText(field), "Number of a text field");
    return numbers_[static_cast<size_t>(class_.Slot(field))];
}

const rtl::AnsiString& TExportRecord::Text(int field) const {
    rtl::Assert(class_.IsText(field), "Text of a number field");
    return texts_[static_cast<size_t>(class_.Slot(field))];
}

void TExportRecord::SetNumber(int field, double value) {
    rtl::Assert(!class_.IsText(field), "Number into a text field");
    numbers_[static_cast<size_t>(class_.Slot(field))] = value;
}

void TExportRecord::SetText(int field, rtl::AnsiString value) {
    rtl::Assert(class_.IsText(field), "Text into a number field");
    texts_[static_cast<size_t>(class_.Slot(field))] = std::move(value);
}

int TExportRecord::Field(std::string_view element) const {
    const int field = class_.IndexOf(element);
    if (field < 0) throw rtl::EListError(ClassName() + " has no field " + std::string(element));
    return field;
}

std::string TExportRecord::ValueText(int field) const {
    switch (class_.Fields()[static_cast<size_t>(field)].Form) {
        case TValueForm::Integer: {
            // Integer fields hold 32-bit values; a number set from outside that range is clamped.
            const double value = Number(field);
            if (std::isnan(value)) return IntegerText(0);
            return IntegerText(static_cast<int32_t>(std::clamp(value, double{INT32_MIN}, double{INT32_MAX})));
        }
        case TValueForm::Amount:
            return AmountText(Number(field));
        case TValueForm::Measure:
            return MeasureText(Number(field));
        case TValueForm::DateTime:
            return DateTimeText(Number(field));
        case TValueForm::Date:
            return DateText(Number(field));
        case TValueForm::Text:
        case TValueForm::Raw:
            return AnsiText(Text(field));
    }
    return std::string();
}

void TExportRecord::ToXml(TXmlNode& node) const {
    for (int i = 0; i < class_.FieldCount(); ++i)
        node.NodeNewText(class_.Fields()[static_cast<size_t>(i)].Element, ValueText(i));
}

namespace {

// Text that needs no escaping: printable ASCII without markup characters (numbers, dates, codes).
bool IsPlainText(std::string_view text) {
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c >= 0x7F || c == '&' || c == '<' || c == '>' || c == '"' || c == '\'') return false;
    }
    return true;
}

}  // namespace

void TExportRecord::AppendValue(std::string& out, int field) const {
    switch (class_.Fields()[static_cast<size_t>(field)].Form) {
        case TValueForm::Integer: {
            const double value = Number(field);
            const int32_t integer =
                std::isnan(value)
                    ? 0
                    : static_cast<int32_t>(std::clamp(value, double{INT32_MIN}, double{INT32_MAX}));
            char buf[16];
            out.append(buf, std::to_chars(buf, buf + sizeof buf, integer).ptr);
            return;
        }
        case TValueForm::DateTime:
            AppendDateTimeText(out, Number(field));
            return;
        case TValueForm::Date:
            AppendDateText(out, Number(field));
            return;
        case TValueForm::Text:
        case TValueForm::Raw: {
            // Plain ASCII is the same in the code page and in UTF-8 and needs no escaping.
            const rtl::AnsiString& text = Text(field);
            if (IsPlainText(text)) {
                out += text;
                return;
            }
            // Converted in place; the rare value that needs escaping is written again escaped.
            const size_t start = out.size();
            out += AnsiText(text);
            if (!IsPlainText(std::string_view(out).substr(start))) {
                const std::string value = out.substr(start);
                out.resize(start);
                AppendXmlEscaped(out, value, false);
            }
            return;
        }
        default: {
            // Numbers and dates are plain text.
            out += ValueText(field);
            return;
        }
    }
}

void TExportRecord::WriteXml(std::string& out, int depth) const {
    const size_t indent = static_cast<size_t>(depth > 0 ? depth : 0);
    out.append(indent, '\t');
    out += '<';
    out += ElementName;
    if (class_.FieldCount() == 0) {
        out += "/>\r\n";
        return;
    }
    out += ">\r\n";
    for (int i = 0; i < class_.FieldCount(); ++i) {
        const TRecordClass::TTags& tags = class_.Tags(i);
        out.append(indent + 1, '\t');
        // Only a text can be empty; every number and date has digits.
        if (class_.IsText(i) && Text(i).empty()) {
            out += tags.empty;
            continue;
        }
        out += tags.open;
        AppendValue(out, i);
        out += tags.close;
    }
    out.append(indent, '\t');
    out += "</";
    out += ElementName;
    out += ">\r\n";
}

// ---------------------------------------------------------------------------------------------
// Kinds

bool TRecordKindInfo::HasListFor(int clientType) const {
    if (ClientTypes == 0) return true;
    return clientType >= 0 && clientType < 32 && (ClientTypes >> clientType & 1u) != 0;
}

const TRecordKindInfo& ExportKind(int kind) {
    if (kind < 0 || kind >= ExportKindCount) throw rtl::Exception("Unknown data type");
    return ExportKinds()[static_cast<size_t>(kind)];
}

std::string TTypeRequestEnum::ListName(int kind) {
    return ExportKind(kind).ListName;
}

void DeclareKindParams(const TRecordKindInfo& kind, db::TParams& params) {
    if (kind.Runner == TKindRunner::ClientType) params.CreateParam(db::ftFloat, "P_CLIENT_TYPE", db::ptInput);
    if (kind.Runner == TKindRunner::PackageId)
        params.CreateParam(db::ftString, "P_PACKAGE_ID", db::ptInput)->SetSize(kind.PackageIdSize);
    params.CreateParam(db::ftCursor, "P_DATASET", db::ptOutput);
}

// ---------------------------------------------------------------------------------------------

void TExportFile::ToXml(TXmlNode& node) const {
    node.SetValue(AnsiText(FileName));
}

}  // namespace svc
