// The export's record kinds and data objects.
//
// Forty record kinds (0 to 39) each fill one list of the data file: a container element named
// after the list, holding one item element per record. A kind names its data class, the cursor
// columns its mapper reads (a class shared by two kinds, such as the Qel and Dolm clients, has
// a column set for each), and the stored procedure of the central database that returns the
// rows. The data classes are laid out by descriptor tables: one row per child element of the
// item, in writing order, with the element's value form and the column it is read from.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/uDataFiles.h"
#include "export_service/uExportValues.h"
#include "platform/rtl/Types.h"

namespace db {
class TParams;
}

namespace svc {

// How a mapper fills a field from the current cursor row. A null column leaves the field at its
// starting value (0, empty text, the zero date-time) unless said otherwise.
enum class TColumnRead : uint8_t {
    ByForm,           // as the form's type: integer, float, 8-bit text, date-time
    Integer,          // an integer column kept in a floating-point field
    Currency,         // fixed-point with four decimal places
    ShortDate,        // a date-time as text in the regional short date format (null: the zero date)
    LimitCode,        // the column pair kind_limit, limit_type as one limit code (null reads as 0)
    CouponLimitCode,  // the same with the four pairs coupon limits know
    Constant,         // no column: the value of TFieldSpec::Constant
};

struct TFieldSpec {
    const char* Element;
    TValueForm Form;
    // The column for the first and for the second kind of the class; null: not read.
    const char* Column[2];
    TColumnRead Read = TColumnRead::ByForm;
    int Constant = 0;
};

class TExportRecord;

// A data class: its item element and its field table. Integer, amount, measure, date-time and
// date fields keep a double, text and raw fields an 8-bit text.
class TRecordClass {
public:
    using TCreate = TExportRecord* (*)();
    TRecordClass(const char* itemElement, std::span<const TFieldSpec> fields, TCreate create);

    const char* ItemElement() const { return itemElement_; }
    std::span<const TFieldSpec> Fields() const { return fields_; }
    int FieldCount() const { return static_cast<int>(fields_.size()); }
    // Position of the field of that element, -1 when none.
    int IndexOf(std::string_view element) const;
    bool IsText(int field) const;
    int Slot(int field) const { return slots_.at(static_cast<size_t>(field)); }
    int NumberCount() const { return numberCount_; }
    int TextCount() const { return textCount_; }
    TExportRecord* NewRecord() const { return create_(); }

    // The field's element tags as the text form writes them: "<E>", "</E>" CR LF, "<E/>" CR LF.
    struct TTags {
        std::string open, close, empty;
    };
    const TTags& Tags(int field) const { return tags_[static_cast<size_t>(field)]; }

private:
    const char* itemElement_;
    std::span<const TFieldSpec> fields_;
    TCreate create_;
    std::vector<int> slots_;
    std::vector<TTags> tags_;
    int numberCount_ = 0;
    int textCount_ = 0;
};

// A record of the data file: values by field position (or by element name) and the item writer.
class TExportRecord : public TPersistentObject {
public:
    const TRecordClass& RecordClass() const { return class_; }

    double Number(int field) const;
    int32_t Integer(int field) const { return static_cast<int32_t>(Number(field)); }
    const rtl::AnsiString& Text(int field) const;
    void SetNumber(int field, double value);
    void SetInteger(int field, int32_t value) { SetNumber(field, value); }
    void SetText(int field, rtl::AnsiString value);

    // By element name; an unknown name raises rtl::EListError.
    int Field(std::string_view element) const;
    double Number(std::string_view element) const { return Number(Field(element)); }
    int32_t Integer(std::string_view element) const { return Integer(Field(element)); }
    const rtl::AnsiString& Text(std::string_view element) const { return Text(Field(element)); }

    // One child element per field, in table order, with the value in the field's form.
    void ToXml(TXmlNode& node) const final;
    // Appends the item in the text form, indented by depth tabs: the same text as ToXml's node
    // through WriteXmlElement, without building the node.
    void WriteXml(std::string& out, int depth) const;
    // The element text of one field.
    std::string ValueText(int field) const;

protected:
    explicit TExportRecord(const TRecordClass& recordClass);

private:
    // Appends the element text of one field, escaped for the text form.
    void AppendValue(std::string& out, int field) const;

