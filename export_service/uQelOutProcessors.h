// The export's processors: the XML generator of the package documents and the mappers that fill
// the record kinds from the stored procedures' cursors.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/uDataFiles.h"
#include "export_service/udmQelOutDataObject.h"
#include "platform/os/ReplacingFile.h"
#include "platform/rtl/Types.h"

namespace db {
class TField;
}

namespace svc {

// One package document: the data file (root RequestsData) or the order list (root XmlOrderList).
//
//   <?xml version="1.0" encoding="utf-8"?>
//   <Root PackageId="{...}" Emitent="7" Filial="1" DateTimeCreate="2024-05-06T07:08:09Z" Version="2.9.1.0">
//   	<LIST_NAME>            a container of at most 1000 items; a longer list goes on in
//   		<ITEM>             further containers of the same name
//   			<Field>value</Field>
//   		</ITEM>
//   	</LIST_NAME>
//   </Root>
//
// in the text form of common/uXmlNode.h, UTF-8 without a byte-order mark. A document without
// lists closes its root with "/>". The header's time is local time, "Z" appended all the same.
// The items are written into the document text as the lists come, so a document holds its text
// and not a tree of its items.
class TXMLGenerator {
public:
    static constexpr const char* Version = "2.9.1.0";
    static constexpr int ContainerSize = 1000;

    static TXMLGenerator CreateData(const std::string& packageId, int emitentId, int filialId,
                                    rtl::TDateTime created);
    static TXMLGenerator CreateOrderList(const std::string& packageId, int emitentId, int filialId,
                                         rtl::TDateTime created);

    // Appends the list under containers named listName; an empty list writes nothing. Items that
    // are not data objects are skipped, but count towards their container's 1000.
    void WriteList(const std::string& listName, const TDataObjectList& list);
    // Writes the document to the path (blanks around it trimmed), creating or replacing the
    // file; the file appears whole or not at all. Raises rtl::EFCreateError. A `passing` file is
    // one the program packs and deletes itself: it is not forced to the disk first.
    void SaveToFile(const std::string& path, bool passing = false);
    // Starts the file at path early: the text so far, and what each Spill finds added, go to a
    // temporary beside it, so that SaveToFile(path) has only the rest to write. When the
    // temporary cannot be made or written, SaveToFile writes the whole file as usual.
    void BeginFile(const std::string& path);
    void Spill();
    // The document's text as SaveToFile writes it.
    std::string Text() const;

private:
    TXMLGenerator(const char* root, const std::string& packageId, int emitentId, int filialId,
                  rtl::TDateTime created);
    std::string ClosingText() const;

    std::string root_;
    // The declaration, the root's start tag without its end, then the lists.
    std::string text_;
    bool hasContent_ = false;
    // The file started by BeginFile and how much of text_ it holds.
    std::unique_ptr<os::TReplacingFile> file_;
    size_t spilled_ = 0;
};

// Base of the forty mappers: the run's stored procedures (not owned) beside the session.
class TWebOutMapper : public TAbstractMapper {
public:
    TWebOutMapper(TDataSession* session, TExportProcedures* dataObjects)
        : TAbstractMapper(session), DataObjects(dataObjects) {}

    TExportProcedures* DataObjects;
};

// The mapper of one record kind: reads its data class's columns from each row and answers the
// one list operation the kind is fetched by; the other gives no list.
class TKindMapper : public TWebOutMapper {
public:
    TKindMapper(int kind, TDataSession* session, TExportProcedures* dataObjects);

    const TRecordKindInfo& KindInfo() const { return kind_; }

    // The kind's data object from the current row. A missing column raises the dataset's error
    // ("Field '<name>' not found"); the runner turns that into no list. The columns are looked
    // up by name on the first row of a dataset and kept for its further rows (a list operation
    // starts afresh), since a lookup by name costs more than reading the value.
    TPersistentObject* CreateObject(db::TDataSet& dataSet) override;
    // Kinds fetched by client type; no list (and no database call) for a client type the kind
    // has no list for.
    std::unique_ptr<TDataObjectList> GetListByClientType(int clientType) override;
    // Kinds fetched by package id.
    std::unique_ptr<TDataObjectList> GetListByPackageId(const std::string& packageId) override;

private:
    void FindColumns(db::TDataSet& dataSet);
    void ReadField(TExportRecord& record, int field);
    int LimitCode(bool coupon);

