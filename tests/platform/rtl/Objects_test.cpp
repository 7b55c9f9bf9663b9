#include "platform/rtl/Objects.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace rtl;

namespace {

// Components that write what happens to them into a shared log.
std::vector<std::string> gLog;

class TLogComp : public TComponent {
public:
    explicit TLogComp(TComponent* owner = nullptr, std::string name = "") : TComponent(owner) {
        if (!name.empty()) SetName(name);
    }
    ~TLogComp() override {
        gLog.push_back("destroy " + Name() +
                       (ComponentState().Contains(csDestroying) ? " (destroying)" : ""));
    }
    void Notification(TComponent* component, TOperation operation) override {
        gLog.push_back(Name() + (operation == opInsert ? " +" : " -") + component->Name());
        if (operation == opRemove && component == link) link = nullptr;
        TComponent::Notification(component, operation);
    }
    void Loaded() override {
        gLog.push_back(Name() + " loaded, loading=" + (ComponentState().Contains(csLoading) ? "yes" : "no"));
        TComponent::Loaded();
    }
    TComponent* link = nullptr;
};

class TAbstractThing : public TComponent {
public:
    using TComponent::TComponent;
    virtual int Kind() const = 0;
};

class TThingA : public TAbstractThing {
public:
    using TAbstractThing::TAbstractThing;
    int Kind() const override { return 1; }
};

class TThingB : public TThingA {
public:
    using TThingA::TThingA;
    int Kind() const override { return 2; }
};

// Two persistent classes that know how to copy into each other in one direction only.
class TPoint2 : public TPersistent {
public:
    int x = 0, y = 0;
    void Assign(TPersistent* source) override {
        if (auto* p = dynamic_cast<TPoint2*>(source)) {
            x = p->x;
            y = p->y;
            return;
        }
        TPersistent::Assign(source);
    }
};

class TPolar : public TPersistent {
public:
    int r = 0;
    // Polar knows how to become a point; the point does not know polar.
    void AssignTo(TPersistent* dest) override {
        if (auto* p = dynamic_cast<TPoint2*>(dest)) {
            p->x = r;
            p->y = 0;
            return;
        }
        TPersistent::AssignTo(dest);
    }
};

}  // namespace

TEST(Objects, ClassNamesCastsAndClassReferences) {
    TThingB b;
    EXPECT_EQ(b.ClassName(), "TThingB");
    EXPECT_EQ(ClassNameOf<TComponent>(), "TComponent");
    EXPECT_TRUE(b.InheritsFrom<TThingA>());
    EXPECT_FALSE(b.InheritsFrom<TPoint2>());
    EXPECT_TRUE(Is<TAbstractThing>(&b));
    EXPECT_EQ(As<TThingA>(static_cast<TObject*>(&b)), &b);
    EXPECT_EQ(As<TThingA>(static_cast<TObject*>(nullptr)), nullptr);
    TPoint2 p;
    try {
        As<TComponent>(static_cast<TObject*>(&p));
        FAIL() << "As did not raise";
    } catch (const EInvalidCast& e) {
        EXPECT_EQ(e.Message(), "Invalid class typecast");
    }

    using TThingClass = TClassOf<TAbstractThing, TComponent*>;
    TLogComp owner(nullptr, "Owner");
    const TThingClass refs[] = {TThingClass::Of<TThingA>(), TThingClass::Of<TThingB>()};
    for (int i = 0; i < 2; ++i) {
        TAbstractThing* t = refs[i].Create(&owner);  // virtual constructor: the owner frees it
        EXPECT_EQ(t->Kind(), i + 1);
        EXPECT_EQ(t->Owner(), &owner);
        EXPECT_TRUE(refs[i].IsClassOf(t));
        EXPECT_TRUE(refs[0].IsInstance(t));  // B descends from A
    }
    EXPECT_FALSE(refs[1].IsInstance(As<TAbstractThing>(owner.Components(0))));  // an A is not a B
    EXPECT_EQ(refs[1].ClassName(), "TThingB");
    EXPECT_EQ(refs[0], TThingClass::Of<TThingA>());
    EXPECT_FALSE(refs[0] == refs[1]);
    EXPECT_THROW(TThingClass::Of<TAbstractThing>().Create(nullptr), EAbstractError);
    EXPECT_THROW(TThingClass().Create(nullptr), EInvalidPointer);
    EXPECT_FALSE(TThingClass());
}

