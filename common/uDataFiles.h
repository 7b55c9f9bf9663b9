// The data-file framework both services build their package work on: the package file base
// (TFileDataFactory), the base of every record that travels inside a package (TPersistentObject)
// and the base of the export's mappers, which turn the rows of a stored procedure's cursor into
// such records (TAbstractMapper).
//
// The database is reached through two small interfaces, TDataSession and TCursorProc, so that
// the framework depends only on the platform dataset: the data-access components implement them
// over a session component and a stored-procedure component; tests implement them over an
// in-memory dataset.
#pragma once

#include <exception>
#include <memory>
#include <string>

#include "common/uLogEvent.h"
#include "common/uXmlNode.h"
#include "platform/rtl/Lists.h"
#include "platform/rtl/Objects.h"

namespace db {
class TDataSet;
class TParams;
}  // namespace db

namespace svc {

// A database session as the package work uses it: connection state and one transaction.
class TDataSession {
public:
    virtual ~TDataSession() = default;
    virtual bool Connected() const = 0;
    virtual bool InTransaction() const = 0;
    virtual void StartTransaction() = 0;
    virtual void Commit() = 0;
    virtual void Rollback() = 0;
};

// A stored procedure whose output parameter is a cursor: a declared parameter list, and an
// execute that opens the procedure's component as a dataset on the cursor's rows.
class TCursorProc {
public:
    virtual ~TCursorProc() = default;
    // The session the next execute runs on.
    virtual void SetSession(TDataSession* session) = 0;
    virtual TDataSession* Session() const = 0;
    // The declared parameters; names are found without regard to case.
    virtual db::TParams& Params() = 0;
    // Executes the procedure; the dataset it returns is open and stands on the first row.
    virtual db::TDataSet& Execute() = 0;
    // Closes the dataset when it is open.
    virtual void Close() = 0;
    // The procedure's name, for journal lines.
    virtual std::string ProcName() const = 0;
};

// Data objects of one record kind; the list owns them.
using TDataObjectList = rtl::TObjectList;

// ---------------------------------------------------------------------------------------------

// Base of the objects that turn one package into database calls, or database rows into one
// package file. The data file is Path + FileName (no delimiter is inserted between them).
class TFileDataFactory : public rtl::TObject {
public:
    TFileDataFactory(std::string path, std::string fileName);
    // Deletes the data file when DeleteOnDestroy is set.
    ~TFileDataFactory() override;

    bool DeleteOnDestroy = true;
    TDataSession* Session = nullptr;  // not owned; set by the descendants
    TLogEvent OnLog;
    std::string FileName;
    std::string Path;

    virtual void Import();
    virtual void Export();

    // Deletes Path + FileName; false when that fails or raises. Never raises.
    bool DeleteDataFile();
    std::string GetFullFileName() const { return Path + FileName; }

    void Log(const std::string& text) { LogMessage(text, true); }
    // Calls OnLog when assigned; an exception of the callback is swallowed.
    void LogMessage(const std::string& text, bool important);
    void LogError(const std::string& text) { LogMessage("Error: " + text, true); }

    // The error path of a database step that failed with error: rolls the session's open
    // transaction back; raises rtl::Exception with the error's message when the session is
    // (then) not connected, and with the rollback's message when the rollback fails.
    static void RollbackTransaction(TDataSession* session, const std::exception& error);
};

// ---------------------------------------------------------------------------------------------

// Base of every record inside a package file. ElementName is the item element's name.
class TPersistentObject : public rtl::TObject {
public:
    std::string ElementName;

    // Writes the fields as children of the given element; the base writes nothing.
    virtual void ToXml(TXmlNode& node) const;
    // Fills the fields from the given element; the base reads nothing.
    virtual void FromXml(const TXmlNode& node);
    // Calls the object's stored procedure with its fields; the base calls nothing.
    virtual void SaveToDB(TDataSession* session);

    // The value in general format with at most 15 significant digits, "." as the decimal
    // separator whatever the regional settings, no thousands separator, no trailing zeros or
    // point (12.5, 3, -0.25, 0); scientific ("1.5E-6", "1E20") below 0.00001 in magnitude or with
    // more than 15 digits before the point.
    static std::string FloatToText(double value);
};

// ---------------------------------------------------------------------------------------------

// Base of the export's mappers: runs one stored procedure that returns a cursor and turns every
// row into a data object. A runner never lets an error of the system's exception family out
// (rtl::Exception): the kind's transaction is rolled back, the list built so far is freed, one
// "Error: " line is journalled and the result is no list (null). A failing start of the
// transaction is raised to the caller; faults outside the family pass through unchanged.
class TAbstractMapper : public rtl::TObject {
public:
    explicit TAbstractMapper(TDataSession* session) : Session(session) {}

    TLogEvent OnLog;
    TDataSession* Session;  // not owned

    // A new data object from the dataset's current row; abstract (raises EAbstractError).
    virtual TPersistentObject* CreateObject(db::TDataSet& dataSet);
    // The base has no list for either.
    virtual std::unique_ptr<TDataObjectList> GetListByPackageId(const std::string& packageId);
    virtual std::unique_ptr<TDataObjectList> GetListByClientType(int clientType);

    // In a transaction of their own, with one input parameter: "p_zuv_emitent_id" and
    // "p_client_type" as integers, "p_package_id" as text. A cursor without rows gives an empty list.
    std::unique_ptr<TDataObjectList> RunByEmitentId(int emitentId, TCursorProc& proc);
    std::unique_ptr<TDataObjectList> RunByClientType(int clientType, TCursorProc& proc);
    std::unique_ptr<TDataObjectList> RunByPackageId(const std::string& packageId, TCursorProc& proc);
    // No parameter and no transaction.
    std::unique_ptr<TDataObjectList> RunWithoutParams(TCursorProc& proc);

    void LogMessage(const std::string& text, bool important);
    void LogError(const std::string& text) { LogMessage("Error: " + text, true); }

private:
    enum class TParamKind { None, Integer, Text };
    std::unique_ptr<TDataObjectList> Run(TCursorProc& proc, bool inTransaction, TParamKind kind,
                                         const char* paramName, int intValue, const std::string& textValue);
    std::unique_ptr<TDataObjectList> ReadRows(TCursorProc& proc);
};

}  // namespace svc
