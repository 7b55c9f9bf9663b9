// Record storage: child descriptors of object columns and unique column names.
#include <algorithm>

#include "dataaccess/core/MemData.h"
#include "dataaccess/core/MemUtils.h"
#include "platform/rtl/Numbers.h"

namespace dac {

// ---------------------------------------------------------------------------------------------
// Child descriptors and names of the record storage

AnsiString TData::GetChildFieldName(TObjectType*, int index) {
    return "[" + rtl::IntToStr(index) + "]";
}

TFieldDescClass TData::GetFieldDescType() {
    return TFieldDescClass::Of<TFieldDesc>();
}

void TData::InitObjectFields(TObjectType* objType, TFieldDesc* parent) {
    const bool byName = objType->DataType == dtObject || objType->DataType == dtTable;
    const int count = byName || SparseArrays ? 1 : std::min<int>(objType->Size, 100);
    for (int i = 0; i < objType->GetAttributeCount(); ++i) {
        TAttribute* attr = objType->GetAttribute(i);
        for (int j = 0; j < count; ++j) {
            TFieldDesc* desc = GetFieldDescType().Create();
            desc->ParentField = parent;
            desc->Name = byName ? attr->Name : GetChildFieldName(objType, j);
            if (!parent)
                desc->ActualName = desc->Name;
            else if (byName)
                desc->ActualName = parent->ActualName + "." + desc->Name;
            else
                desc->ActualName = parent->ActualName + desc->Name;
            desc->DataType = attr->DataType;
            desc->Size = attr->Size;
            desc->Fixed = attr->Fixed;
            desc->Length = attr->Length;
            desc->SetObjectType(attr->ObjectType());
            desc->FieldNo = static_cast<uint16_t>(fields_.Count() + 1);
            if (parent) desc->ReadOnly = parent->ReadOnly;
            fields_.Add(desc);
            if ((desc->DataType == dtObject || desc->DataType == dtArray) && desc->ObjectType())
                InitObjectFields(desc->ObjectType(), desc);
        }
    }
}

AnsiString TData::GetChildFieldPath(TFieldDesc* field, TFieldDesc*& top) {
    AnsiString path = field->Name;
    top = field;
    TFieldDesc* ancestor = field->ParentField;
    while (ancestor && ancestor->HasParent()) {
        if (ancestor->DataType == dtArray)
            path = ancestor->Name + path;
        else
            path = ancestor->Name + "." + path;
        ancestor = ancestor->ParentField;
    }
    if (ancestor) top = ancestor;
    return path;
}

namespace {

// Gives the entries from index on that carry name a suffix "_1", "_2"... until the names sort
// after it; every renamed entry is checked the same way.
void ResolveCollisions(std::vector<TFieldDesc*>& list, std::size_t from, const AnsiString& name) {
    int m = 1;
    for (std::size_t k = from; k < list.size(); ++k) {
        TFieldDesc* d = list[k];
        const int c = LocaleCompareText(d->Name, name);
        if (c > 0) break;
        if (c == 0 && LocaleUpperCase(d->Name) == LocaleUpperCase(name)) {
            d->Name = d->Name + "_" + rtl::IntToStr(m++);
            ResolveCollisions(list, k + 1, d->Name);
        }
    }
}

}  // namespace

void TData::MakeFieldNamesUnique() {
    std::vector<TFieldDesc*> list;
    for (int i = 0; i < fields_.Count(); ++i)
        if (!fields_[i]->HasParent()) list.push_back(fields_[i]);
    std::stable_sort(list.begin(), list.end(), [](const TFieldDesc* a, const TFieldDesc* b) {
        const int c = LocaleCompareText(a->Name, b->Name);
        if (c != 0) return c < 0;
        return a->FieldNo < b->FieldNo;
    });
    for (std::size_t i = 1; i < list.size(); ++i)
        if (LocaleSameText(list[i - 1]->Name, list[i]->Name)) {
            list[i - 1]->DuplicateName = true;
            list[i]->DuplicateName = true;
        }

    // The counter numbers the members of one group of equal (or empty) names; a group starts
    // whenever the name differs from the previous entry's original name.
    int n = 0;
    AnsiString groupName;
    for (std::size_t i = 0; i < list.size(); ++i) {
        TFieldDesc* d = list[i];
        if (!d->DuplicateName && !d->Name.empty()) {
            n = 0;
            continue;
        }
        if (n > 0 && !LocaleSameText(groupName, d->Name)) n = 0;
        groupName = d->Name;
        if (n != 0 || d->Name.empty()) {
            d->Name = d->Name + "_" + rtl::IntToStr(n);
            ResolveCollisions(list, i + 1, d->Name);
        }
        ++n;
    }
}

}  // namespace dac