TEST(Objects, ClassRegistryByName) {
    RegisterClass<TPoint2>();
    TObjectFactory f = FindClass("tpoint2");  // names are not case-sensitive
    TOwned<TObject> obj(f());
    EXPECT_EQ(obj->ClassName(), "TPoint2");
    EXPECT_FALSE(GetClass("TNoSuch"));
    try {
        FindClass("TNoSuch");
        FAIL() << "FindClass did not raise";
    } catch (const EClassNotFound& e) {
        EXPECT_EQ(e.Message(), "Class TNoSuch not found");
    }
    UnRegisterClass("TPoint2");
    EXPECT_FALSE(GetClass("TPoint2"));
}

TEST(Objects, AssignAndAssignToWithPlatformErrors) {
    TPoint2 a, b;
    a.x = 3;
    a.y = 4;
    b.Assign(&a);
    EXPECT_EQ(b.x, 3);
    EXPECT_EQ(b.y, 4);

    TPolar polar;
    polar.r = 7;
    b.Assign(&polar);  // falls back to the source's AssignTo
    EXPECT_EQ(b.x, 7);

    struct Case {
        TPersistent* dest;
        TPersistent* source;
        const char* message;
    };
    const Case cases[] = {
        {&polar, &a, "Cannot assign a TPoint2 to a TPolar"},
        {&a, nullptr, "Cannot assign a nil to a TPoint2"},
        {&polar, &polar, "Cannot assign a TPolar to a TPolar"},
    };
    for (const auto& c : cases) {
        try {
            c.dest->Assign(c.source);
            ADD_FAILURE() << "no error for " << c.message;
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
    }
}

TEST(Components, OwnerFreesOwnedComponentsLastFirst) {
    gLog.clear();
    auto* owner = new TLogComp(nullptr, "Owner");
    auto* a = new TLogComp(nullptr, "A");
    auto* b = new TLogComp(nullptr, "B");
    auto* b1 = new TLogComp(nullptr, "B1");
    owner->InsertComponent(a);
    owner->InsertComponent(b);
    b->InsertComponent(b1);
    EXPECT_EQ(owner->ComponentCount(), 2);
    EXPECT_EQ(owner->Components(1), b);
    EXPECT_EQ(b->ComponentIndex(), 1);
    EXPECT_EQ(owner->FindComponent("b"), b);
    EXPECT_EQ(owner->FindComponent("B1"), nullptr);  // only directly owned
    // Inserting is announced to the owner, which passes it on to what it owns, last first.
    EXPECT_EQ(gLog,
              (std::vector<std::string>{"Owner +A", "A +A", "Owner +B", "B +B", "A +B", "B +B1", "B1 +B1"}));

    gLog.clear();
    delete a;  // a freed on its own leaves its owner
    EXPECT_EQ(owner->ComponentCount(), 1);
    EXPECT_EQ(owner->Components(0), b);
    EXPECT_EQ(gLog, (std::vector<std::string>{"destroy A", "Owner -A", "B -A", "B1 -A"}));

    gLog.clear();
    Free(owner);
    EXPECT_EQ(gLog, (std::vector<std::string>{"destroy Owner (destroying)", "destroy B (destroying)",
                                              "destroy B1 (destroying)"}));
    try {
        TLogComp c;
        c.Components(0);
        FAIL();
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (0)");
    }
}

TEST(Components, NamesAreIdentifiersUniqueWithinTheOwner) {
    TLogComp owner(nullptr, "Owner");
    auto* a = new TLogComp(&owner, "Session");
    auto* b = new TLogComp(&owner);
    struct Case {
        TComponent* target;
        const char* name;
        const char* error;  // null when the rename succeeds
    };
    const Case cases[] = {
        {b, "session", "A component named session already exists"},
        {b, "1st", "'1st' is not a valid component name"},
        {b, "a b", "'a b' is not a valid component name"},
        {a, "SESSION", nullptr},  // a new case of its own name
        {b, "Query1", nullptr},
        {b, "", nullptr},  // unnamed again
    };
    for (const auto& c : cases) {
        if (!c.error) {
            EXPECT_NO_THROW(c.target->SetName(c.name));
            EXPECT_EQ(c.target->Name(), c.name);
            continue;
        }
        const std::string before = c.target->Name();
        try {
            c.target->SetName(c.name);
            ADD_FAILURE() << "no error for " << c.name;
        } catch (const EComponentError& e) {
            EXPECT_EQ(e.Message(), c.error);
        }
        EXPECT_EQ(c.target->Name(), before);
    }
    // Moving a component into an owner that has its name is refused as well.
    TLogComp other(nullptr, "Other");
    auto* clash = new TLogComp(&other, "Session");
    EXPECT_THROW(owner.InsertComponent(clash), EComponentError);
    EXPECT_EQ(clash->Owner(), &other);
    // Unowned components may share names.
    TLogComp free1(nullptr, "Same"), free2(nullptr, "Same");
    EXPECT_EQ(free2.Name(), "Same");
}

TEST(Components, FreeNotificationAcrossOwners) {
    gLog.clear();
    auto* dataModule = new TLogComp(nullptr, "DM");
    auto* session = new TLogComp(dataModule, "Session");
    auto* form = new TLogComp(nullptr, "Form");
    auto* query = new TLogComp(form, "Query");
    query->link = session;
    session->FreeNotification(query);
    EXPECT_TRUE(session->ComponentState().Contains(csFreeNotification));
    gLog.clear();

    Free(dataModule);  // the session goes with its owner; the query hears about it
    EXPECT_EQ(query->link, nullptr);
    EXPECT_NE(std::find(gLog.begin(), gLog.end(), "Query -Session"), gLog.end());

    // The request is mutual: the surviving query no longer lists the session.
    gLog.clear();
    auto* session2 = new TLogComp(nullptr, "Session2");
    query->link = session2;
    query->FreeNotification(session2);
    query->RemoveFreeNotification(session2);
    Free(session2);
    EXPECT_EQ(query->link, session2);  // not told any more
    query->link = nullptr;

    // Freeing the listener first leaves nothing dangling behind in the other one.
    auto* session3 = new TLogComp(nullptr, "Session3");
    session3->FreeNotification(query);
    Free(form);
    gLog.clear();
    Free(session3);
    EXPECT_EQ(gLog, (std::vector<std::string>{"destroy Session3 (destroying)"}));
}

TEST(Components, LoadingStateAndDatabaseError) {
    gLog.clear();
    TLogComp c(nullptr, "Conn");
    c.Loading();
    EXPECT_TRUE(c.ComponentState().Contains(csLoading));
    c.Loaded();
    EXPECT_FALSE(c.ComponentState().Contains(csLoading));
    EXPECT_EQ(gLog.back(), "Conn loaded, loading=yes");

    struct Case {
        TComponent* component;
        const char* message;
    };
    TLogComp unnamed;
    const Case cases[] = {{&c, "Conn: Field 'X' not found"},
                          {&unnamed, "Field 'X' not found"},
                          {nullptr, "Field 'X' not found"}};
    for (const auto& k : cases) {
        try {
            DatabaseError("Field 'X' not found", k.component);
            FAIL();
        } catch (const EDatabaseError& e) {
            EXPECT_EQ(e.Message(), k.message);
            EXPECT_STREQ(e.ClassName(), "EDatabaseError");
        }
    }
    try {
        DatabaseErrorFmt("Field '%s' not found in %d columns", {"Y", 3}, &c);
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), "Conn: Field 'Y' not found in 3 columns");
    }
}

