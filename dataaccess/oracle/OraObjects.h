// Oracle object types and values: type descriptions with the layout of their instances in the
// client's object cache (TOraType, the process-wide cache TObjectTypes), object values with their
// attributes reached by path (TOraObject), and VARRAY and nested-table values (TOraArray,
// TOraNestTable).
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "dataaccess/core/MemData.h"
#include "dataaccess/oracle/OraCall.h"
#include "platform/rtl/DateTime.h"

namespace dac {

class TOCIConnection;
class TOraRef;

// Every pointer cell of an instance, a null structure or a value cell has the native size.
inline constexpr std::size_t OraPtrCell = sizeof(void*);
// Attribute paths handed to OCI by name hold at most this many consecutive names.
inline constexpr int MaxAttributeNames = 31;

// Shared values OCI reads when a null element is appended: a not-null indicator, 50 null
// indicators, a scratch OCINumber and OCIDate, and a cell holding no OCIString.
const void* NotNullIndicator();
const void* NullIndicators();
const void* ScratchNumber();
const void* ScratchDate();
const void* NilStringCell();

// ---------------------------------------------------------------------------------------------
// Type descriptions

class TOraType : public TObjectType {
public:
    TOraType(TOCIConnection* connection, const AnsiString& name);
    TOraType(OCISvcCtx* svcCtx, const AnsiString& name);
    ~TOraType() override;

    void Describe(OCISvcCtx* svcCtx, const AnsiString& name);
    // Binds the kept description to a new service context.
    void Reattach(OCISvcCtx* svcCtx);

    TOCIConnection* Connection = nullptr;
    uint16_t ValueSize = 0;
    uint16_t IndicatorSize = 2;
    int32_t TypeCode = 0;
    OCISvcCtx* SvcCtx = nullptr;
    bool Final = true;
    bool Aligned = false;
    bool Valid = false;
    OCIType* TDO = nullptr;

private:
    void Init(const AnsiString& name);
    void DescribeAttribute(OCIParam* param, bool unicode);
    void Environment(OCIEnv*& env, bool& unicode);
};

// The live types, by service context and name. Holds no references: a type leaves it when it is
// destroyed or when ClearTypes drops it.
class TObjectTypes {
public:
    TOraType* FindType(OCISvcCtx* svcCtx, const AnsiString& name);
    // KeepTypes: the types of svcCtx stay, marked not valid. Otherwise they leave the cache, not
    // valid; they live on while values, fields or parameters hold them, and those that only hold
    // each other (REFs in a ring) go. Answers how many went that way.
    int ClearTypes(OCISvcCtx* svcCtx, bool keepTypes);
    void Add(TOraType* type);
    void Remove(TOraType* type);
    int Count();

private:
    std::recursive_mutex lock_;
    std::vector<TOraType*> items_;
};

// The cache; created with the first type. ObjectTypesExist answers without creating it.
TObjectTypes& ObjectTypes();
bool ObjectTypesExist();

// ---------------------------------------------------------------------------------------------
// Object values

class TOraObject : public TDBObject {
public:
    explicit TOraObject(TOraType* objectType = nullptr);
    ~TOraObject() override;

    void FreeHandles() override;
    void GetAttributeValue(const AnsiString& name, void*& attrBuf, bool& isBlank,
                           bool& nativeBuffer) override;
    void SetAttributeValue(const AnsiString& name, const void* valuePtr) override;
    bool GetAttributeIsNull(const AnsiString& name) override;

    virtual void CheckType();
    virtual bool GetIsNull();
    virtual void SetIsNull(bool value);
    virtual void** GetIndicatorPtr() { return &indicator_; }
    virtual void ChildAlloc(TOraObject* child);
    virtual void AllocObject();
    virtual void AllocObject(const AnsiString& typeName);
    virtual void AllocObject(OCISvcCtx* svcCtx, const AnsiString& typeName);
    virtual void FreeObject(bool freeChild);
    // Plain object values have no REF to pin with: refused with a clear error.
    virtual void Pin();
    virtual void Unpin();
    virtual void Assign(TOraObject* source);
    // The instance in the object cache: written to the server, or marked for deletion there.
    void Flush();
    void MarkDelete();
    void MarkUpdate();
    void AllocObjectOn(OCISvcCtx* svcCtx);

