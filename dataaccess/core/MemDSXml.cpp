// The XML row-set export: the dataset service's column attributes and value texts, and the
// document writer around them.
#include "dataaccess/core/MemDSXml.h"

#include <cstdio>

#include "platform/rtl/DateTime.h"
#include "platform/rtl/FmtBcd.h"
#include "platform/rtl/FormatSettings.h"
#include "platform/rtl/Numbers.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

WideString W(const AnsiString& s) {
    return rtl::AnsiToWide(s);
}

WideString Num(int64_t value) {
    return W(std::to_string(value));
}

// Number texts go out with "." whatever the locale's decimal separator is.
AnsiString WithDotSeparator(AnsiString text) {
    const char sep = rtl::FormatSettings().DecimalSeparator;
    if (sep == '.') return text;
    for (char& c : text)
        if (c == sep) c = '.';
    return text;
}

// Two-digit groups with blanks turned into zeros, as "%2d" then padding gives.
std::string TimeText(rtl::Word hour, rtl::Word min, rtl::Word sec) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%2d%s%2d%s%2d", hour, ":", min, ":", sec);
    std::string s = buf;
    for (char& c : s)
        if (c == ' ') c = '0';
    return s;
}

std::string DateTimeText(rtl::TDateTime value) {
    rtl::Word y, mo, d, h, mi, s, ms;
    rtl::DecodeDateTime(value, y, mo, d, h, mi, s, ms);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%4d%s%2d%s%2d", y, "-", mo, "-", d);
    std::string text = std::string(buf) + "T" + TimeText(h, mi, s);
    for (char& c : text)
        if (c == ' ') c = '0';
    return text;
}

std::string TimeOnlyText(rtl::TDateTime value) {
    rtl::Word h, mi, s, ms;
    rtl::DecodeTime(value, h, mi, s, ms);
    return TimeText(h, mi, s);
}

