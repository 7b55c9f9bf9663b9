// The object model of the runtime: TObject with class names and class references, TPersistent
// (Assign), TComponent (ownership, names, notifications, state) and TCollection.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"

namespace rtl {

RTL_EXCEPTION_CLASS(EClassNotFound, EFilerError);

// ---------------------------------------------------------------------------------------------
// A small set of enumeration values (the platform's "set of" types); values must be below 64.

template <class E>
class TSet {
public:
    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<E> values) {
        for (E v : values) Include(v);
    }
    constexpr bool Contains(E v) const { return (bits_ & Bit(v)) != 0; }
    constexpr void Include(E v) { bits_ |= Bit(v); }
    constexpr void Exclude(E v) { bits_ &= ~Bit(v); }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr uint64_t Bits() const { return bits_; }
    constexpr TSet operator+(TSet o) const { return FromBits(bits_ | o.bits_); }
    constexpr TSet operator-(TSet o) const { return FromBits(bits_ & ~o.bits_); }
    constexpr TSet operator*(TSet o) const { return FromBits(bits_ & o.bits_); }
    constexpr bool operator==(const TSet&) const = default;

private:
    static constexpr uint64_t Bit(E v) { return uint64_t{1} << static_cast<unsigned>(v); }
    static constexpr TSet FromBits(uint64_t bits) {
        TSet s;
        s.bits_ = bits;
        return s;
    }
    uint64_t bits_ = 0;
};

// ---------------------------------------------------------------------------------------------
// TObject

class TObject;
using TNotifyEvent = std::function<void(TObject* sender)>;

// Unqualified class name of a C++ type ("rtl::TComponent" -> "TComponent").
std::string ClassNameOf(const std::type_info& type);
template <class T>
std::string ClassNameOf() {
    return ClassNameOf(typeid(T));
}

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;

    // The name of the object's class (its C++ type without namespaces unless overridden).
    virtual std::string ClassName() const { return ClassNameOf(typeid(*this)); }
    const std::type_info& ClassType() const { return typeid(*this); }
    template <class T>
    bool InheritsFrom() const {
        return dynamic_cast<const T*>(this) != nullptr;
    }

    // Runs before the destructors (see Free): components mark themselves as being destroyed here,
    // while every destructor of the object can still see it.
    virtual void BeforeDestruction() {}
};

// Destroys obj (null is allowed) after BeforeDestruction.
void Free(TObject* obj);
template <class T>
void FreeAndNil(T*& obj) {
    T* p = obj;
    obj = nullptr;
    Free(p);
}

// unique_ptr deleter that goes through Free.
struct TObjectDeleter {
    void operator()(TObject* obj) const { Free(obj); }
};
template <class T>
using TOwned = std::unique_ptr<T, TObjectDeleter>;

// "is" and "as": As raises EInvalidCast "Invalid class typecast" for an object of another class
// (null passes through).
template <class T>
bool Is(const TObject* obj) {
    return dynamic_cast<const T*>(obj) != nullptr;
}
[[noreturn]] void InvalidCast();
template <class T>
T* As(TObject* obj) {
    if (!obj) return nullptr;
    T* r = dynamic_cast<T*>(obj);
    if (!r) InvalidCast();
    return r;
}
template <class T>
const T* As(const TObject* obj) {
    if (!obj) return nullptr;
    const T* r = dynamic_cast<const T*>(obj);
    if (!r) InvalidCast();
    return r;
}

// ---------------------------------------------------------------------------------------------
// Class references: a value naming a class derived from Base that creates instances of it from
// Args (the platform's virtual constructors). A default-constructed reference is nil.

template <class Base, class... Args>
class TClassOf {
public:
    constexpr TClassOf() = default;
    constexpr TClassOf(std::nullptr_t) {}

    template <class T>
    requires std::is_base_of_v<Base, T>
    static TClassOf Of() {
        static const Info info{&typeid(T), &CreateOf<T>, &IsInstanceOf<T>};
        return TClassOf(&info);
    }