    const TRecordClass& class_;
    std::vector<double> numbers_;
    std::vector<rtl::AnsiString> texts_;
};

// The records whose first two fields are the client's id and type (ID, Type).
class TClientData : public TExportRecord {
public:
    int32_t ClientId() const { return Integer(0); }
    int32_t ClientType() const { return Integer(1); }

protected:
    using TExportRecord::TExportRecord;
};

// The client records (new clients and the full client record).
class TClient : public TExportRecord {
protected:
    using TExportRecord::TExportRecord;
};

// A data class: a constructor that sets the item element, and the class's descriptor.
#define DX_EXPORT_DATA_CLASS(Name, Parent)  \
    class Name : public Parent {            \
    public:                                 \
        Name();                             \
        static const TRecordClass& Class(); \
                                            \
    protected:                              \
        using Parent::Parent;               \
    }

DX_EXPORT_DATA_CLASS(TNewClient, TClient);
DX_EXPORT_DATA_CLASS(TClientForDataFile, TClient);
DX_EXPORT_DATA_CLASS(THolder, TClientData);
DX_EXPORT_DATA_CLASS(TAdClientParams, TClientData);
DX_EXPORT_DATA_CLASS(TAccount, TClientData);
DX_EXPORT_DATA_CLASS(TCardQel, TClientData);
DX_EXPORT_DATA_CLASS(TCardDolm, TClientData);
DX_EXPORT_DATA_CLASS(TPurse, TClientData);
DX_EXPORT_DATA_CLASS(TMifareOnCard, TClientData);
DX_EXPORT_DATA_CLASS(TMifareOnClient, TMifareOnCard);
DX_EXPORT_DATA_CLASS(TOnlCard, TExportRecord);
DX_EXPORT_DATA_CLASS(TOnlCardLimit, TExportRecord);
DX_EXPORT_DATA_CLASS(TOnlLimits, TExportRecord);
DX_EXPORT_DATA_CLASS(TTrnQel, TClientData);
DX_EXPORT_DATA_CLASS(TTrnDolm, TClientData);
DX_EXPORT_DATA_CLASS(TIbsTrn, TExportRecord);
DX_EXPORT_DATA_CLASS(TDRResult, TExportRecord);
DX_EXPORT_DATA_CLASS(TDDResult, TDRResult);
DX_EXPORT_DATA_CLASS(TOILResult, TExportRecord);
DX_EXPORT_DATA_CLASS(TOnlCardLimitResult, TExportRecord);
DX_EXPORT_DATA_CLASS(TCouponReqResult, TExportRecord);
DX_EXPORT_DATA_CLASS(TPackageConfirm, TExportRecord);
DX_EXPORT_DATA_CLASS(TStatusRequest, TExportRecord);
DX_EXPORT_DATA_CLASS(TServices, TExportRecord);
DX_EXPORT_DATA_CLASS(TEmitent, TExportRecord);
DX_EXPORT_DATA_CLASS(TPos, TExportRecord);
DX_EXPORT_DATA_CLASS(TPosPrices, TExportRecord);
DX_EXPORT_DATA_CLASS(TADParams, TExportRecord);
DX_EXPORT_DATA_CLASS(TRfidParams, TExportRecord);
DX_EXPORT_DATA_CLASS(TEmitentConfigs, TExportRecord);
DX_EXPORT_DATA_CLASS(TClientTarif, TExportRecord);
DX_EXPORT_DATA_CLASS(TClientTarifPrices, TExportRecord);
DX_EXPORT_DATA_CLASS(TClientTarifDiscounts, TExportRecord);
DX_EXPORT_DATA_CLASS(TCouponLimits, TExportRecord);
DX_EXPORT_DATA_CLASS(TCoupons, TExportRecord);
DX_EXPORT_DATA_CLASS(TCouponsSettings, TExportRecord);

#undef DX_EXPORT_DATA_CLASS

// ---------------------------------------------------------------------------------------------
// The kinds

// Which list operation of its mapper the exporter calls, and how the mapper runs the procedure.
enum class TKindRunner : uint8_t {
    ClientType,         // by client type: the procedure takes P_CLIENT_TYPE, in a transaction
    ClientTypeIgnored,  // by client type, which the procedure does not take: no transaction
    PackageId,          // by package id: the procedure takes P_PACKAGE_ID, in a transaction
};

struct TRecordKindInfo {
    int Kind;
    const char* ListName;
    const TRecordClass& (*Class)();
    int ColumnSet;           // 0 or 1: which column of the class table this kind reads
    const char* Component;   // the stored-procedure component of the data-object module
    const char* StoredProc;  // the procedure it calls
    TKindRunner Runner;
    int PackageIdSize;     // declared size of P_PACKAGE_ID, 0 for none
    bool FetchAll;         // all rows are fetched when the component opens
    unsigned ClientTypes;  // bit n: the kind has a list for client type n; 0: for every one
    const char* MapperClass;

    bool HasListFor(int clientType) const;
};

inline constexpr int ExportKindCount = 40;

// The forty kinds in number order.
std::span<const TRecordKindInfo> ExportKinds();
// Raises rtl::Exception "Unknown data type" outside 0 to 39.
const TRecordKindInfo& ExportKind(int kind);

// Declares the kind's procedure parameters as its component does: P_CLIENT_TYPE (number, input)
// or P_PACKAGE_ID (text, input, with its size) when the kind takes one, then P_DATASET (cursor,
// output).
void DeclareKindParams(const TRecordKindInfo& kind, db::TParams& params);

class TTypeRequestEnum {
public:
    // The list name of a kind; rtl::Exception "Unknown data type" outside 0 to 39.
    static std::string ListName(int kind);
};

// The stored procedures of one export run by record kind: the run's data-object module, whose
// components the data-access layer declares from ExportKinds().
class TExportProcedures {
public:
    virtual ~TExportProcedures() = default;
    virtual TCursorProc& ProcedureOf(int kind) = 0;
};

// ---------------------------------------------------------------------------------------------

// The one item of the order list: element "File", whose text is the data file's name.
class TExportFile : public TPersistentObject {
public:
    TExportFile() { ElementName = "File"; }
    rtl::AnsiString FileName;
    void ToXml(TXmlNode& node) const override;
};

}  // namespace svc
