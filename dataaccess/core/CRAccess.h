// The driver layer's shared classes.
//
// SQL text analysis: TSQLInfo describes a SQL dialect (identifier quotes and case, name
// normalisation, dotted names) and reads the FROM-clause tables and the select-list columns of
// a statement into TCRTablesInfo and TColumnsInfo.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dataaccess/core/CRParser.h"
#include "platform/rtl/Types.h"

namespace dac {

using rtl::AnsiString;

class TCRCommand;
class TCRTablesInfo;
class TColumnsInfo;

// ---------------------------------------------------------------------------------------------
// SQL text analysis

// Parts of a dotted object name; quotes stay in the parts.
struct TSQLObjectInfo {
    AnsiString Name;
    AnsiString Schema;
    AnsiString Catalog;
    AnsiString DBLink;
};

class TSQLInfo {
public:
    TSQLInfo() = default;
    virtual ~TSQLInfo() = default;
    TSQLInfo(const TSQLInfo&) = delete;
    TSQLInfo& operator=(const TSQLInfo&) = delete;

    // Links the owning command and the lexer class its SQL is read with.
    void SetCommand(TCRCommand* command, TSQLParserClass parserClass);
    TCRCommand* Command() const { return command_; }

    // Hook called after a column name has been read.
    virtual void ParseColumnSuffix(TSQLParser& parser, int& code, AnsiString& lexem);
    virtual char LeftQuote() const { return '"'; }
    virtual char RightQuote() const { return '"'; }
    // 0: the server stores unquoted names in upper case, 1: in lower case, 2: as written.
    virtual int IdentCase() const { return 2; }
    virtual AnsiString Quote(const AnsiString& value, char left, char right) const;
    virtual AnsiString UnQuote(const AnsiString& value) const;
    virtual bool IsQuoted(const AnsiString& value) const;
    virtual bool NeedQuote(const AnsiString& value) const;
    AnsiString NormalizeName(const AnsiString& value, bool quoteNames = false,
                             bool unQuoteNames = false) const {
        return NormalizeName(value, LeftQuote(), RightQuote(), quoteNames, unQuoteNames);
    }
    virtual AnsiString NormalizeName(const AnsiString& value, char left, char right, bool quoteNames,
                                     bool unQuoteNames) const;
    virtual void SplitObjectName(const AnsiString& name, TSQLObjectInfo& info) const;
    virtual void ParseTablesInfo(const AnsiString& sql, TCRTablesInfo& tables);
    virtual void ParseColumnsInfo(const AnsiString& sql, TColumnsInfo& columns);

    AnsiString QuoteName(const AnsiString& value) const { return Quote(value, LeftQuote(), RightQuote()); }

protected:
    // A lexer of the linked class over sql; asserts that a command is linked.
    std::unique_ptr<TSQLParser> CreateParser(const AnsiString& sql) const;

private:
    TCRCommand* command_ = nullptr;
    TSQLParserClass parserClass_ = nullptr;
};

class TCRTableInfo {
public:
    explicit TCRTableInfo(TCRTablesInfo* owner) : owner_(owner) {}
    virtual ~TCRTableInfo() = default;

    virtual AnsiString GetTableNameFull() const { return tableName_; }

    TCRTablesInfo* Owner() const { return owner_; }
    int Index() const { return index_; }
    const AnsiString& TableName() const { return tableName_; }
    const AnsiString& TableAlias() const { return tableAlias_; }
    // Setting a name or alias re-sorts the owner's index (unless the owner is updating).
    void SetTableName(const AnsiString& value);
    void SetTableAlias(const AnsiString& value);

private:
    friend class TCRTablesInfo;
    TCRTablesInfo* owner_;
    int index_ = -1;
    AnsiString tableName_;
    AnsiString tableAlias_;
};

// Class reference of table items.
using TTableInfoClass = std::unique_ptr<TCRTableInfo> (*)(TCRTablesInfo* owner);

class TCRTablesInfo {
public:
    // A null item class means TCRTableInfo.
    explicit TCRTablesInfo(TTableInfoClass itemClass = nullptr);
    ~TCRTablesInfo();
    TCRTablesInfo(const TCRTablesInfo&) = delete;
    TCRTablesInfo& operator=(const TCRTablesInfo&) = delete;

    TCRTableInfo* Add();
    void Clear();
    int Count() const { return static_cast<int>(items_.size()); }
    // An index outside 0 .. Count - 1 raises Exception "List index out of bounds (%d)".
    TCRTableInfo* Items(int index) const;
    TCRTableInfo* operator[](int index) const { return Items(index); }

    bool CaseSensitive() const { return caseSensitive_; }
    void SetCaseSensitive(bool value);
    void BeginUpdate() { ++updateCount_; }
    void EndUpdate();
    int UpdateCount() const { return updateCount_; }

    // The Index of the first item with that name (alias), or -1.
    int IndexByName(const AnsiString& name) const;
    int IndexByAlias(const AnsiString& alias) const;

private:
    friend class TCRTableInfo;
    using TIndex = std::vector<std::pair<AnsiString, TCRTableInfo*>>;
    void RebuildIndex(bool names);
    int Find(const TIndex& index, bool names, const AnsiString& key) const;
    int CompareKeys(const AnsiString& a, const AnsiString& b) const;

    std::vector<std::unique_ptr<TCRTableInfo>> items_;
    TTableInfoClass itemClass_;
    bool caseSensitive_ = false;
    int updateCount_ = 0;
    TIndex namesIndex_;
    TIndex aliasesIndex_;
};

class TColumnInfo {
public:
    AnsiString Name;
    AnsiString Table;
    int TableNo = -1;
    AnsiString Expr;        // text of a select-list expression
    AnsiString TableAlias;  // the column's alias in the select list
    bool Used = false;
    bool IsDescribed = false;
};

class TColumnsInfo {
public:
    TColumnInfo* Add();
    void Clear() { items_.clear(); }
    int Count() const { return static_cast<int>(items_.size()); }
    TColumnInfo* Items(int index) const;
    TColumnInfo* operator[](int index) const { return Items(index); }

private:
    std::vector<std::unique_ptr<TColumnInfo>> items_;
};

}  // namespace dac