    // A new instance; raises EAbstractError for an abstract class and EInvalidPointer for nil.
    Base* Create(Args... args) const {
        if (!info_) throw EInvalidPointer("Invalid pointer operation");
        return info_->create(std::forward<Args>(args)...);
    }
    std::string ClassName() const { return info_ ? ClassNameOf(*info_->type) : std::string(); }
    const std::type_info* Type() const { return info_ ? info_->type : nullptr; }
    // True when obj is of this class or a descendant.
    bool IsInstance(const Base* obj) const { return info_ && obj && info_->isInstance(obj); }
    // True when obj's class is exactly this one.
    bool IsClassOf(const Base* obj) const { return info_ && obj && typeid(*obj) == *info_->type; }
    explicit operator bool() const { return info_ != nullptr; }
    bool operator==(const TClassOf& o) const {
        return info_ == o.info_ || (info_ && o.info_ && *info_->type == *o.info_->type);
    }

private:
    struct Info {
        const std::type_info* type;
        Base* (*create)(Args...);
        bool (*isInstance)(const Base*);
    };
    template <class T>
    static Base* CreateOf(Args... args) {
        if constexpr (std::is_abstract_v<T> || !std::is_constructible_v<T, Args...>) {
            AbstractError();
        } else {
            return new T(std::forward<Args>(args)...);
        }
    }
    template <class T>
    static bool IsInstanceOf(const Base* obj) {
        return dynamic_cast<const T*>(obj) != nullptr;
    }
    explicit TClassOf(const Info* info) : info_(info) {}
    const Info* info_ = nullptr;
};

// Class registry by name (case-insensitive): creates objects of classes known only by name.
using TObjectFactory = std::function<TObject*()>;
void RegisterClassFactory(const std::string& name, TObjectFactory factory);
template <class T>
void RegisterClass() {
    RegisterClassFactory(ClassNameOf<T>(), [] { return static_cast<TObject*>(new T()); });
}
void UnRegisterClass(const std::string& name);
// The factory, or an empty one when the name is not registered.
TObjectFactory GetClass(const std::string& name);
// The factory; raises EClassNotFound "Class <name> not found" when the name is not registered.
TObjectFactory FindClass(const std::string& name);

// ---------------------------------------------------------------------------------------------
// TPersistent

class TPersistent : public TObject {
public:
    // Copies source into this object. The default asks the source (AssignTo), which by default
    // raises EConvertError "Cannot assign a <source class> to a <this class>" ("nil" for null).
    virtual void Assign(TPersistent* source);
    virtual void AssignTo(TPersistent* dest);
    virtual TPersistent* GetOwner() const { return nullptr; }
    // Dotted path of names used in messages: owner path + "." + own name.
    virtual std::string GetNamePath() const;

protected:
    [[noreturn]] void AssignError(const TPersistent* source) const;
};

// ---------------------------------------------------------------------------------------------
// TComponent

enum TOperation { opInsert, opRemove };

enum TComponentStateItem {
    csLoading,
    csReading,
    csWriting,
    csDestroying,
    csDesigning,
    csAncestor,
    csUpdating,
    csFixups,
    csFreeNotification,
    csInline,
    csDesignInstance
};
using TComponentState = TSet<TComponentStateItem>;

enum TComponentStyleItem { csInheritable, csCheckPropAvail, csSubComponent, csTransient };
using TComponentStyle = TSet<TComponentStyleItem>;

// A component owns the components created with it as owner and frees them when it is freed.
// Components that refer to each other across owners ask for FreeNotification, then hear
// Notification(other, opRemove) before the other one goes.
//
// A component is destroyed through Free (or delete); its owner, if any, frees it otherwise.
// csDestroying is set by BeforeDestruction (Free does it); destructors that test it call
// Destroying() first so that plain delete behaves the same.
class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* owner = nullptr);
    ~TComponent() override;

    TComponent* Owner() const { return owner_; }
    TPersistent* GetOwner() const override { return owner_; }
    std::string GetNamePath() const override { return name_; }

    const std::string& Name() const { return name_; }
    // Raises EComponentError for a name that is not an identifier or is taken in the owner.
    virtual void SetName(const std::string& newName);
    intptr_t Tag() const { return tag_; }
    void SetTag(intptr_t value) { tag_ = value; }

    int ComponentCount() const { return static_cast<int>(components_.size()); }
    // Raises EListError "List index out of bounds (i)" for a bad index.
    TComponent* Components(int index) const;
    int ComponentIndex() const;
    // The owned component of that name (case-insensitive), or null.
    TComponent* FindComponent(const std::string& name) const;
    void InsertComponent(TComponent* component);
    void RemoveComponent(TComponent* component);
    // Frees every owned component, last first.
    void DestroyComponents();

    TComponentState ComponentState() const { return state_; }
    TComponentStyle ComponentStyle() const { return style_; }
    void SetSubComponent(bool value);

    // Asks to be told (Notification opRemove) when component is freed; the request is mutual.
    void FreeNotification(TComponent* component);
    void RemoveFreeNotification(TComponent* component);

    // Marks the component as being loaded (csLoading) until Loaded.
    virtual void Loading();
    // Called when the component's properties are all set; clears csLoading.
    virtual void Loaded();
    void SetDesigning(bool value, bool setChildren = true);
    void Destroying();
    void BeforeDestruction() override { Destroying(); }

    // Told of components inserted into or removed from this one (opInsert/opRemove) and of freed
    // components it asked to hear about. The default passes the news to the owned components.
    virtual void Notification(TComponent* component, TOperation operation);