    TOraType* GetObjectType() const { return static_cast<TOraType*>(ObjectType()); }
    void SetObjectType(TOraType* value);
    void SetOCISvcCtx(OCISvcCtx* value);
    OCISvcCtx* GetOCISvcCtx() const { return SvcCtx; }

    void* GetInstance() const { return instance_; }
    void* GetIndicator() const { return indicator_; }
    void** GetInstancePtr() { return &instance_; }
    void StoreInstance(void* value) { instance_ = value; }
    void SetIndicator(void* value) { indicator_ = value; }
    void SetInstance(void* value);
    // Moves the value (and its children) onto another OCI instance.
    void AttachInstance(void* instance, void* indicator);
    void CreateInstance();

    void Check(sword status);
    void CheckSession();
    void CheckAlloc(bool raiseError);
    void CheckNotCached();

    // The child value of an attribute (index -1) or of element index: objects, collections, LOBs,
    // timestamps, intervals; nil for other data types. The parent keeps it.
    TSharedObject* GetComplexAttr(TAttribute* attribute, int index);
    TSharedObject* GetComplexAttrByName(const AnsiString& name);
    TSharedObject* DescriptorAttr(TAttribute* attribute, int slot);
    // A REF child wrote its REF in place: the null flag of its attribute or element follows.
    void ChildRefChanged(TOraObject* child, bool isNull);
    // A REF child takes source: written into its attribute or element through OCI.
    void ChildRefAssign(TOraRef* child, OCIRef* source);
    // The attribute path ("NAME" or "[i]") of a child value held here.
    AnsiString ChildPath(TOraObject* child);
    // The LOB attributes' client content into the instance's LOBs, before the value is bound.
    void WriteLobs();

    // Attribute paths: NAME, A.B, LIST[2], ITEMS[0].QTY.
    void GetAttribute(const AnsiString& name, void*& attrPtr, int16_t& ind, void*& indPtr, bool extend,
                      bool makeNotNull);
    void SetAttributeIsNull(const AnsiString& name, bool value);
    // Writes an attribute through OCI by its path: chains of names (at most MaxAttributeNames between
    // index segments; a longer chain is refused), PHONES[2] or ITEMS[0].QTY; value as OCI takes it (an
    // OCIString*, an OCINumber*, ...), ind 0 or -1.
    void SetAttribute(const AnsiString& name, const void* value, int16_t ind);
    // The names of path (A.B.C) written through OCI on instance, of type.
    void SetAttributeNames(void* instance, void* indicator, TOraType* type, const AnsiString& path,
                           const AnsiString& name, const void* value, int16_t ind);
    double GetAttrAsFloat(const AnsiString& name);
    void SetAttrAsFloat(const AnsiString& name, double value);
    int32_t GetAttrAsInteger(const AnsiString& name);
    void SetAttrAsInteger(const AnsiString& name, int32_t value);
    int64_t GetAttrAsLargeInt(const AnsiString& name);
    void SetAttrAsLargeInt(const AnsiString& name, int64_t value);
    OCIDate GetAttrAsOCIDate(const AnsiString& name);
    void SetAttrAsOCIDate(const AnsiString& name, const OCIDate& value);
    rtl::TDateTime GetAttrAsDateTime(const AnsiString& name);
    void SetAttrAsDateTime(const AnsiString& name, rtl::TDateTime value);
    OCIString* GetAttrAsOCIString(const AnsiString& name);
    AnsiString GetAttrAsString(const AnsiString& name);
    void SetAttrAsString(const AnsiString& name, const AnsiString& value);
    std::u16string GetAttrAsWideString(const AnsiString& name);
    void SetAttrAsWideString(const AnsiString& name, const std::u16string& value);
    TOraObject* GetAttrAsObject(const AnsiString& name);

