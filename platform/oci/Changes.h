// Database change notification in the stand-in: subscriptions, the change log that triggers fill,
// and the watcher thread that hands committed changes to the subscribers' callbacks.
//
// How changes travel: a query executed with a subscription set on its statement (attribute 414)
// registers the tables it reads. Each such table gets three triggers (insert, update, delete) that
// write the table name, the operation and the SQLite rowid into oci_change_log. Triggers live in the
// database file, so every connection of every process that writes the table fills the log, and the
// rows appear only when the writer commits. One watcher thread per process polls PRAGMA data_version
// on a connection of its own (it moves when any other connection commits) and reads the log rows
// past each subscription's high-water mark; each subscriber gets every committed change once.
#pragma once

#include "platform/oci/StandIn.h"

namespace oci {

// Subscriptions are handles of type OCI_HTYPE_SUBSCRIPTION; change descriptors of types 77 to 79
// and their collections are made by the watcher for one callback and freed after it.
bool isChangeHandleType(ub4 type);
Handle* newSubscription();
sword subscriptionAttrSet(Handle* h, void* attributep, ub4 size, ub4 attrtype);
// false when the attribute is not one of the change descriptors'.
bool changeAttrGet(Handle* h, void* attributep, ub4* sizep, ub4 attrtype);

// The tables a query of the statement reads join the statement's subscription.
void registerQueryTables(Session& s, Stmt& st);

// Oracle's ROWID text of a row: the table's object number and the row's position, in the same
// form as OCIRowidToChar gives for a row an insert made.
std::string rowidText(int64_t tableObject, int64_t rowid);
// The same text from a ROWID's four parts.
std::string rowidText(uint64_t object, uint64_t file, uint64_t block, uint64_t row);
// The table whose ROWID a statement means: the one named or aliased qualifier, or without a
// qualifier the first table it names after FROM, JOIN, UPDATE or INTO. Empty when none is.
std::string rowidTable(const std::string& utf8, const std::string& qualifier);
// oci_rowid(table, rowid) gives a row's ROWID text in the connection's SQL.
void registerRowidFunction(sqlite3* db);
// Appends the SQLite form of a ROWID met in the statement to its translation so far.
void appendRowid(std::string& out, const std::string& utf8);

// ALTER TABLE or DROP TABLE of a table whose changes are logged (ChangeDdl.cpp): found before the
// statement runs (a dropped table has lost its triggers after), logged after it succeeded.
struct TableDdl {
    std::string table;  // SQLite's name
    ub4 op = 0;         // OCI_OPCODE_ALTER or OCI_OPCODE_DROP; 0: nothing to log
};
TableDdl tableDdl(Session& s, const std::string& utf8);
void logTableDdl(Session& s, const TableDdl& ddl);

// OCICollSize and OCICollGetElem on the collections of a change descriptor.
sword changeCollSize(OCIError* errhp, const OCIColl* coll, sb4* size);
sword changeCollGetElem(OCIError* errhp, const OCIColl* coll, sb4 index, boolean* exists, void** elem,
                        void** elemind);

}  // namespace oci
