// Lists of the runtime: TList (pointers), TObjectList (owning), TThreadList, and the string lists
// TStrings/TStringList with objects, name=value lines, delimited texts and sorting.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rtl/Objects.h"

namespace rtl {

class TStream;

// ---------------------------------------------------------------------------------------------
// TList

enum TListNotification { lnAdded, lnExtracted, lnDeleted };
using TListSortCompare = std::function<int(void* item1, void* item2)>;

// Index errors raise EListError "List index out of bounds (i)".
class TList : public TObject {
public:
    TList() = default;
    ~TList() override;

    int Add(void* item);
    void Insert(int index, void* item);
    void Delete(int index);
    // Deletes the first occurrence; returns its former index or -1.
    int Remove(void* item);
    // Takes the first occurrence out without it counting as deleted; null when absent.
    void* Extract(void* item);
    void Clear();

    int Count() const { return static_cast<int>(items_.size()); }
    // Shrinking deletes the items at the end; growing appends nulls.
    void SetCount(int value);
    int Capacity() const { return static_cast<int>(items_.capacity()); }
    void SetCapacity(int value);

    void* Items(int index) const;
    void SetItems(int index, void* item);
    void* operator[](int index) const { return Items(index); }
    void* First() const { return Items(0); }
    void* Last() const { return Items(Count() - 1); }
    int IndexOf(const void* item) const;
    void Exchange(int index1, int index2);
    void Move(int curIndex, int newIndex);
    // Removes the null items.
    void Pack();
    // Stable sort with compare < 0 meaning item1 before item2.
    void Sort(const TListSortCompare& compare);

protected:
    // Called for every non-null item added, extracted or deleted.
    virtual void Notify(void* item, TListNotification action);
    void CheckIndex(int index) const;

private:
    std::vector<void*> items_;
};

// Owns its objects when OwnsObjects (the default): deleting, removing or clearing frees them,
// extracting does not. Freeing the list frees the objects.
class TObjectList : public TList {
public:
    explicit TObjectList(bool ownsObjects = true) : ownsObjects_(ownsObjects) {}
    ~TObjectList() override;

    int Add(TObject* obj) { return TList::Add(obj); }
    void Insert(int index, TObject* obj) { TList::Insert(index, obj); }
    int Remove(TObject* obj) { return TList::Remove(obj); }
    TObject* Extract(TObject* obj) { return static_cast<TObject*>(TList::Extract(obj)); }
    int IndexOf(const TObject* obj) const { return TList::IndexOf(obj); }
    TObject* Items(int index) const { return static_cast<TObject*>(TList::Items(index)); }
    void SetItems(int index, TObject* obj) { TList::SetItems(index, obj); }
    TObject* operator[](int index) const { return Items(index); }
    TObject* First() const { return Items(0); }
    TObject* Last() const { return Items(Count() - 1); }
    template <class T>
    T* ItemAs(int index) const {
        return static_cast<T*>(Items(index));
    }

    bool OwnsObjects() const { return ownsObjects_; }
    void SetOwnsObjects(bool value) { ownsObjects_ = value; }

protected:
    void Notify(void* item, TListNotification action) override;

private:
    bool ownsObjects_;
};

// A TList behind a re-entrant lock.
class TThreadList {
public:
    TThreadList() = default;
    TList* LockList();
    void UnlockList();
    // Adds unless already present.
    void Add(void* item);
    void Remove(void* item);
    void Clear();

private:
    std::recursive_mutex lock_;
    TList list_;
};

// ---------------------------------------------------------------------------------------------
// TStrings / TStringList

enum TDuplicates { dupIgnore, dupAccept, dupError };

// An abstract list of strings with an object per string. Index errors raise EStringListError
// "List index out of bounds (i)".
class TStrings : public TPersistent {
public:
    TStrings() = default;

    virtual int Count() const = 0;
    virtual std::string Get(int index) const = 0;
    virtual void Put(int index, const std::string& s);
    virtual TObject* GetObject(int index) const;
    virtual void PutObject(int index, TObject* obj);
    virtual void Insert(int index, const std::string& s) = 0;
    virtual void InsertObject(int index, const std::string& s, TObject* obj);
    virtual void Delete(int index) = 0;
    virtual void Clear() = 0;
    virtual int Add(const std::string& s);
    virtual int AddObject(const std::string& s, TObject* obj);
    void Append(const std::string& s) { Add(s); }
    void AddStrings(const TStrings& strings);
    virtual void Exchange(int index1, int index2);
    virtual void Move(int curIndex, int newIndex);

    std::string Strings(int index) const { return Get(index); }
    void SetStrings(int index, const std::string& s) { Put(index, s); }
    std::string operator[](int index) const { return Get(index); }
    TObject* Objects(int index) const { return GetObject(index); }
    void SetObjects(int index, TObject* obj) { PutObject(index, obj); }

    // Index of the string (compared as CompareStrings does), or -1.
    virtual int IndexOf(const std::string& s) const;
    int IndexOfObject(const TObject* obj) const;
    // Index of the first "name=value" line with that name, or -1.
    int IndexOfName(const std::string& name) const;
    // The part before the first separator ('' for a line without one).
    std::string Names(int index) const;
    // The value of the first line with that name ('' when there is none).
    std::string Values(const std::string& name) const;
    // Sets the value of name, adding a line when there is none; an empty value deletes the line.
    void SetValues(const std::string& name, const std::string& value);
    std::string ValueFromIndex(int index) const;
    void SetValueFromIndex(int index, const std::string& value);

