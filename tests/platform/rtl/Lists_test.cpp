#include "platform/rtl/Lists.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/rtl/Strings.h"

using namespace rtl;

namespace {

using Lines = std::vector<std::string>;

// A TList that records its notifications.
class TLoggedList : public TList {
public:
    std::vector<std::string> log;
    ~TLoggedList() override { Clear(); }

protected:
    void Notify(void* item, TListNotification action) override {
        static const char* names[] = {"added", "extracted", "deleted"};
        log.push_back(std::string(names[action]) + " " + *static_cast<std::string*>(item));
    }
};

// Counts live instances so tests can see who frees what.
class TCounted : public TObject {
public:
    explicit TCounted(int v = 0) : value(v) { ++alive; }
    ~TCounted() override { --alive; }
    int value;
    static inline int alive = 0;
};

std::string ListError(const std::function<void()>& f) {
    try {
        f();
    } catch (const EListError& e) {
        return std::string("EListError: ") + e.Message();
    } catch (const EStringListError& e) {
        return std::string("EStringListError: ") + e.Message();
    }
    return "no error";
}

TStringList* Make(const Lines& lines, bool sorted = false, TDuplicates dups = dupIgnore) {
    auto* l = new TStringList;
    l->SetDuplicates(dups);
    l->SetSorted(sorted);
    for (const auto& s : lines) l->Add(s);
    return l;
}

}  // namespace

TEST(TList, ItemsNotificationsAndErrors) {
    std::string a = "a", b = "b", c = "c";
    TLoggedList list;
    list.Add(&a);
    list.Add(nullptr);  // nulls are stored but never announced
    list.Insert(0, &b);
    list.Add(&c);
    EXPECT_EQ(list.Count(), 4);
    EXPECT_EQ(list.IndexOf(&c), 3);
    EXPECT_EQ(list.Remove(&a), 1);
    EXPECT_EQ(list.Extract(&c), &c);
    EXPECT_EQ(list.Extract(&c), nullptr);
    list.SetItems(0, &a);
    list.Pack();
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.log,
              (Lines{"added a", "added b", "added c", "deleted a", "extracted c", "deleted b", "added a"}));
    list.SetCount(3);
    EXPECT_EQ(list.Items(2), nullptr);
    list.log.clear();
    list.Clear();
    EXPECT_EQ(list.log, (Lines{"deleted a"}));

    EXPECT_EQ(ListError([&] { list.Items(0); }), "EListError: List index out of bounds (0)");
    EXPECT_EQ(ListError([&] { list.Last(); }), "EListError: List index out of bounds (-1)");
    EXPECT_EQ(ListError([&] { list.Insert(1, &a); }), "EListError: List index out of bounds (1)");
    EXPECT_EQ(ListError([&] { list.SetCount(-1); }), "EListError: List count out of bounds (-1)");
    list.Add(&a);
    EXPECT_EQ(ListError([&] { list.SetCapacity(0); }), "EListError: List capacity out of bounds (0)");
    EXPECT_EQ(ListError([&] { list.Move(0, 1); }), "EListError: List index out of bounds (1)");
}

TEST(TList, SortIsStableAndFollowsTheCompareFunction) {
    struct Pkg {
        int time;
        char tag;
    };
    Pkg items[] = {{3, 'a'}, {1, 'b'}, {3, 'c'}, {2, 'd'}, {1, 'e'}};
    TList list;
    for (auto& p : items) list.Add(&p);
    // Newest first.
    list.Sort([](void* x, void* y) { return static_cast<Pkg*>(y)->time - static_cast<Pkg*>(x)->time; });
    std::string order;
    for (int i = 0; i < list.Count(); ++i) order += static_cast<Pkg*>(list[i])->tag;
    EXPECT_EQ(order, "acdbe");
    list.Move(0, 4);
    list.Exchange(0, 1);
    order.clear();
    for (int i = 0; i < list.Count(); ++i) order += static_cast<Pkg*>(list[i])->tag;
    EXPECT_EQ(order, "dcbea");
}