namespace {

class TMacro : public TCollectionItem {
public:
    using TCollectionItem::TCollectionItem;
    std::string name, value;
    void Assign(TPersistent* source) override {
        if (auto* m = dynamic_cast<TMacro*>(source)) {
            name = m->name;
            value = m->value;
            Changed(false);
            return;
        }
        TCollectionItem::Assign(source);
    }
    void SetValue(const std::string& v) {
        value = v;
        Changed(false);
    }

protected:
    std::string GetDisplayName() const override {
        return name.empty() ? TCollectionItem::GetDisplayName() : name;
    }
};

class TMacros : public TCollection {
public:
    TMacros() : TCollection(TCollectionItemClass::Of<TMacro>()) {}
    TMacro* Add(const std::string& name) {
        auto* m = static_cast<TMacro*>(TCollection::Add());
        m->name = name;
        return m;
    }
    std::vector<std::string> log;
    void Update(TCollectionItem* item) override {
        log.push_back("update " + (item ? item->DisplayName() : std::string("all")));
    }

protected:
    void Notify(TCollectionItem* item, TCollectionNotification action) override {
        static const char* names[] = {"added", "extracting", "deleting"};
        log.push_back(std::string(names[action]) + " #" + std::to_string(item->ID()));
    }
};

std::vector<std::string> Names(const TMacros& c) {
    std::vector<std::string> r;
    for (int i = 0; i < c.Count(); ++i) r.push_back(c.ItemAs<TMacro>(i)->DisplayName());
    return r;
}

}  // namespace