    // Every line followed by CR LF.
    virtual std::string Text() const;
    // Lines end at CR LF, CR or LF; a last line without an end counts.
    virtual void SetText(std::string_view text);
    // Lines joined by Delimiter; a line holding a blank, control, delimiter or quote is quoted.
    std::string DelimitedText() const;
    // Items end at Delimiter and (unless StrictDelimiter) at blanks; an item starting with
    // QuoteChar runs to the closing quote, doubled quotes inside standing for one.
    void SetDelimitedText(std::string_view text);
    // DelimitedText with ',' and '"', whatever Delimiter and QuoteChar are.
    std::string CommaText() const;
    void SetCommaText(std::string_view text);

    char Delimiter() const { return delimiter_; }
    void SetDelimiter(char value) { delimiter_ = value; }
    char QuoteChar() const { return quoteChar_; }
    void SetQuoteChar(char value) { quoteChar_ = value; }
    char NameValueSeparator() const { return nameValueSeparator_; }
    void SetNameValueSeparator(char value) { nameValueSeparator_ = value; }
    bool StrictDelimiter() const { return strictDelimiter_; }
    void SetStrictDelimiter(bool value) { strictDelimiter_ = value; }

    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const { return updateCount_; }

    // Copies strings and objects of another TStrings.
    void Assign(TPersistent* source) override;
    bool Equals(const TStrings& other) const;

    // The bytes of the file (or the rest of the stream) as Text; raises EFOpenError/EReadError.
    virtual void LoadFromFile(const std::string& fileName);
    virtual void LoadFromStream(TStream& stream);
    // Text written as bytes; raises EFCreateError/EWriteError.
    virtual void SaveToFile(const std::string& fileName) const;
    virtual void SaveToStream(TStream& stream) const;

    std::vector<std::string> ToVector() const;

protected:
    // Called with true when the first BeginUpdate starts and false when the last EndUpdate ends.
    virtual void SetUpdateState(bool updating);
    // Locale comparison without case by default.
    virtual int CompareStrings(const std::string& a, const std::string& b) const;
    [[noreturn]] static void IndexError(int index);

private:
    std::string DelimitedTextWith(char delimiter, char quote, bool strict) const;
    void SetDelimitedTextWith(std::string_view text, char delimiter, char quote, bool strict);

    char delimiter_ = ',';
    char quoteChar_ = '"';
    char nameValueSeparator_ = '=';
    bool strictDelimiter_ = false;
    int updateCount_ = 0;
};

class TStringList;
using TStringListSortCompare = std::function<int(TStringList* list, int index1, int index2)>;

// Modifying a sorted list in place (Insert, Put) raises EStringListError "Operation not allowed
// on sorted list"; adding a duplicate with dupError raises "String list does not allow
// duplicates". Comparisons are locale-aware, with or without case (CaseSensitive).
class TStringList : public TStrings {
public:
    TStringList() = default;
    explicit TStringList(bool ownsObjects) : ownsObjects_(ownsObjects) {}
    ~TStringList() override;

    int Count() const override { return static_cast<int>(items_.size()); }
    std::string Get(int index) const override;
    void Put(int index, const std::string& s) override;
    TObject* GetObject(int index) const override;
    void PutObject(int index, TObject* obj) override;
    void Insert(int index, const std::string& s) override;
    void InsertObject(int index, const std::string& s, TObject* obj) override;
    void Delete(int index) override;
    void Clear() override;
    int Add(const std::string& s) override;
    int AddObject(const std::string& s, TObject* obj) override;
    void Exchange(int index1, int index2) override;
    void Move(int curIndex, int newIndex) override;
    int IndexOf(const std::string& s) const override;

    // Binary search of a sorted list: true when found; index gets the first match or the
    // position where s would go.
    virtual bool Find(const std::string& s, int& index) const;
    virtual void Sort();
    // Sorts an unsorted list with compare (< 0: index1 first); a sorted list stays as it is.
    virtual void CustomSort(const TStringListSortCompare& compare);

    bool Sorted() const { return sorted_; }
    void SetSorted(bool value);
    TDuplicates Duplicates() const { return duplicates_; }
    void SetDuplicates(TDuplicates value) { duplicates_ = value; }
    bool CaseSensitive() const { return caseSensitive_; }
    void SetCaseSensitive(bool value);
    // When set the list frees its objects on delete, replace and clear.
    bool OwnsObjects() const { return ownsObjects_; }
    void SetOwnsObjects(bool value) { ownsObjects_ = value; }

    TNotifyEvent OnChange;
    TNotifyEvent OnChanging;

protected:
    void SetUpdateState(bool updating) override;
    int CompareStrings(const std::string& a, const std::string& b) const override;
    virtual void Changed();
    virtual void Changing();

private:
    struct Item {
        std::string str;
        TObject* obj = nullptr;
    };
    void CheckIndex(int index) const;
    void InsertItem(int index, const std::string& s, TObject* obj);

    std::vector<Item> items_;
    TDuplicates duplicates_ = dupIgnore;
    bool sorted_ = false;
    bool caseSensitive_ = false;
    bool ownsObjects_ = false;
};

}  // namespace rtl