TEST(TObjectList, OwnsAndFreesUnlessExtracted) {
    TCounted::alive = 0;
    {
        TObjectList list;
        auto* first = new TCounted(1);
        list.Add(first);
        list.Add(new TCounted(2));
        list.Add(new TCounted(3));
        list.Add(new TCounted(4));
        EXPECT_EQ(TCounted::alive, 4);
        list.Delete(1);  // frees 2
        EXPECT_EQ(TCounted::alive, 3);
        TOwned<TObject> taken(list.Extract(first));  // extracted: the caller owns it now
        EXPECT_EQ(TCounted::alive, 3);
        EXPECT_EQ(list.Count(), 2);
        EXPECT_EQ(list.ItemAs<TCounted>(0)->value, 3);
        list.SetItems(0, new TCounted(5));  // the replaced object is freed
        EXPECT_EQ(TCounted::alive, 3);
        EXPECT_EQ(list.Remove(list.Last()), 1);
        EXPECT_EQ(TCounted::alive, 2);
        list.Add(new TCounted(6));
    }
    EXPECT_EQ(TCounted::alive, 0);  // the list and the extracted object both gone

    TCounted kept(7);
    {
        TObjectList notOwning(false);
        notOwning.Add(&kept);
        notOwning.Delete(0);
        notOwning.Add(&kept);
    }
    EXPECT_EQ(TCounted::alive, 1);
}

TEST(TStringList, SortedAddFindAndDuplicates) {
    struct Case {
        TDuplicates dups;
        bool caseSensitive;
        Lines adds;
        Lines expected;
    };
    const Case cases[] = {
        {dupIgnore, false, {"b", "A", "c", "a", "B"}, {"A", "b", "c"}},
        {dupAccept, false, {"b", "A", "c", "a", "B"}, {"a", "A", "B", "b", "c"}},  // a later equal goes first
        {dupIgnore, true, {"b", "A", "c", "a", "B", "b"}, {"a", "A", "b", "B", "c"}},
        {dupIgnore, false, {"10", "9", "1", "item-2", "item2"}, {"1", "10", "9", "item2", "item-2"}},
        {dupIgnore, false, {"ёж", "Еж", "яма", "Zebra", "ель"}, {"Zebra", "Еж", "ёж", "ель", "яма"}},
    };
    for (const auto& c : cases) {
        TStringList list;
        list.SetDuplicates(c.dups);
        list.SetCaseSensitive(c.caseSensitive);
        list.SetSorted(true);
        for (const auto& s : c.adds) list.Add(Utf8ToAnsi(s));
        Lines got;
        for (const auto& s : list.ToVector()) got.push_back(AnsiToUtf8(s));
        EXPECT_EQ(got, c.expected) << "dups " << c.dups << " case " << c.caseSensitive;
    }

    std::unique_ptr<TStringList> list(Make({"delta", "alpha", "charlie"}, true));
    int index = -1;
    EXPECT_TRUE(list->Find("CHARLIE", index));
    EXPECT_EQ(index, 1);
    EXPECT_FALSE(list->Find("bravo", index));
    EXPECT_EQ(index, 1);  // where it would go
    EXPECT_FALSE(list->Find("zulu", index));
    EXPECT_EQ(index, 3);
    EXPECT_EQ(list->IndexOf("Delta"), 2);
    EXPECT_EQ(list->Add("ALPHA"), 0);  // dupIgnore gives the existing index
    EXPECT_EQ(list->Count(), 3);

    list->SetDuplicates(dupError);
    EXPECT_EQ(ListError([&] { list->Add("alpha"); }),
              "EStringListError: String list does not allow duplicates");
    EXPECT_EQ(ListError([&] { list->Insert(0, "x"); }),
              "EStringListError: Operation not allowed on sorted list");
    EXPECT_EQ(ListError([&] { list->SetStrings(0, "x"); }),
              "EStringListError: Operation not allowed on sorted list");
    EXPECT_EQ(ListError([&] { list->Get(3); }), "EStringListError: List index out of bounds (3)");
    EXPECT_EQ(ListError([&] { list->Delete(-1); }), "EStringListError: List index out of bounds (-1)");

    // Turning case sensitivity on re-sorts a sorted list; unsorted lists keep their order.
    std::unique_ptr<TStringList> mixed(Make({"B", "a", "A", "b"}, true, dupAccept));
    mixed->SetCaseSensitive(true);
    EXPECT_EQ(mixed->ToVector(), (Lines{"a", "A", "b", "B"}));
    EXPECT_EQ(mixed->IndexOf("A"), 1);
    mixed->SetSorted(false);
    mixed->Insert(0, "z");
    EXPECT_EQ(mixed->IndexOf("Z"), -1);  // case-sensitive linear search
    mixed->SetCaseSensitive(false);
    EXPECT_EQ(mixed->IndexOf("Z"), 0);
}