bool IsBlobClass(db::TField* field) {
    return dynamic_cast<db::TBlobField*>(field) != nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Column attributes

void TDataSetService::WriteFieldXMLDataType(db::TField* field, TFieldDesc* desc, XmlWriter& writer) {
    auto dt = [&](const WideString& name, const WideString& value) {
        writer.WriteAttributeString(u"dt", name, value);
    };
    auto rs = [&](const WideString& name, const WideString& value) {
        writer.WriteAttributeString(u"rs", name, value);
    };
    const WideString size = Num(desc->Size);
    const WideString length = Num(desc->Length);
    const WideString scale = Num(desc->Scale);
    auto longIfBlob = [&] {
        if (IsBlobClass(field) && !desc->Fixed) rs(u"long", u"true");
    };

    switch (desc->DataType) {
        case dtUnknown:
        case dtVariant:
            dt(u"type", u"string");
            break;
        case dtInt8:
            dt(u"type", u"i1");
            dt(u"maxLength", size);
            rs(u"precision", length);
            break;
        case dtSmallint:
            dt(u"type", u"i2");
            dt(u"maxLength", size);
            rs(u"precision", u"5");
            break;
        case dtInteger:
            dt(u"type", u"int");
            dt(u"maxLength", size);
            rs(u"precision", u"10");
            break;
        case dtFloat:
            if (desc->Length > 7) {
                dt(u"type", u"float");
                dt(u"maxLength", size);
            } else {
                dt(u"type", u"r4");
                dt(u"maxLength", u"4");
            }
            rs(u"precision", length);
            break;
        case dtDate:
        case dtTime:
            dt(u"type", desc->DataType == dtDate ? u"date" : u"time");
            dt(u"maxLength", size);
            rs(u"scale", scale);
            rs(u"precision", length);
            break;
        case dtDateTime:
            dt(u"type", u"datetime");
            rs(u"dbtype", u"variantdate");
            dt(u"maxLength", size);
            rs(u"scale", scale);
            rs(u"precision", length);
            break;
        case dtWord:
            dt(u"type", u"ui2");
            dt(u"maxLength", size);
            rs(u"precision", length);
            break;
        case dtBoolean:
            dt(u"type", u"boolean");
            dt(u"maxLength", size);
            break;
        case dtLargeint:
            dt(u"type", u"i8");
            dt(u"maxLength", size);
            rs(u"precision", u"19");
            break;
        case dtCurrency:
        case dtBCD:
            dt(u"type", u"number");
            rs(u"dbtype", u"currency");
            dt(u"maxLength", size);
            rs(u"precision", length);
            break;
        case dtBlob:
            dt(u"type", u"bin.hex");
            dt(u"maxLength", u"2147483647");
            longIfBlob();
            break;
        case dtBytes:
        case dtVarBytes:
        case dtVarBytesRef:
            dt(u"type", u"bin.hex");
            dt(u"maxLength", length);
            longIfBlob();
            break;
        case dtUInt32:
            dt(u"type", u"ui4");
            dt(u"maxLength", size);
            rs(u"precision", length);
            break;
        case dtFmtBcd:
            dt(u"type", u"number");
            rs(u"dbtype", u"numeric");
            dt(u"maxLength", size);
            rs(u"scale", scale);
            rs(u"precision", length);
            break;
        case dtGuid:
            dt(u"type", u"uuid");
            dt(u"maxLength", u"16");
            break;
        case dtMemo:
        case dtWideMemo:
            dt(u"type", u"string");
            dt(u"maxLength", u"2147483647");
            if (desc->DataType == dtMemo) rs(u"dbtype", u"str");
            longIfBlob();
            break;
        case dtString:
        case dtStringRef:
        case dtWideString:
        case dtWideStringRef:
            dt(u"type", u"string");
            dt(u"maxLength", length);
            if (desc->DataType == dtString || desc->DataType == dtStringRef) rs(u"dbtype", u"str");
            longIfBlob();
            break;
        default:  // objects, references, arrays, nested tables and codes above 30
            rtl::DatabaseError("Data type is not supported", FDataSet);
    }

    if (desc->Fixed && desc->DataType != dtUnknown && desc->DataType != dtVariant)
        rs(u"fixedlength", u"true");
    if (field->Required() && !field->ReadOnly()) rs(u"maybenull", u"false");
}

void TDataSetService::WriteFieldXMLAttributeType(db::TField* field, TFieldDesc* desc, XmlWriter& writer,
                                                 const AnsiString& alias) {
    if (!alias.empty()) {
        writer.WriteAttributeString(u"name", W(alias));
        writer.WriteAttributeString(u"rs", u"name", W(desc->Name));
    } else {
        writer.WriteAttributeString(u"name", W(desc->Name));
    }
    writer.WriteAttributeString(u"rs", u"number", Num(desc->FieldNo));
    if (!field->Required() && !field->ReadOnly()) writer.WriteAttributeString(u"rs", u"nullable", u"true");
    if (!field->ReadOnly()) writer.WriteAttributeString(u"rs", u"writeunknown", u"true");
    if (!desc->ActualName.empty()) writer.WriteAttributeString(u"rs", u"basecolumn", W(desc->ActualName));
    if (desc->IsKey) writer.WriteAttributeString(u"rs", u"keycolumn", u"true");
    if (field->AutoGenerateValue() == db::arAutoInc)
        writer.WriteAttributeString(u"rs", u"autoincrement", u"true");
}

// ---------------------------------------------------------------------------------------------
// Value text

WideString TDataSetService::GetFieldXMLValue(db::TField* field, TFieldDesc* desc) {
    WideString result;
    switch (desc->DataType) {
        case dtInt8:
        case dtSmallint:
        case dtInteger:
        case dtWord:
        case dtLargeint:
        case dtUInt32:
            result = W(field->AsString());
            break;
        case dtFloat:
            result = W(WithDotSeparator(rtl::FloatToStr(field->AsFloat())));
            break;
        case dtDate:
        case dtDateTime:
            result = W(DateTimeText(field->AsDateTime()));
            break;
        case dtTime:
            result = W(TimeOnlyText(field->AsDateTime()));
            break;
        case dtBoolean:
            result = W(rtl::BoolToStr(field->AsBoolean(), true));
            break;
        case dtCurrency:
        case dtBCD:
            result = W(WithDotSeparator(rtl::CurrToStr(field->AsCurrency())));
            break;
        case dtBlob: {
            TBlob* blob = FDataSet->GetBlob(field);
            rtl::TBytes bytes(static_cast<size_t>(blob ? blob->GetSize() : 0));
            if (!bytes.empty()) blob->Read(0, static_cast<int64_t>(bytes.size()), bytes.data());
            result = W(rtl::BinToHex(bytes));
            break;
        }
        case dtBytes:
        case dtVarBytes:
        case dtVarBytesRef:
            result = W(rtl::BinToHex(field->AsBytes()));
            break;
        case dtFmtBcd:
            // "." like the float and currency texts: a reader of a numeric column cannot know the
            // writer's locale.
            result = W(WithDotSeparator(rtl::BcdToStr(field->AsBCD())));
            break;
        default:
            if (dynamic_cast<db::TWideStringField*>(field) || dynamic_cast<db::TWideMemoField*>(field))
                result = field->AsWideString();
            else
                result = W(field->AsString());
    }
    return result;
}

// ---------------------------------------------------------------------------------------------
// Document

namespace {

bool IsXmlName(const AnsiString& name) {
    if (name.empty()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
        const bool other = (c >= '0' && c <= '9') || c == '-' || c == '.';
        if (!(letter || (i > 0 && other))) return false;
    }
    return true;
}

struct TColumn {
    db::TField* field;
    TFieldDesc* desc;
    AnsiString alias;
};

}  // namespace

void SaveDataSetToXML(TMemDataSet& dataSet, XmlWriter& writer) {
    dataSet.CheckActive();
    dataSet.CheckDataSetService();
    TDataSetService* service = dataSet.GetDataSetService();

    std::vector<TColumn> columns;
    for (int i = 0; i < dataSet.FieldCount(); ++i) {
        db::TField* field = dataSet.Fields()[i];
        if (field->FieldKind() != db::fkData) continue;
        TFieldDesc* desc = dataSet.GetFieldDesc(field);
        if (!desc) continue;
        columns.push_back({field, desc, IsXmlName(desc->Name) ? AnsiString() : "c" + std::to_string(i)});
    }

    writer.WriteStartElement(u"xml");
    writer.WriteAttributeString(u"xmlns", u"s", u"uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882");
    writer.WriteAttributeString(u"xmlns", u"dt", u"uuid:C2F41010-65B3-11d1-A29F-00AA00C14882");
    writer.WriteAttributeString(u"xmlns", u"rs", u"urn:schemas-microsoft-com:rowset");
    writer.WriteAttributeString(u"xmlns", u"z", u"#RowsetSchema");

    writer.WriteStartElement(u"s", u"Schema");
    writer.WriteAttributeString(u"id", u"RowsetSchema");
    writer.WriteStartElement(u"s", u"ElementType");
    writer.WriteAttributeString(u"name", u"row");
    writer.WriteAttributeString(u"content", u"eltOnly");
    for (const TColumn& c : columns) {
        writer.WriteStartElement(u"s", u"AttributeType");
        service->WriteFieldXMLAttributeType(c.field, c.desc, writer, c.alias);
        writer.WriteStartElement(u"s", u"datatype");
        service->WriteFieldXMLDataType(c.field, c.desc, writer);
        writer.WriteEndElement();
        writer.WriteEndElement();
    }
    writer.WriteStartElement(u"s", u"extends");
    writer.WriteAttributeString(u"type", u"rs:rowbase");
    writer.WriteEndElement();
    writer.WriteEndElement();
    writer.WriteEndElement();

    writer.WriteStartElement(u"rs", u"data");
    const db::TBookmark bookmark = dataSet.GetBookmark();
    dataSet.DisableControls();
    try {
        for (dataSet.First(); !dataSet.Eof(); dataSet.Next()) {
            writer.WriteStartElement(u"z", u"row");
            for (const TColumn& c : columns) {
                if (c.field->IsNull()) continue;
                writer.WriteAttributeString(W(c.alias.empty() ? c.desc->Name : c.alias),
                                            service->GetFieldXMLValue(c.field, c.desc));
            }
            writer.WriteEndElement();
        }
        if (!bookmark.empty()) dataSet.GotoBookmark(bookmark);
    } catch (...) {
        dataSet.EnableControls();
        throw;
    }
    dataSet.EnableControls();
    writer.WriteEndElement();
    writer.WriteEndElement();
}

std::string DataSetToXML(TMemDataSet& dataSet) {
    XmlWriter writer;
    writer.WriteStartDocument();
    SaveDataSetToXML(dataSet, writer);
    return writer.ToUtf8();
}

}  // namespace dac