protected:
    virtual void ValidateRename(TComponent* component, const std::string& curName,
                                const std::string& newName);

private:
    void Insert(TComponent* component);
    void Remove(TComponent* component);
    void DropFreeNotify(TComponent* component);

    TComponent* owner_ = nullptr;
    std::string name_;
    intptr_t tag_ = 0;
    std::vector<TComponent*> components_;
    std::vector<TComponent*> freeNotifies_;
    TComponentState state_;
    TComponentStyle style_ = {csInheritable};
};

using TComponentClass = TClassOf<TComponent, TComponent*>;

// Raises EDatabaseError; with a component whose Name is not empty the message reads "Name: msg".
[[noreturn]] void DatabaseError(const std::string& message, TComponent* component = nullptr);
// DatabaseError with Format(fmt, args).
[[noreturn]] void DatabaseErrorFmt(const std::string& fmt, std::initializer_list<TVarRec> args,
                                   TComponent* component = nullptr);

// ---------------------------------------------------------------------------------------------
// TCollection / TCollectionItem

class TCollection;
enum TCollectionNotification { cnAdded, cnExtracting, cnDeleting };

class TCollectionItem : public TPersistent {
public:
    explicit TCollectionItem(TCollection* collection = nullptr);
    ~TCollectionItem() override;

    TCollection* Collection() const { return collection_; }
    // Moves the item into another collection (or out of any with null).
    void SetCollection(TCollection* value);
    int ID() const { return id_; }
    int Index() const;
    void SetIndex(int value);
    std::string DisplayName() const { return GetDisplayName(); }
    virtual void SetDisplayName(const std::string& value);
    TPersistent* GetOwner() const override;
    std::string GetNamePath() const override;

protected:
    // The collection's Update(this) (or Update(null) when allItems), unless it is being updated.
    void Changed(bool allItems);
    // Defaults to the class name.
    virtual std::string GetDisplayName() const { return ClassName(); }

private:
    friend class TCollection;
    TCollection* collection_ = nullptr;
    int id_ = 0;
};

using TCollectionItemClass = TClassOf<TCollectionItem, TCollection*>;

// Owns its items; an item removes itself from the collection when freed.
class TCollection : public TPersistent {
public:
    explicit TCollection(TCollectionItemClass itemClass);
    ~TCollection() override;

    TCollectionItem* Add();
    TCollectionItem* Insert(int index);
    void Delete(int index);
    void Clear();
    int Count() const { return static_cast<int>(items_.size()); }
    // Raises EListError "List index out of bounds (i)" for a bad index.
    TCollectionItem* Items(int index) const;
    template <class T>
    T* ItemAs(int index) const {
        return static_cast<T*>(Items(index));
    }
    TCollectionItem* FindItemID(int id) const;
    TCollectionItemClass ItemClass() const { return itemClass_; }

    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const { return updateCount_; }

    // Copies the items of another collection (each through the items' Assign).
    void Assign(TPersistent* source) override;
    std::string GetNamePath() const override;

    // Hook for changes: item is the changed item, or null when the whole collection changed.
    virtual void Update(TCollectionItem* item);

protected:
    virtual void Notify(TCollectionItem* item, TCollectionNotification action);
    void Changed();

private:
    friend class TCollectionItem;
    void InsertItem(TCollectionItem* item);
    void RemoveItem(TCollectionItem* item);
    void MoveItem(int curIndex, int newIndex);

    TCollectionItemClass itemClass_;
    std::vector<TCollectionItem*> items_;
    int updateCount_ = 0;
    int nextId_ = 0;
};

// A collection with an owner (the owner shows in GetOwner and name paths).
class TOwnedCollection : public TCollection {
public:
    TOwnedCollection(TPersistent* owner, TCollectionItemClass itemClass)
        : TCollection(itemClass), owner_(owner) {}
    TPersistent* GetOwner() const override { return owner_; }

private:
    TPersistent* owner_;
};

}  // namespace rtl