TEST(TStringList, CommaTextQuotingAndRoundTrips) {
    struct Case {
        Lines lines;
        std::string text;
    };
    const Case cases[] = {
        {{}, ""},
        {{""}, "\"\""},
        {{"a", "b c", "d,e", "f\"g", ""}, "a,\"b c\",\"d,e\",\"f\"\"g\","},
        {{"", "x"}, ",x"},
        {{"tab\there"}, "\"tab\there\""},
        {{"'single'"}, "'single'"},
    };
    for (const auto& c : cases) {
        TStringList list;
        for (const auto& s : c.lines) list.Add(s);
        EXPECT_EQ(list.CommaText(), c.text);
        TStringList back;
        back.SetCommaText(c.text);
        EXPECT_EQ(back.ToVector(), c.lines) << c.text;
    }

    struct Parse {
        std::string text;
        Lines lines;
    };
    const Parse parses[] = {
        {"  a , b  ,c", {"a", "b", "c"}},   // blanks around items are dropped
        {"a b", {"a", "b"}},                // a blank ends an unquoted item
        {"\"a b\"c,d", {"a b", "c", "d"}},  // text after a closing quote is a new item
        {"\"open ended", {"open ended"}},   // no closing quote: the rest
        {"a,,b", {"a", "", "b"}},
        {"a,", {"a", ""}},
        {"\x01\x02 a", {"a"}},  // leading controls are skipped
        {"", {}},
    };
    for (const auto& p : parses) {
        TStringList list;
        list.SetCommaText(p.text);
        EXPECT_EQ(list.ToVector(), p.lines) << p.text;
    }
}

TEST(TStringList, DelimitedTextWithOwnDelimiterAndQuote) {
    TStringList list;
    list.SetDelimiter(';');
    list.SetQuoteChar('\'');
    list.SetDelimitedText(" 08:00; 12:30 ;'17:00 late';bad item;");
    EXPECT_EQ(list.ToVector(), (Lines{"08:00", "12:30", "17:00 late", "bad", "item", ""}));
    EXPECT_EQ(list.DelimitedText(), "08:00;12:30;'17:00 late';bad;item;");
    EXPECT_EQ(list.CommaText(), "08:00,12:30,\"17:00 late\",bad,item,");  // CommaText keeps its own

    list.SetStrictDelimiter(true);
    list.SetDelimitedText(" a b ;'c;d';");
    EXPECT_EQ(list.ToVector(), (Lines{" a b ", "c;d", ""}));
    EXPECT_EQ(list.DelimitedText(), " a b ;'c;d';");
}

TEST(TStringList, TextLinesAndNameValues) {
    TStringList list;
    list.SetText("one\r\ntwo\nthree\rfour\n\r\nsix");
    EXPECT_EQ(list.ToVector(), (Lines{"one", "two", "three", "four", "", "six"}));
    EXPECT_EQ(list.Text(), "one\r\ntwo\r\nthree\r\nfour\r\n\r\nsix\r\n");
    list.SetText("only\r\n");
    EXPECT_EQ(list.Count(), 1);
    list.SetText("");
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Text(), "");

    list.SetText("Server=db1\nUser Name=scott\nflag\nkey=a=b");
    EXPECT_EQ(list.Names(0), "Server");
    EXPECT_EQ(list.Names(2), "");
    EXPECT_EQ(list.Values("SERVER"), "db1");  // names are not case-sensitive
    EXPECT_EQ(list.Values("user name"), "scott");
    EXPECT_EQ(list.Values("key"), "a=b");  // the first '=' separates
    EXPECT_EQ(list.Values("flag"), "");
    EXPECT_EQ(list.ValueFromIndex(2), "");
    list.SetValues("server", "db2");
    EXPECT_EQ(list.Get(0), "server=db2");
    list.SetValues("Port", "1521");
    EXPECT_EQ(list.Get(4), "Port=1521");
    list.SetValues("User Name", "");  // an empty value deletes the line
    EXPECT_EQ(list.IndexOfName("User Name"), -1);
    EXPECT_EQ(list.Count(), 4);
    list.SetValueFromIndex(0, "db3");
    EXPECT_EQ(list.Values("Server"), "db3");

    // Values on a sorted list keep it sorted.
    std::unique_ptr<TStringList> sorted(Make({"b=2", "a=1", "c=3"}, true));
    sorted->SetValues("a", "9");
    sorted->SetValues("bb", "4");
    EXPECT_EQ(sorted->ToVector(), (Lines{"a=9", "b=2", "bb=4", "c=3"}));
}

