// Object model: class names, class registry, TPersistent, TComponent and collections.
#include "platform/rtl/Objects.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <typeindex>
#include <unordered_map>

#include "platform/rtl/Strings.h"

namespace rtl {
namespace {

std::string Demangle(const std::type_info& type) {
    int status = 0;
    char* raw = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    std::string full = (status == 0 && raw) ? raw : type.name();
    std::free(raw);
    // Drop the namespaces (and enclosing classes), not what is inside template arguments.
    const std::size_t angle = full.find('<');
    const std::size_t scope = full.rfind("::", angle == std::string::npos ? std::string::npos : angle);
    return scope == std::string::npos ? full : full.substr(scope + 2);
}

[[noreturn]] void IndexError(int index) {
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

struct ClassRegistry {
    std::mutex lock;
    std::map<std::string, TObjectFactory> factories;  // by upper-case name
};

ClassRegistry& Registry() {
    static ClassRegistry registry;
    return registry;
}

}  // namespace

std::string ClassNameOf(const std::type_info& type) {
    static std::mutex lock;
    static std::unordered_map<std::type_index, std::string> names;
    std::lock_guard guard(lock);
    auto it = names.find(type);
    if (it == names.end()) it = names.emplace(type, Demangle(type)).first;
    return it->second;
}

void Free(TObject* obj) {
    if (!obj) return;
    obj->BeforeDestruction();
    delete obj;
}

void InvalidCast() {
    throw EInvalidCast("Invalid class typecast");
}

void RegisterClassFactory(const std::string& name, TObjectFactory factory) {
    auto& r = Registry();
    std::lock_guard guard(r.lock);
    r.factories[UpperCase(name)] = std::move(factory);
}

void UnRegisterClass(const std::string& name) {
    auto& r = Registry();
    std::lock_guard guard(r.lock);
    r.factories.erase(UpperCase(name));
}

TObjectFactory GetClass(const std::string& name) {
    auto& r = Registry();
    std::lock_guard guard(r.lock);
    auto it = r.factories.find(UpperCase(name));
    return it == r.factories.end() ? TObjectFactory() : it->second;
}

TObjectFactory FindClass(const std::string& name) {
    TObjectFactory f = GetClass(name);
    if (!f) throw EClassNotFound("Class " + name + " not found");
    return f;
}

// ---------------------------------------------------------------------------------------------
// TPersistent

void TPersistent::Assign(TPersistent* source) {
    if (source) {
        source->AssignTo(this);
    } else {
        AssignError(nullptr);
    }
}

void TPersistent::AssignTo(TPersistent* dest) {
    dest->AssignError(this);
}

std::string TPersistent::GetNamePath() const {
    return ClassName();
}

void TPersistent::AssignError(const TPersistent* source) const {
    const std::string sourceName = source ? source->ClassName() : std::string("nil");
    throw EConvertError("Cannot assign a " + sourceName + " to a " + ClassName());
}

// ---------------------------------------------------------------------------------------------
// TComponent

TComponent::TComponent(TComponent* owner) {
    if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
    Destroying();
    // Everyone who asked hears about the end before the owned components go.
    while (!freeNotifies_.empty()) {
        TComponent* other = freeNotifies_.back();
        freeNotifies_.pop_back();
        other->DropFreeNotify(this);
        other->Notification(this, opRemove);
    }
    DestroyComponents();
    if (owner_) owner_->RemoveComponent(this);
}

void TComponent::SetName(const std::string& newName) {
    if (newName == name_) return;
    if (!newName.empty() && !IsValidIdent(newName))
        throw EComponentError("'" + newName + "' is not a valid component name");
    if (owner_) {
        owner_->ValidateRename(this, name_, newName);
    } else {
        ValidateRename(nullptr, name_, newName);
    }
    name_ = newName;
}

void TComponent::ValidateRename(TComponent* component, const std::string& curName,
                                const std::string& newName) {
    if (!component || newName.empty() || SameText(curName, newName)) return;
    TComponent* existing = FindComponent(newName);
    if (existing && existing != component)
        throw EComponentError("A component named " + newName + " already exists");
}

TComponent* TComponent::Components(int index) const {
    if (index < 0 || index >= ComponentCount()) IndexError(index);
    return components_[static_cast<std::size_t>(index)];
}

int TComponent::ComponentIndex() const {
    if (!owner_) return -1;
    const auto& list = owner_->components_;
    auto it = std::find(list.begin(), list.end(), this);
    return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

TComponent* TComponent::FindComponent(const std::string& name) const {
    if (name.empty()) return nullptr;
    for (TComponent* c : components_)
        if (SameText(c->name_, name)) return c;
    return nullptr;
}

void TComponent::InsertComponent(TComponent* component) {
    if (!component || component->owner_ == this) return;
    ValidateRename(component, std::string(), component->name_);
    if (component->owner_) component->owner_->RemoveComponent(component);
    Insert(component);
    if (state_.Contains(csDesigning)) component->SetDesigning(true);
    Notification(component, opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
    if (!component || component->owner_ != this) return;
    Notification(component, opRemove);
    Remove(component);
}

void TComponent::DestroyComponents() {
    while (!components_.empty()) {
        TComponent* c = components_.back();
        Remove(c);
        Free(c);
    }
}

void TComponent::Insert(TComponent* component) {
    components_.push_back(component);
    component->owner_ = this;
}

void TComponent::Remove(TComponent* component) {
    auto it = std::find(components_.begin(), components_.end(), component);
    if (it != components_.end()) components_.erase(it);
    component->owner_ = nullptr;
}

void TComponent::SetSubComponent(bool value) {
    if (value) {
        style_.Include(csSubComponent);
    } else {
        style_.Exclude(csSubComponent);
    }
}

void TComponent::FreeNotification(TComponent* component) {
    if (!component || component == this) return;
    if (std::find(freeNotifies_.begin(), freeNotifies_.end(), component) == freeNotifies_.end())
        freeNotifies_.push_back(component);
    auto& theirs = component->freeNotifies_;
    if (std::find(theirs.begin(), theirs.end(), this) == theirs.end()) theirs.push_back(this);
    state_.Include(csFreeNotification);
    component->state_.Include(csFreeNotification);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
    if (!component) return;
    DropFreeNotify(component);
    component->DropFreeNotify(this);
}

void TComponent::DropFreeNotify(TComponent* component) {
    auto it = std::find(freeNotifies_.begin(), freeNotifies_.end(), component);
    if (it != freeNotifies_.end()) freeNotifies_.erase(it);
    if (freeNotifies_.empty()) state_.Exclude(csFreeNotification);
}

void TComponent::Loading() {
    state_.Include(csLoading);
}

void TComponent::Loaded() {
    state_.Exclude(csLoading);
}

void TComponent::SetDesigning(bool value, bool setChildren) {
    if (value) {
        state_.Include(csDesigning);
    } else {
        state_.Exclude(csDesigning);
    }
    if (setChildren)
        for (TComponent* c : components_) c->SetDesigning(value, true);
}

void TComponent::Destroying() {
    if (state_.Contains(csDestroying)) return;
    state_.Include(csDestroying);
    for (TComponent* c : components_) c->Destroying();
}

void TComponent::Notification(TComponent* component, TOperation operation) {
    if (operation == opRemove && component) RemoveFreeNotification(component);
    // The list may shrink while the owned components react.
    for (std::size_t i = components_.size(); i > 0; --i) {
        if (i > components_.size()) continue;
        components_[i - 1]->Notification(component, operation);
    }
}

void DatabaseError(const std::string& message, TComponent* component) {
    if (component && !component->Name().empty()) throw EDatabaseError(component->Name() + ": " + message);
    throw EDatabaseError(message);
}

void DatabaseErrorFmt(const std::string& fmt, std::initializer_list<TVarRec> args, TComponent* component) {
    DatabaseError(Format(fmt, args), component);
}

// ---------------------------------------------------------------------------------------------
// TCollectionItem

TCollectionItem::TCollectionItem(TCollection* collection) {
    SetCollection(collection);
}

TCollectionItem::~TCollectionItem() {
    SetCollection(nullptr);
}

void TCollectionItem::SetCollection(TCollection* value) {
    if (collection_ == value) return;
    if (collection_) collection_->RemoveItem(this);
    if (value) value->InsertItem(this);
}

int TCollectionItem::Index() const {
    if (!collection_) return -1;
    const auto& items = collection_->items_;
    auto it = std::find(items.begin(), items.end(), this);
    return it == items.end() ? -1 : static_cast<int>(it - items.begin());
}

void TCollectionItem::SetIndex(int value) {
    const int cur = Index();
    if (cur >= 0 && cur != value) {
        collection_->MoveItem(cur, value);
        Changed(true);
    }
}

void TCollectionItem::SetDisplayName(const std::string&) {
    Changed(false);
}

TPersistent* TCollectionItem::GetOwner() const {
    return collection_;
}

std::string TCollectionItem::GetNamePath() const {
    if (!collection_) return ClassName();
    return collection_->GetNamePath() + "[" + std::to_string(Index()) + "]";
}

void TCollectionItem::Changed(bool allItems) {
    if (collection_ && collection_->updateCount_ == 0) collection_->Update(allItems ? nullptr : this);
}

// ---------------------------------------------------------------------------------------------
// TCollection

TCollection::TCollection(TCollectionItemClass itemClass) : itemClass_(itemClass) {}

TCollection::~TCollection() {
    // No Update calls from a collection on its way out.
    updateCount_ = 1;
    while (!items_.empty()) Free(items_.back());
}

TCollectionItem* TCollection::Add() {
    return itemClass_.Create(this);
}

TCollectionItem* TCollection::Insert(int index) {
    if (index < 0 || index > Count()) IndexError(index);
    TCollectionItem* item = Add();
    item->SetIndex(index);
    return item;
}

void TCollection::Delete(int index) {
    TCollectionItem* item = Items(index);
    Notify(item, cnDeleting);
    Free(item);
}

void TCollection::Clear() {
    if (items_.empty()) return;
    BeginUpdate();
    try {
        while (!items_.empty()) Free(items_.back());
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

TCollectionItem* TCollection::Items(int index) const {
    if (index < 0 || index >= Count()) IndexError(index);
    return items_[static_cast<std::size_t>(index)];
}

TCollectionItem* TCollection::FindItemID(int id) const {
    for (TCollectionItem* item : items_)
        if (item->id_ == id) return item;
    return nullptr;
}

void TCollection::BeginUpdate() {
    ++updateCount_;
}

void TCollection::EndUpdate() {
    if (updateCount_ > 0 && --updateCount_ == 0) Changed();
}

void TCollection::Assign(TPersistent* source) {
    auto* other = dynamic_cast<TCollection*>(source);
    if (!other) {
        TPersistent::Assign(source);
        return;
    }
    if (other == this) return;
    BeginUpdate();
    try {
        Clear();
        for (TCollectionItem* item : other->items_) Add()->Assign(item);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

std::string TCollection::GetNamePath() const {
    TPersistent* owner = GetOwner();
    return owner ? owner->GetNamePath() : ClassName();
}

void TCollection::Update(TCollectionItem*) {}

void TCollection::Notify(TCollectionItem*, TCollectionNotification) {}

void TCollection::Changed() {
    if (updateCount_ == 0) Update(nullptr);
}

void TCollection::InsertItem(TCollectionItem* item) {
    items_.push_back(item);
    item->collection_ = this;
    item->id_ = nextId_++;
    Notify(item, cnAdded);
    Changed();
}

void TCollection::RemoveItem(TCollectionItem* item) {
    Notify(item, cnExtracting);
    auto it = std::find(items_.begin(), items_.end(), item);
    if (it != items_.end()) items_.erase(it);
    item->collection_ = nullptr;
    Changed();
}

void TCollection::MoveItem(int curIndex, int newIndex) {
    if (newIndex < 0 || newIndex >= Count()) IndexError(newIndex);
    TCollectionItem* item = items_[static_cast<std::size_t>(curIndex)];
    items_.erase(items_.begin() + curIndex);
    items_.insert(items_.begin() + newIndex, item);
}

}  // namespace rtl