    TOraObject* Owner = nullptr;
    bool AutoCreate = true;
    bool NativeInstance = false;
    bool Cached = false;
    bool Unicode = false;
    OCISvcCtx* SvcCtx = nullptr;
    OCIEnv* hEnv = nullptr;
    OCIError* hError = nullptr;

protected:
    void FreeObjects();
    // Slot i of the child values; grows the list.
    TSharedObject*& ObjectSlot(int index);
    TSharedObject* ObjectAt(int index) const;
    // Appends one null element of attribute's element type to collection.
    void AppendNullElement(TAttribute* element, OCIColl* collection);
    double NumberToFloat(TAttribute* attr, const void* at);
    int64_t NumberToLargeInt(TAttribute* attr, const void* at);
    void FloatToNumber(TAttribute* attr, void* at, double value);
    void LargeIntToNumber(TAttribute* attr, void* at, int64_t value);

    std::vector<TSharedObject*>* Objects = nullptr;

private:
    void* instance_ = nullptr;
    void* indicator_ = nullptr;
    // The attribute of the value's type by name; a value without a type is refused first.
    TAttribute* AttrByName(const AnsiString& name);
    void* ResolveForSet(const AnsiString& name, TAttribute*& attr);
    const void* NumberAttrForGet(const AnsiString& name, TAttribute*& attr);
    void* NumberAttrForSet(const AnsiString& name, TAttribute*& attr);
};

// An OCIDate as a date-time value and back, without fractions of a second.
rtl::TDateTime OCIDateToDateTime(const OCIDate& d);
OCIDate DateTimeToOCIDate(rtl::TDateTime value);

// ---------------------------------------------------------------------------------------------
// Collections

class TOraArray : public TOraObject {
public:
    explicit TOraArray(TOraType* objectType = nullptr) : TOraObject(objectType) {}

    void CheckType() override;
    void ChildAlloc(TOraObject* child) override;
    void Assign(TOraObject* source) override;
    virtual int32_t GetSize();

    OCIColl* Collection() { return static_cast<OCIColl*>(GetInstance()); }
    TDataType GetItemType();
    TDataType GetItemSubType();
    void SetSize(int32_t value);
    void CheckIndex(int32_t index);
    void AppendItems(int32_t index);
    int32_t AppendItem();

    bool GetItemIsNull(int32_t index);
    void SetItemIsNull(int32_t index, bool value);
    double GetItemAsFloat(int32_t index);
    void SetItemAsFloat(int32_t index, double value);
    int32_t GetItemAsInteger(int32_t index);
    void SetItemAsInteger(int32_t index, int32_t value);
    int64_t GetItemAsLargeInt(int32_t index);
    void SetItemAsLargeInt(int32_t index, int64_t value);
    rtl::TDateTime GetItemAsDateTime(int32_t index);
    void SetItemAsDateTime(int32_t index, rtl::TDateTime value);
    AnsiString GetItemAsString(int32_t index);
    void SetItemAsString(int32_t index, const AnsiString& value);
    std::u16string GetItemAsWideString(int32_t index);
    void SetItemAsWideString(int32_t index, const std::u16string& value);
    TOraObject* GetItemAsObject(int32_t index);
    TOraRef* GetItemAsRef(int32_t index);
    void SetItemAsObject(int32_t index, TOraObject* value);

protected:
    TAttribute* Element();
    // The element's value and indicator addresses; false when it does not exist.
    bool GetElem(int32_t index, void*& elem, void*& ind);
    void AssignNotNull(int32_t index, const void* value);
    const void* NumberItemForGet(int32_t index, bool integral, TAttribute*& e);
    void SetNumberItem(int32_t index, double f, int64_t i, bool integral);
    // The child value of an object or REF element, made on first use; the collection grows to
    // index when shorter. exists tells whether the element is there to be read (elem, ind).
    template <class Child>
    Child* ElementChild(int32_t index, TDataType type, const char* refusal, void*& elem, void*& ind,
                        bool& exists);
};

class TOraNestTable : public TOraArray {
public:
    explicit TOraNestTable(TOraType* objectType = nullptr) : TOraArray(objectType) {}

    void CheckType() override;
    void Assign(TOraObject* source) override;
    int32_t GetSize() override;
    void DeleteItem(int32_t index);
};

}  // namespace dac

#include "dataaccess/oracle/OraObjectsRef.h"  // IWYU pragma: export
