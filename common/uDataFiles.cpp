// The data-file framework: package file base, data-object base and the mapper runners.
#include "common/uDataFiles.h"

#include "platform/db/DB.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Files.h"
#include "platform/rtl/Numbers.h"

namespace svc {

// ---------------------------------------------------------------------------------------------
// TFileDataFactory

TFileDataFactory::TFileDataFactory(std::string path, std::string fileName)
    : FileName(std::move(fileName)), Path(std::move(path)) {}

TFileDataFactory::~TFileDataFactory() {
    if (DeleteOnDestroy) DeleteDataFile();
}

void TFileDataFactory::Import() {
    Log("TFileDataFactory.Import");
}

void TFileDataFactory::Export() {
    Log("TFileDataFactory.Export");
}

bool TFileDataFactory::DeleteDataFile() {
    try {
        return rtl::DeleteFile(GetFullFileName());
    } catch (...) {
        return false;
    }
}

void TFileDataFactory::LogMessage(const std::string& text, bool important) {
    CallLog(OnLog, text, important);
}

void TFileDataFactory::RollbackTransaction(TDataSession* session, const std::exception& error) {
    // A lost connection ends the caller's work; otherwise it goes on after the rollback.
    try {
        if (session && session->Connected() && session->InTransaction()) session->Rollback();
        if (!session || !session->Connected()) throw rtl::Exception(error.what());
    } catch (const std::exception& e) {
        throw rtl::Exception(e.what());
    }
}

// ---------------------------------------------------------------------------------------------
// TPersistentObject

void TPersistentObject::ToXml(TXmlNode&) const {}

void TPersistentObject::FromXml(const TXmlNode&) {}

void TPersistentObject::SaveToDB(TDataSession*) {}

std::string TPersistentObject::FloatToText(double value) {
    static const rtl::TFormatSettings settings = [] {
        rtl::TFormatSettings fs = rtl::TFormatSettings::Invariant();
        fs.DecimalSeparator = '.';
        fs.ThousandSeparator = ',';
        return fs;
    }();
    return rtl::FloatToStrF(value, rtl::ffGeneral, 15, 0, settings);
}

// ---------------------------------------------------------------------------------------------
// TAbstractMapper

TPersistentObject* TAbstractMapper::CreateObject(db::TDataSet&) {
    rtl::AbstractError();
}

std::unique_ptr<TDataObjectList> TAbstractMapper::GetListByPackageId(const std::string&) {
    return nullptr;
}

std::unique_ptr<TDataObjectList> TAbstractMapper::GetListByClientType(int) {
    return nullptr;
}

std::unique_ptr<TDataObjectList> TAbstractMapper::RunByEmitentId(int emitentId, TCursorProc& proc) {
    return Run(proc, true, TParamKind::Integer, "p_zuv_emitent_id", emitentId, std::string());
}

std::unique_ptr<TDataObjectList> TAbstractMapper::RunByClientType(int clientType, TCursorProc& proc) {
    return Run(proc, true, TParamKind::Integer, "p_client_type", clientType, std::string());
}

std::unique_ptr<TDataObjectList> TAbstractMapper::RunByPackageId(const std::string& packageId,
                                                                 TCursorProc& proc) {
    return Run(proc, true, TParamKind::Text, "p_package_id", 0, packageId);
}

std::unique_ptr<TDataObjectList> TAbstractMapper::RunWithoutParams(TCursorProc& proc) {
    return Run(proc, false, TParamKind::None, nullptr, 0, std::string());
}

void TAbstractMapper::LogMessage(const std::string& text, bool important) {
    CallLog(OnLog, text, important);
}

std::unique_ptr<TDataObjectList> TAbstractMapper::ReadRows(TCursorProc& proc) {
    db::TDataSet& dataSet = proc.Execute();
    auto list = std::make_unique<TDataObjectList>();
    while (!dataSet.Eof()) {
        std::unique_ptr<TPersistentObject> object(CreateObject(dataSet));
        list->Add(object.get());
        object.release();
        dataSet.Next();
    }
    return list;
}

std::unique_ptr<TDataObjectList> TAbstractMapper::Run(TCursorProc& proc, bool inTransaction, TParamKind kind,
                                                      const char* paramName, int intValue,
                                                      const std::string& textValue) {
    proc.SetSession(Session);
    if (inTransaction) {
        if (!proc.Session()) throw rtl::EDatabaseError("No session for " + proc.ProcName());
        proc.Session()->StartTransaction();
    }
    try {
        if (kind == TParamKind::Integer) proc.Params().ParamByName(paramName)->SetAsInteger(intValue);
        if (kind == TParamKind::Text) proc.Params().ParamByName(paramName)->SetAsString(textValue);
        std::unique_ptr<TDataObjectList> list = ReadRows(proc);
        proc.Close();
        if (inTransaction) proc.Session()->Commit();
        return list;
    } catch (const rtl::Exception& e) {
        // The list built so far has gone with the stack; what is left is the transaction and
        // the dataset. Their own failures are journalled too but do not replace the first error.
        std::string cleanupError;
        if (inTransaction) {
            try {
                proc.Session()->Rollback();
            } catch (const rtl::Exception& rollbackError) {
                cleanupError = rollbackError.Message();
            }
        }
        try {
            proc.Close();
        } catch (const rtl::Exception& closeError) {
            if (cleanupError.empty()) cleanupError = closeError.Message();
        }
        LogError(e.Message());
        if (!cleanupError.empty()) LogError(cleanupError);
        return nullptr;
    }
}

}  // namespace svc
