// Insides of the stand-in's object types and object cache: type descriptors as OCITypeByName hands
// them out, instances and their null structures laid out as the client expects, strings and
// collections. Objects.cpp holds the types and instances, Collections.cpp the strings and collections.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/oci/StandIn.h"

namespace oci {

inline constexpr size_t PtrCell = sizeof(void*);

struct TypeDesc;

// What one attribute (or a collection's element) holds in an instance.
enum class Slot {
    Text,     // OCIString* (VARCHAR2, CHAR, and RAW as hexadecimal text)
    Number,   // OCINumber, 22 bytes in place
    Date,     // OCIDate, 8 bytes in place
    BFloat,   // 4-byte float in place
    BDouble,  // 8-byte double in place
    Object,   // a final object: embedded; otherwise a pointer to an instance of its own
    Coll,     // OCIColl*
    Stamp,    // OCIDateTime* (a TIMESTAMP descriptor of the attribute's kind)
    Span,     // OCIInterval* (an INTERVAL descriptor of the attribute's kind)
    Lob,      // OCILobLocator* (a CLOB or BLOB held in the client until the value is bound)
    Ref,      // OCIRef* to an object of the nested type
};

struct TypeAttr {
    std::string name;  // upper case
    std::string declared;
    TypeInfo info;               // Oracle's description (SQLT code, size, precision, scale)
    TypeDesc* nested = nullptr;  // named types
    Slot slot = Slot::Text;
    bool embedded = false;  // a final object laid out in place
    size_t offset = 0, size = 0, indOffset = 0, indStep = 2;
};

struct TypeDesc {
    std::string schema, name;        // upper case
    ub2 code = OCI_TYPECODE_OBJECT;  // 108 object, 122 named collection
    ub2 collCode = 0;                // 247 VARRAY, 248 nested table
    ub4 limit = 0;                   // VARRAY element limit
    bool final = true;
    std::vector<TypeAttr> attrs;  // a collection: its element alone
    size_t valueSize = 0, indSize = 2;
    bool aligned = false;
    bool isColl() const { return code == OCI_TYPECODE_NAMEDCOLLECTION; }
    bool isXml() const { return code == OCI_TYPECODE_OPAQUE; }
    const TypeAttr& element() const { return attrs.front(); }
};

// The type of that name in the session's database (ORA-04043 when there is none). Descriptors live
// as long as the process, so a TDO handed out never dangles.
TypeDesc* findType(Session& s, const std::string& schema, const std::string& name);
// A TDO as the client passes it back; raises ORA-21560 for anything else.
TypeDesc* typeOf(const void* tdo);

// ---- instances --------------------------------------------------------------------------------------

// An element of a collection: its bytes as laid out for the element type and its null structure.
struct CollElem {
    std::vector<unsigned char> data, ind;
    bool exists = true;  // false once deleted from a nested table
};

struct CollBody {
    TypeDesc* type = nullptr;
    std::vector<std::unique_ptr<CollElem>> elems;
    sb2 atomic = OCI_IND_NOTNULL;  // a top-level collection's own indicator
};

CollBody* collOf(const void* p);  // ORA-22806 unless p is a live collection
CollBody* collOfOrNull(const void* p);
CollBody* newColl(TypeDesc* type);
void freeColl(CollBody* c);

// Strings: a 4-byte length, the bytes (client code page), a zero byte.
OCIString* newString(const std::string& bytes);
void freeString(OCIString* s);
bool isString(const void* p);
std::string stringText(const OCIString* s);  // a nil string reads as empty
void setString(OCIString** cell, const std::string& bytes);

// Instance bytes of type t at data with null structure ind.
void initInstance(TypeDesc* t, unsigned char* data, unsigned char* ind);
void clearInstance(TypeDesc* t, unsigned char* data);
void copyInstance(TypeDesc* t, const unsigned char* src, const unsigned char* srcInd, unsigned char* dst,
                  unsigned char* dstInd);
// One element or attribute value: initialise, release, copy.
size_t slotSize(const TypeAttr& a);
size_t slotIndSize(const TypeAttr& a);
void initSlot(const TypeAttr& a, unsigned char* data, unsigned char* ind);
void clearSlot(const TypeAttr& a, unsigned char* data);
void copySlot(const TypeAttr& a, const unsigned char* src, const unsigned char* srcInd, unsigned char* dst,
              unsigned char* dstInd);
// A value the client passes to append or assign an element (OCIString* for strings, the instance for
// objects, a pointer to the bytes otherwise) copied into an element's cell.
void assignElement(const TypeAttr& a, const void* value, const void* valueInd, CollElem& e);

// A top-level object instance made by the cache (OCIObjectNew or a fetch).
struct Instance {
    TypeDesc* type = nullptr;
    std::vector<unsigned char> data, ind;
};
Instance* instanceOf(const void* p);  // null when p is no instance of the cache
void* newInstance(TypeDesc* t);       // an object instance or a collection
void dropInstance(void* p);           // frees an object instance made by newInstance

// ---- values in the database ---------------------------------------------------------------------------

// An instance as the text the database keeps (NULL for an atomically null value).
Value instanceValue(TypeDesc* t, const void* instance, const void* ind);
// Fills an instance (data of type t, an initialised one) from the kept text.
void loadInstance(TypeDesc* t, const Value& v, void* instance, void* ind);

// One attribute as a column of an object table keeps it: scalars as SQLite values (RAW as bytes),
// objects and collections in the kept text form; and back.
Value attrValue(const TypeAttr& a, const unsigned char* data, const unsigned char* ind);
void loadAttr(const TypeAttr& a, const Value& v, unsigned char* data, unsigned char* ind);

// ---- REFs and XMLTYPE (Refs.cpp, Xml.cpp) -------------------------------------------------------------

// The built-in SYS.XMLTYPE, an opaque type.
TypeDesc* xmlType();
// XMLTYPE instances: the text (UTF-8) and the value's indicator.
void* newXml(const Value& text);
bool isXml(const void* p);
void setXmlText(void* p, const Value& text);  // the value of an existing instance, in place
bool freeXml(void* p);
sb2* xmlIndicator(void* p);
Value xmlValue(const void* p, const void* ind);

void* newRef(TypeDesc* type);  // a null REF
// An instance freed by the client leaves the pinned objects.
void forgetPinned(void* instance);
bool isRef(const void* p);
bool freeRef(void* p);
// REF cells of instances and collection elements: to takes from's REF (a null REF for a nil from;
// ORA-22806 when from is no REF); the kept text, empty for a null REF, and back.
void copyRef(const void* from, void* to);
std::string refCellText(const void* ref);
void setRefCellText(void* ref, const std::string& text);
bool isRefText(const std::string& text);  // the kept text of a REF
// The session a REF read from the database is pinned through.
void setRefSession(void* ref, Session& s);
// Every REF inside an instance of t (nested objects and collections too) takes session s.
void refsToSession(TypeDesc* t, void* instance, Session& s);
// The object table a REF column or REF(alias) points into, by the referenced type (empty: any).
TypeDesc* refTypeOf(Session& s, const std::string& declared);

// ---- descriptor elements and type constructors (CollectionElements.cpp) ----------------------------

// TIMESTAMP, INTERVAL and LOB attributes and elements: a descriptor of their own in the cell.
void* newDescriptorSlot(const TypeAttr& a);
void copyDescriptorSlot(const TypeAttr& a, const void* from, void* to);
bool descriptorSlot(const TypeAttr& a);
// The client passes its own descriptor (OCIDateTime*, OCIInterval*, OCILobLocator*) to append or
// assign an element; the element keeps a copy in the descriptor of its cell.
void assignDescriptorElement(const TypeAttr& a, const void* value, const void* valueInd, unsigned char* cell);
// type_name(arguments) in SQL as a call of oci_construct, which builds the kept text.
std::string rewriteConstructors(Session& s, const std::string& sql);
bool describeConstructorItem(Session& s, const Token& head, const Token& arg, Column& col);
void registerConstructorFunction(Session& s);

}  // namespace oci
