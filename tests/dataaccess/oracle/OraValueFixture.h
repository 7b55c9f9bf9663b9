// Helpers the object, REF and XML value tests share: a value released at scope end and the first
// row of a query on a record set of its own.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "dataaccess/oracle/OraClasses.h"
#include "dataaccess/oracle/OraObjects.h"

// Releases the one reference its creator holds.
template <class T>
struct Held {
    T* p;
    explicit Held(T* v) : p(v) {}
    ~Held() { dac::FreeShared(p); }
    T* operator->() const { return p; }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
};

// One open record set positioned on the first row of a query, with that row's record.
struct Row {
    dac::TOCIRecordSet rs;
    std::vector<uint8_t> rec;
    Row(dac::TOCIConnection* conn, const dac::AnsiString& sql) {
        rs.SetConnection(conn);
        rs.SetSQLText(sql);
        rs.Open();
        rs.GetNextRecord(nullptr);
        if (rs.Eof()) throw std::runtime_error("no row: " + sql);
        rec.resize(static_cast<size_t>(rs.RecordSize()));
        rs.GetRecord(rec.data());
    }
    ~Row() { rs.Close(); }
    Row(const Row&) = delete;
    Row& operator=(const Row&) = delete;
    dac::TFieldDesc* Field(const char* name) {
        dac::TFieldDesc* f = rs.Fields().FindField(name);
        if (!f) throw std::runtime_error(std::string("no field ") + name);
        return f;
    }
    template <class T>
    T* Value(const char* name) {
        return dynamic_cast<T*>(rs.GetObject(Field(name)->FieldNo, rec.data()));
    }
    bool Null(const char* name) { return rs.GetNull(Field(name)->FieldNo, rec.data()); }
};
