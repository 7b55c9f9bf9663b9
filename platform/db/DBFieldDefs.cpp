// Field definitions, the flat definition list, field lists, field-type names and the default
// field classes.
#include "platform/db/DB.h"
#include "platform/rtl/Strings.h"

namespace db {

using rtl::DatabaseError;
using rtl::DatabaseErrorFmt;

namespace {

const char* const kFieldTypeNames[FieldTypeCount] = {
    "Unknown",     "String",    "SmallInt",  "Integer",       "Word",     "Boolean",      "Float",
    "Currency",    "BCD",       "Date",      "Time",          "DateTime", "Bytes",        "VarBytes",
    "AutoInc",     "Blob",      "Memo",      "Graphic",       "FmtMemo",  "ParadoxOle",   "DBaseOle",
    "TypedBinary", "Cursor",    "FixedChar", "WideString",    "Largeint", "ADT",          "Array",
    "Reference",   "DataSet",   "OraBlob",   "OraClob",       "Variant",  "Interface",    "IDispatch",
    "Guid",        "TimeStamp", "FMTBcd",    "FixedWideChar", "WideMemo", "OraTimeStamp", "OraInterval"};

}  // namespace

std::string FieldTypeName(TFieldType type) {
    return type < FieldTypeCount ? kFieldTypeNames[type] : std::string();
}

TFieldClass DefaultFieldClass(TFieldType type) {
    switch (type) {
        case ftString:
        case ftFixedChar:
        case ftOraInterval:
            return TFieldClass::Of<TStringField>();
        case ftSmallint:
            return TFieldClass::Of<TSmallintField>();
        case ftInteger:
            return TFieldClass::Of<TIntegerField>();
        case ftWord:
            return TFieldClass::Of<TWordField>();
        case ftBoolean:
            return TFieldClass::Of<TBooleanField>();
        case ftFloat:
            return TFieldClass::Of<TFloatField>();
        case ftCurrency:
            return TFieldClass::Of<TCurrencyField>();
        case ftBCD:
            return TFieldClass::Of<TBCDField>();
        case ftDate:
            return TFieldClass::Of<TDateField>();
        case ftTime:
            return TFieldClass::Of<TTimeField>();
        case ftDateTime:
            return TFieldClass::Of<TDateTimeField>();
        case ftBytes:
            return TFieldClass::Of<TBytesField>();
        case ftVarBytes:
            return TFieldClass::Of<TVarBytesField>();
        case ftAutoInc:
            return TFieldClass::Of<TAutoIncField>();
        case ftBlob:
        case ftFmtMemo:
        case ftParadoxOle:
        case ftDBaseOle:
        case ftTypedBinary:
        case ftOraBlob:
            return TFieldClass::Of<TBlobField>();
        case ftMemo:
        case ftOraClob:
            return TFieldClass::Of<TMemoField>();
        case ftGraphic:
            return TFieldClass::Of<TGraphicField>();
        case ftWideString:
        case ftFixedWideChar:
            return TFieldClass::Of<TWideStringField>();
        case ftLargeint:
            return TFieldClass::Of<TLargeintField>();
        case ftADT:
            return TFieldClass::Of<TADTField>();
        case ftArray:
            return TFieldClass::Of<TArrayField>();
        case ftReference:
            return TFieldClass::Of<TReferenceField>();
        case ftDataSet:
            return TFieldClass::Of<TDataSetField>();
        case ftVariant:
            return TFieldClass::Of<TVariantField>();
        case ftGuid:
            return TFieldClass::Of<TGuidField>();
        case ftTimeStamp:
        case ftOraTimeStamp:
            return TFieldClass::Of<TSQLTimeStampField>();
        case ftFMTBcd:
            return TFieldClass::Of<TFMTBCDField>();
        case ftWideMemo:
            return TFieldClass::Of<TWideMemoField>();
        default:
            return nullptr;
    }
}

std::string ExtractFieldName(const std::string& fields, int& pos) {
    size_t start = pos < 1 ? 0 : static_cast<size_t>(pos - 1);
    if (start > fields.size()) start = fields.size();
    size_t end = fields.find(';', start);
    std::string name;
    if (end == std::string::npos) {
        name = fields.substr(start);
        pos = static_cast<int>(fields.size()) + 1;
    } else {
        name = fields.substr(start, end - start);
        pos = static_cast<int>(end) + 2;
    }
    return rtl::Trim(name);
}

// ---------------------------------------------------------------------------------------------
// TFieldDef

TFieldDef::TFieldDef(rtl::TCollection* owner) : TCollectionItem(owner) {}

TFieldDef::~TFieldDef() = default;

void TFieldDef::SetName(const std::string& value) {
    name_ = value;
    Changed(false);
}

std::string TFieldDef::FullName() const {
    TFieldDef* parent = ParentDef();
    return parent ? parent->FullName() + "." + name_ : name_;
}

void TFieldDef::SetRequired(bool value) {
    if (value)
        attributes_.Include(faRequired);
    else
        attributes_.Exclude(faRequired);
}

TFieldDefs& TFieldDef::ChildDefs() {
    if (!childDefs_) childDefs_ = std::make_unique<TFieldDefs>(this);
    return *childDefs_;
}

bool TFieldDef::HasChildDefs() const {
    return childDefs_ && childDefs_->Count() > 0;
}

TFieldDefs* TFieldDef::Owner() const {
    return dynamic_cast<TFieldDefs*>(Collection());
}

TFieldDef* TFieldDef::ParentDef() const {
    TFieldDefs* defs = Owner();
    return defs ? defs->ParentDef() : nullptr;
}

TDataSet* TFieldDef::DataSet() const {
    TFieldDefs* defs = Owner();
    return defs ? defs->DataSet() : nullptr;
}

TFieldClass TFieldDef::FieldClass() const {
    TDataSet* ds = DataSet();
    return ds ? ds->GetFieldClassFor(dataType_) : DefaultFieldClass(dataType_);
}

TField* TFieldDef::CreateField(TComponent* owner, TObjectField* parentField, const std::string& fieldName,
                               bool createChildren) {
    TFieldClass cls = FieldClass();
    if (!cls) DatabaseErrorFmt("Field '%s' is of an unknown type", {name_}, DataSet());
    TField* field = cls.Create(owner);
    try {
        field->size_ = 0;
        field->CheckSize(size_);
        field->size_ = size_;
        field->SetFieldName(fieldName.empty() ? name_ : fieldName);
        field->required_ = Required();
        field->readOnly_ = attributes_.Contains(faReadonly);
        field->fieldNo_ = fieldNo_;
        field->SetDataType(dataType_);
        if (auto* bcd = dynamic_cast<TBCDField*>(field)) bcd->SetPrecision(precision_);
        if (auto* fmt = dynamic_cast<TFMTBCDField*>(field)) fmt->SetPrecision(precision_);
        if (auto* flt = dynamic_cast<TFloatField*>(field); flt && precision_ > 0 && precision_ <= 15)
            flt->SetPrecision(precision_);
        if (auto* str = dynamic_cast<TStringField*>(field))
            str->SetFixedChar(attributes_.Contains(faFixed) || dataType_ == ftFixedChar ||
                              dataType_ == ftFixedWideChar);
        if (parentField)
            field->SetParentField(parentField);
        else
            field->SetDataSet(DataSet());
        TDataSet* ds = DataSet();
        if (createChildren && ds && ds->ObjectView() && HasChildDefs()) {
            if (auto* obj = dynamic_cast<TObjectField*>(field)) {
                for (int i = 0; i < childDefs_->Count(); ++i) childDefs_->Items(i)->CreateField(owner, obj);
            }
        }
    } catch (...) {
        delete field;
        throw;
    }
    return field;
}

void TFieldDef::Assign(rtl::TPersistent* source) {
    auto* src = dynamic_cast<TFieldDef*>(source);
    if (!src) {
        TCollectionItem::Assign(source);
        return;
    }
    name_ = src->name_;
    dataType_ = src->dataType_;
    size_ = src->size_;
    precision_ = src->precision_;
    fieldNo_ = src->fieldNo_;
    attributes_ = src->attributes_;
    if (src->HasChildDefs())
        ChildDefs().Assign(src->childDefs_.get());
    else if (childDefs_)
        childDefs_->Clear();
    Changed(false);
}

// ---------------------------------------------------------------------------------------------
// TFieldDefs

TFieldDefs::TFieldDefs(rtl::TPersistent* owner)
    : TOwnedCollection(owner, rtl::TCollectionItemClass::Of<TFieldDef>()),
      parentDef_(dynamic_cast<TFieldDef*>(owner)) {}

TDataSet* TFieldDefs::DataSet() const {
    if (parentDef_) return parentDef_->DataSet();
    return dynamic_cast<TDataSet*>(GetOwner());
}

TFieldDef* TFieldDefs::AddFieldDef() {
    return static_cast<TFieldDef*>(TCollection::Add());
}

TFieldDef* TFieldDefs::Add(const std::string& name, TFieldType type, int size, bool required) {
    if (name.empty()) DatabaseError("Field name missing", DataSet());
    if (IndexOf(name) >= 0) DatabaseErrorFmt("Duplicate field name '%s'", {name}, DataSet());
    TFieldDef* def = AddFieldDef();
    def->SetName(name);
    def->SetDataType(type);
    def->SetSize(size);
    def->SetRequired(required);
    def->SetFieldNo(Count());
    return def;
}

int TFieldDefs::IndexOf(const std::string& name) const {
    for (int i = 0; i < Count(); ++i)
        if (rtl::AnsiSameText(Items(i)->Name(), name)) return i;
    size_t dot = name.find('.');
    if (dot == std::string::npos) return -1;
    std::string head = name.substr(0, dot);
    for (int i = 0; i < Count(); ++i) {
        TFieldDef* def = Items(i);
        if (rtl::AnsiSameText(def->Name(), head) && def->HasChildDefs())
            return def->ChildDefs().IndexOf(name.substr(dot + 1));
    }
    return -1;
}

TFieldDef* TFieldDefs::FindDef(const std::string& name) const {
    for (int i = 0; i < Count(); ++i)
        if (rtl::AnsiSameText(Items(i)->Name(), name)) return Items(i);
    size_t dot = name.find('.');
    if (dot == std::string::npos) return nullptr;
    std::string head = name.substr(0, dot);
    for (int i = 0; i < Count(); ++i) {
        TFieldDef* def = Items(i);
        if (rtl::AnsiSameText(def->Name(), head) && def->HasChildDefs())
            return def->ChildDefs().FindDef(name.substr(dot + 1));
    }
    return nullptr;
}

TFieldDef* TFieldDefs::Find(const std::string& name) const {
    TFieldDef* def = FindDef(name);
    if (!def) DatabaseErrorFmt("Field '%s' not found", {name}, DataSet());
    return def;
}

void TFieldDefs::Update() {
    TDataSet* ds = DataSet();
    if (ds && !updated_) ds->InitFieldDefs();
}

void TFieldDefs::Update(rtl::TCollectionItem*) {
    if (TDataSet* ds = DataSet()) ds->fieldDefListDirty_ = true;
}

// ---------------------------------------------------------------------------------------------
// TFieldDefList

TFieldDef* TFieldDefList::FieldDefs(int index) const {
    if (index < 0 || index >= Count())
        throw rtl::EListError(rtl::Format("List index out of bounds (%d)", {index}));
    return defs_[static_cast<size_t>(index)];
}

int TFieldDefList::IndexOf(const std::string& fullName) const {
    for (size_t i = 0; i < names_.size(); ++i)
        if (rtl::AnsiSameText(names_[i], fullName)) return static_cast<int>(i);
    return -1;
}

TFieldDef* TFieldDefList::Find(const std::string& fullName) const {
    int i = IndexOf(fullName);
    return i < 0 ? nullptr : defs_[static_cast<size_t>(i)];
}

void TFieldDefList::Rebuild(const TFieldDefs& defs) {
    defs_.clear();
    names_.clear();
    AddDefs(defs, std::string());
}

void TFieldDefList::AddDefs(const TFieldDefs& defs, const std::string& prefix) {
    for (int i = 0; i < defs.Count(); ++i) {
        TFieldDef* def = defs.Items(i);
        std::string name = prefix.empty() ? def->Name() : prefix + "." + def->Name();
        defs_.push_back(def);
        names_.push_back(name);
        if (def->HasChildDefs()) AddDefs(def->ChildDefs(), name);
    }
}

// ---------------------------------------------------------------------------------------------
// TFields

TField* TFields::Fields(int index) const {
    if (index < 0 || index >= Count())
        throw rtl::EListError(rtl::Format("List index out of bounds (%d)", {index}));
    return list_[static_cast<size_t>(index)];
}

void TFields::Add(TField* field) {
    if (FindField(field->FieldName()))
        DatabaseErrorFmt("Duplicate field name '%s'", {field->FieldName()}, dataSet_);
    list_.push_back(field);
}

void TFields::Remove(TField* field) {
    for (auto it = list_.begin(); it != list_.end(); ++it)
        if (*it == field) {
            list_.erase(it);
            return;
        }
}

void TFields::Clear() {
    while (!list_.empty()) {
        TField* field = list_.back();
        list_.pop_back();
        field->dataSet_ = nullptr;
        field->parentField_ = nullptr;
        rtl::Free(field);
    }
}

int TFields::IndexOf(const TField* field) const {
    for (size_t i = 0; i < list_.size(); ++i)
        if (list_[i] == field) return static_cast<int>(i);
    return -1;
}

TField* TFields::FindField(const std::string& name) const {
    for (TField* f : list_)
        if (rtl::AnsiSameText(f->FieldName(), name)) return f;
    for (TField* f : list_)
        if (f->ParentField() && rtl::AnsiSameText(f->FullName(), name)) return f;
    return nullptr;
}

TField* TFields::FieldByName(const std::string& name) const {
    TField* f = FindField(name);
    if (!f) DatabaseErrorFmt("Field '%s' not found", {name}, dataSet_);
    return f;
}

TField* TFields::FieldByNumber(int fieldNo) const {
    for (TField* f : list_)
        if (f->FieldNo() == fieldNo) return f;
    return nullptr;
}

void TFields::SetIndex(TField* field, int index) {
    int cur = IndexOf(field);
    if (cur < 0) return;
    if (index < 0) index = 0;
    if (index >= Count()) index = Count() - 1;
    list_.erase(list_.begin() + cur);
    list_.insert(list_.begin() + index, field);
}

}  // namespace db