TEST(Collections, ItemsIdsOrderAndNotifications) {
    TMacros macros;
    macros.Add("A");
    macros.Add("B");
    macros.Add("C");
    EXPECT_EQ(macros.log, (std::vector<std::string>{"added #0", "update all", "added #1", "update all",
                                                    "added #2", "update all"}));
    macros.log.clear();
    macros.ItemAs<TMacro>(1)->SetValue("x");
    EXPECT_EQ(macros.log, (std::vector<std::string>{"update B"}));

    macros.Items(2)->SetIndex(0);
    EXPECT_EQ(Names(macros), (std::vector<std::string>{"C", "A", "B"}));
    EXPECT_EQ(macros.Items(0)->ID(), 2);  // IDs stay with the items
    EXPECT_EQ(macros.FindItemID(1)->Index(), 2);

    macros.log.clear();
    macros.Delete(1);
    EXPECT_EQ(macros.log, (std::vector<std::string>{"deleting #0", "extracting #0", "update all"}));
    EXPECT_EQ(Names(macros), (std::vector<std::string>{"C", "B"}));

    auto* d = static_cast<TMacro*>(macros.Insert(1));
    EXPECT_EQ(d->ID(), 3);  // never reused
    EXPECT_EQ(d->Index(), 1);
    EXPECT_EQ(d->DisplayName(), "TMacro");

    // Updates are held back while the collection is being updated, then reported once.
    macros.log.clear();
    macros.BeginUpdate();
    macros.ItemAs<TMacro>(0)->SetValue("y");
    macros.Add("E");
    macros.EndUpdate();
    EXPECT_EQ(macros.log, (std::vector<std::string>{"added #4", "update all"}));

    // An item freed on its own leaves the collection.
    delete macros.Items(0);
    EXPECT_EQ(Names(macros), (std::vector<std::string>{"TMacro", "B", "E"}));

    for (int bad : {-1, 3}) {
        try {
            macros.Items(bad);
            ADD_FAILURE();
        } catch (const EListError& e) {
            EXPECT_EQ(e.Message(), "List index out of bounds (" + std::to_string(bad) + ")");
        }
    }
    EXPECT_THROW(macros.Items(0)->SetIndex(5), EListError);
}

TEST(Collections, AssignCopiesItemsAndItemsMoveBetweenCollections) {
    TMacros source, target;
    source.Add("A")->value = "1";
    source.Add("B")->value = "2";
    target.Add("old");
    target.log.clear();
    target.Assign(&source);
    EXPECT_EQ(Names(target), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(target.ItemAs<TMacro>(1)->value, "2");
    EXPECT_EQ(target.log.back(), "update all");  // one update for the whole copy
    EXPECT_EQ(std::count(target.log.begin(), target.log.end(), "update all"), 1);

    TMacro* b = source.ItemAs<TMacro>(1);
    b->SetCollection(&target);
    EXPECT_EQ(source.Count(), 1);
    EXPECT_EQ(target.Count(), 3);
    EXPECT_EQ(b->Collection(), &target);
    EXPECT_EQ(b->GetOwner(), &target);

    TPoint2 notACollection;
    EXPECT_THROW(target.Assign(&notACollection), EConvertError);
}