    const TRecordKindInfo& kind_;
    // The dataset whose columns are known, and its column of each field (null: none read).
    const db::TDataSet* columnsOf_ = nullptr;
    std::vector<const db::TField*> columns_;
    const db::TField* kindLimit_ = nullptr;
    const db::TField* limitType_ = nullptr;
};

#define DX_KIND_MAPPER(Name, kind)                                  \
    class Name : public TKindMapper {                               \
    public:                                                         \
        Name(TDataSession* session, TExportProcedures* dataObjects) \
            : TKindMapper(kind, session, dataObjects) {}            \
    }

DX_KIND_MAPPER(TNewClientQelMapper, 0);
DX_KIND_MAPPER(TNewClientDolmMapper, 1);
DX_KIND_MAPPER(TServiceMapper, 2);
DX_KIND_MAPPER(TEmitentMapper, 3);
DX_KIND_MAPPER(TPosMapper, 4);
DX_KIND_MAPPER(TADParamsMapper, 5);
DX_KIND_MAPPER(TPosPricesMapper, 6);
DX_KIND_MAPPER(TRfidParamsMapper, 7);
DX_KIND_MAPPER(TPackageConfirmMapper, 8);
DX_KIND_MAPPER(TOnlLimitsMapper, 9);
DX_KIND_MAPPER(TClientExportQelMapper, 10);
DX_KIND_MAPPER(TClientExportDolmMapper, 11);
DX_KIND_MAPPER(THolderQelMapper, 12);
DX_KIND_MAPPER(THolderDolmMapper, 13);
DX_KIND_MAPPER(TADClientParamsMapper, 14);
DX_KIND_MAPPER(TAccountQelMapper, 15);
DX_KIND_MAPPER(TCardQelMapper, 16);
DX_KIND_MAPPER(TCardDolmMapper, 17);
DX_KIND_MAPPER(TPurseQelMapper, 18);
DX_KIND_MAPPER(TChangeStateRechargeMapper, 19);
DX_KIND_MAPPER(TChangeStateDebitMapper, 20);
DX_KIND_MAPPER(TChangeStateChangeLimitMapper, 21);
DX_KIND_MAPPER(TTrnQelMapper, 22);
DX_KIND_MAPPER(TTrnDolmMapper, 23);
DX_KIND_MAPPER(TTrnIBSQelMapper, 24);
DX_KIND_MAPPER(TTrnIBSDolmMapper, 25);
DX_KIND_MAPPER(TMifareCardMapper, 26);
DX_KIND_MAPPER(TMifareClientMapper, 27);
DX_KIND_MAPPER(TStatusRequestMapper, 28);
DX_KIND_MAPPER(TOnlCardsMapper, 29);
DX_KIND_MAPPER(TOnlCardLimitsMapper, 30);
DX_KIND_MAPPER(TChangeStateChOnlLimCardMapper, 31);
DX_KIND_MAPPER(TClientTarifMapper, 32);
DX_KIND_MAPPER(TClientTarifPricesMapper, 33);
DX_KIND_MAPPER(TClientTarifDiscountsMapper, 34);
DX_KIND_MAPPER(TEmitentConfigsMapper, 35);
DX_KIND_MAPPER(TCouponLimitMapper, 36);
DX_KIND_MAPPER(TCouponsMapper, 37);
DX_KIND_MAPPER(TCouponsSettingsMapper, 38);
DX_KIND_MAPPER(TCouponsReqChangeStateMapper, 39);

#undef DX_KIND_MAPPER

class TMapperFactory {
public:
    // The mapper of a kind 0 to 39; null for any other number.
    static std::unique_ptr<TWebOutMapper> CreateMapper(int kind, TDataSession* session,
                                                       TExportProcedures* dataObjects);
};

}  // namespace svc