TEST(TStringList, ObjectsOwnershipCustomSortAndChangeEvents) {
    TCounted::alive = 0;
    {
        TStringList list(true);
        list.AddObject("ccc", new TCounted(3));
        list.AddObject("a", new TCounted(1));
        list.AddObject("bb", new TCounted(2));
        list.Add("dddd");
        // By length, longest first; objects travel with their strings.
        list.CustomSort([](TStringList* l, int i1, int i2) {
            return static_cast<int>(l->Get(i2).size()) - static_cast<int>(l->Get(i1).size());
        });
        EXPECT_EQ(list.ToVector(), (Lines{"dddd", "ccc", "bb", "a"}));
        EXPECT_EQ(static_cast<TCounted*>(list.Objects(1))->value, 3);
        EXPECT_EQ(list.IndexOfObject(list.Objects(3)), 3);
        list.Delete(1);
        EXPECT_EQ(TCounted::alive, 2);
        list.SetObjects(1, new TCounted(5));  // the old object is freed
        EXPECT_EQ(TCounted::alive, 2);
        list.Move(2, 0);
        EXPECT_EQ(static_cast<TCounted*>(list.Objects(0))->value, 1);  // moving does not free
        EXPECT_EQ(TCounted::alive, 2);
    }
    EXPECT_EQ(TCounted::alive, 0);

    // A sorted list ignores CustomSort.
    std::unique_ptr<TStringList> sorted(Make({"b", "a"}, true));
    sorted->CustomSort([](TStringList*, int i1, int i2) { return i2 - i1; });
    EXPECT_EQ(sorted->ToVector(), (Lines{"a", "b"}));

    TStringList list;
    int changes = 0, changing = 0;
    list.OnChange = [&](TObject* sender) {
        EXPECT_EQ(sender, &list);
        ++changes;
    };
    list.OnChanging = [&](TObject*) { ++changing; };
    list.Add("x");
    list.SetText("a\nb\nc");  // one change for the whole text
    list.BeginUpdate();
    list.Add("d");
    list.Delete(0);
    list.EndUpdate();
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(changing, 3);

    TStringList copy;
    copy.Assign(&list);
    EXPECT_TRUE(copy.Equals(list));
    TPersistent notStrings;
    try {
        copy.Assign(&notStrings);
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TPersistent to a TStringList");
    }
}

TEST(TStringList, LoadAndSaveFiles) {
    const auto dir = std::filesystem::temp_directory_path() / ("rtl_lists_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "list.txt").string();

    TStringList list;
    list.Add(Utf8ToAnsi("Привет"));
    list.Add("");
    list.Add("last");
    list.SaveToFile(path);
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, Utf8ToAnsi("Привет") + "\r\n\r\nlast\r\n");  // 8-bit bytes, CR LF

    TStringList back;
    back.LoadFromFile(path);
    EXPECT_TRUE(back.Equals(list));

    EXPECT_THROW(back.LoadFromFile((dir / "missing.txt").string()), EFOpenError);
    EXPECT_THROW(back.SaveToFile((dir / "no" / "such" / "dir.txt").string()), EFCreateError);
    std::filesystem::remove_all(dir);
}
