// A small in-memory dataset (plain-bytes columns only) for the framework's tests. It overrides the operations
// a storage dataset overrides and writes each call into a log, so tests can check the calling order.
#pragma once

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/db/DB.h"

namespace dbtest {

using namespace db;

struct TColumn {
    std::string name;
    TFieldType type;
    int size = 0;
    bool required = false;
};

class TTestDataSet : public TDataSet {
public:
    explicit TTestDataSet(rtl::TComponent* owner = nullptr) : TDataSet(owner) {}
    ~TTestDataSet() override {
        Destroying();
        Close();
    }

    // Rows are kept in storage form: one null byte and DataSize bytes per column.
    struct Row {
        int32_t id;
        std::vector<uint8_t> data;
        std::map<int, std::string> blobs;
    };

    std::vector<TColumn> columns;
    std::vector<Row> rows;
    std::vector<std::string> log;
    int nextId = 1;
    bool failOpen = false;
    bool readOnlyData = false;

    void Log(const std::string& s) { log.push_back(s); }
    void ClearLog() { log.clear(); }
    std::string LogText() const {
        std::string s;
        for (const auto& e : log) s += (s.empty() ? "" : " ") + e;
        return s;
    }

    // Test access to protected framework operations.
    using TDataSet::BufferedRecordCount;
    using TDataSet::RestoreState;
    using TDataSet::SetTempState;

    // Where field fieldNo sits in a storage record.
    int ColumnOffset(int fieldNo) const {
        int off = 0;
        for (int i = 1; i < fieldNo; ++i) off += 1 + ColumnSize(i);
        return off;
    }
    int ColumnSize(int fieldNo) const {
        const TColumn& c = columns[static_cast<size_t>(fieldNo - 1)];
        std::unique_ptr<TField> probe(DefaultFieldClass(c.type).Create(nullptr));
        if (c.size > 0) probe->SetSize(c.size);
        return probe->DataSize();
    }
    int RecordSize() const {
        return columns.empty() ? 0 : ColumnOffset(static_cast<int>(columns.size()) + 1);
    }

    // Layout of a record buffer: storage record, calculated area, bookmark (row id), flag.
    int CalcOffset() const { return RecordSize(); }
    int InfoOffset() const { return RecordSize() + CalcFieldsSize(); }
    int BufferSize() const { return InfoOffset() + 5; }

    int Pos() const { return pos_; }

protected:
    TRecordBuffer AllocRecordBuffer() override {
        Log("Alloc");
        auto* b = new uint8_t[static_cast<size_t>(BufferSize())];
        std::memset(b, 0, static_cast<size_t>(BufferSize()));
        return b;
    }
    void FreeRecordBuffer(TRecordBuffer& buffer) override {
        Log("Free");
        blobs_.erase(buffer);
        delete[] buffer;
        buffer = nullptr;
    }
    int GetRecordSize() const override { return RecordSize(); }

    TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool) override {
        static const char* const kModes[] = {"Current", "Next", "Prior"};
        Log(std::string("GetRecord(") + kModes[mode] + ")");
        int n = static_cast<int>(rows.size());
        if (mode == gmNext) {
            if (pos_ < n) ++pos_;
        } else if (mode == gmPrior) {
            if (pos_ >= 0) --pos_;
        }
        if (pos_ < 0) return grBOF;
        if (pos_ >= n) return grEOF;
        const Row& r = rows[static_cast<size_t>(pos_)];
        std::memcpy(buffer, r.data.data(), r.data.size());
        blobs_[buffer] = r.blobs;
        std::memcpy(buffer + InfoOffset(), &r.id, 4);
        buffer[InfoOffset() + 4] = bfCurrent;
        GetCalcFields(buffer);
        return grOK;
    }

    void GetBookmarkData(TRecordBuffer buffer, void* data) const override {
        std::memcpy(data, buffer + InfoOffset(), 4);
    }
    void SetBookmarkData(TRecordBuffer buffer, const void* data) override {
        std::memcpy(buffer + InfoOffset(), data, 4);
    }
    TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) const override {
        return static_cast<TBookmarkFlag>(buffer[InfoOffset() + 4]);
    }
    void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag value) override {
        buffer[InfoOffset() + 4] = value;
    }

    void InternalFirst() override {
        Log("InternalFirst");
        pos_ = -1;
    }
    void InternalLast() override {
        Log("InternalLast");
        pos_ = static_cast<int>(rows.size());
    }
    void InternalGotoBookmark(const void* bookmark) override {
        Log("InternalGotoBookmark");
        int32_t id;
        std::memcpy(&id, bookmark, 4);
        int i = IndexOfId(id);
        if (i < 0) rtl::DatabaseError("Record not found", this);
        pos_ = i;
    }
    void InternalSetToRecord(TRecordBuffer buffer) override {
        Log("InternalSetToRecord");
        InternalGotoBookmark(buffer + InfoOffset());
    }
    void InternalInitRecord(TRecordBuffer buffer) override {
        Log("InternalInitRecord");
        std::memset(buffer, 0, static_cast<size_t>(RecordSize()));
        blobs_[buffer].clear();
    }
    void ClearCalcFields(TRecordBuffer buffer) override {
        std::memset(buffer + CalcOffset(), 0, static_cast<size_t>(CalcFieldsSize()));
    }

    void InternalInitFieldDefs() override {
        Log("InternalInitFieldDefs");
        FieldDefs().Clear();
        for (const TColumn& c : columns) FieldDefs().Add(c.name, c.type, c.size, c.required);
        FieldDefs().SetUpdated(!columns.empty());
    }
    void InternalOpen() override {
        Log("InternalOpen");
        if (failOpen) rtl::DatabaseError("cannot open", this);
        InternalInitFieldDefs();
        if (DefaultFields()) CreateFields();
        BindFields(true);
        SetBookmarkSize(4);
        open_ = true;
    }
    void InternalClose() override {
        Log("InternalClose");
        BindFields(false);
        if (DefaultFields()) DestroyFields();
        open_ = false;
        pos_ = -1;
    }
    bool IsCursorOpen() const override { return open_; }
    void OpenCursor(bool infoQuery) override {
        Log(infoQuery ? "OpenCursor(info)" : "OpenCursor");
        TDataSet::OpenCursor(infoQuery);
    }
    void CloseCursor() override {
        Log("CloseCursor");
        TDataSet::CloseCursor();
    }
    void InternalHandleException() override {}

    void InternalEdit() override { Log("InternalEdit"); }
    void InternalInsert() override { Log("InternalInsert"); }
    void InternalCancel() override { Log("InternalCancel"); }
    void InternalRefresh() override { Log("InternalRefresh"); }
    void InternalPost() override;
    void InternalDelete() override {
        Log("InternalDelete");
        rows.erase(rows.begin() + pos_);
        if (pos_ >= static_cast<int>(rows.size())) pos_ = static_cast<int>(rows.size()) - 1;
    }
    void InternalAddRecord(TRecordBuffer buffer, bool append) override {
        Row r{nextId++, std::vector<uint8_t>(buffer, buffer + RecordSize()), {}};
        if (append)
            rows.push_back(r);
        else
            rows.insert(rows.begin() + std::max(pos_, 0), r);
    }
    bool GetCanModify() const override { return !readOnlyData; }
    int GetRecordCount() const override { return static_cast<int>(rows.size()); }
    int GetRecNo() const override {
        if (IsEmpty() || State() == dsInsert) return 0;
        int32_t id;
        std::memcpy(&id, ActiveBuffer() + InfoOffset(), 4);
        return IndexOfId(id) + 1;
    }
    bool IsSequenced() const override { return true; }

    void DoAfterOpen() override {
        Log("AfterOpen");
        TDataSet::DoAfterOpen();
    }
    void DoBeforeScroll() override {
        Log("BeforeScroll");
        TDataSet::DoBeforeScroll();
    }
    void DoAfterScroll() override {
        Log("AfterScroll");
        TDataSet::DoAfterScroll();
    }

public:
    void DataEvent(TDataEvent event, intptr_t info) override {
        if (event == deParentScroll) Log("ParentScroll");
        TDataSet::DataEvent(event, info);
    }

    // The buffer the current state reads and writes.
    TRecordBuffer StateBuffer() const {
        switch (State()) {
            case dsCalcFields:
                return CalcBuffer();
            case dsBrowse:
            case dsBlockRead:
                return IsEmpty() ? nullptr : ActiveBuffer();
            case dsEdit:
            case dsInsert:
                return ActiveBuffer();
            default:
                return nullptr;
        }
    }

    bool GetFieldData(TField* field, void* buffer) override {
        TRecordBuffer rec = StateBuffer();
        if (!rec) return false;
        if (field->IsBlob()) {
            auto it = blobs_.find(rec);
            return it != blobs_.end() && it->second.count(field->FieldNo()) > 0;
        }
        uint8_t* place;
        if (field->FieldNo() > 0)
            place = rec + ColumnOffset(field->FieldNo());
        else
            place = rec + CalcOffset() + field->Offset();
        if (place[0] == 0) return false;
        if (buffer) std::memcpy(buffer, place + 1, static_cast<size_t>(field->DataSize()));
        return true;
    }
    using TDataSet::GetFieldData;

    void SetFieldData(TField* field, const void* buffer) override {
        if (State() != dsEdit && State() != dsInsert && State() != dsCalcFields)
            rtl::DatabaseError("Dataset not in edit or insert mode", this);
        if (field->FieldNo() > 0 && field->ReadOnly())
            rtl::DatabaseErrorFmt("Field '%s' cannot be modified", {field->DisplayName()}, this);
        TRecordBuffer rec = StateBuffer();
        field->Validate(buffer);
        uint8_t* place = field->FieldNo() > 0 ? rec + ColumnOffset(field->FieldNo())
                                              : rec + CalcOffset() + field->Offset();
        place[0] = buffer ? 1 : 0;
        if (buffer)
            std::memcpy(place + 1, buffer, static_cast<size_t>(field->DataSize()));
        else
            std::memset(place + 1, 0, static_cast<size_t>(field->DataSize()));
        if (State() != dsCalcFields) DataEvent(deFieldChange, reinterpret_cast<intptr_t>(field));
    }
    using TDataSet::SetFieldData;

    rtl::TStream* CreateBlobStream(TField* field, TBlobStreamMode mode) override;

    std::map<TRecordBuffer, std::map<int, std::string>> blobs_;

private:
    int IndexOfId(int32_t id) const {
        for (size_t i = 0; i < rows.size(); ++i)
            if (rows[i].id == id) return static_cast<int>(i);
        return -1;
    }
    int pos_ = -1;
    bool open_ = false;
    friend class TTestBlobStream;
};

// A blob stream over the active buffer's blob; written content lands in the buffer when the
// stream is freed.
class TTestBlobStream : public rtl::TMemoryStream {
public:
    TTestBlobStream(TTestDataSet* ds, TField* field, TBlobStreamMode mode)
        : ds_(ds), field_(field), mode_(mode), buffer_(ds->StateBuffer()) {
        if (mode != bmRead) {
            if (ds->State() != dsEdit && ds->State() != dsInsert)
                rtl::DatabaseError("Dataset not in edit or insert mode", ds);
        }
        if (buffer_ && mode != bmWrite) {
            auto& m = ds->blobs_[buffer_];
            auto it = m.find(field->FieldNo());
            if (it != m.end()) WriteBuffer(it->second.data(), static_cast<int64_t>(it->second.size()));
            Seek(0, rtl::soBeginning);
        }
    }
    ~TTestBlobStream() override {
        if (mode_ != bmRead && buffer_) {
            std::string data(static_cast<const char*>(Memory()), static_cast<size_t>(Size()));
            auto& m = ds_->blobs_[buffer_];
            if (data.empty())
                m.erase(field_->FieldNo());
            else
                m[field_->FieldNo()] = data;
            ds_->DataEvent(deFieldChange, reinterpret_cast<intptr_t>(field_));
        }
    }

private:
    TTestDataSet* ds_;
    TField* field_;
    TBlobStreamMode mode_;
    TRecordBuffer buffer_;
};

inline rtl::TStream* TTestDataSet::CreateBlobStream(TField* field, TBlobStreamMode mode) {
    return new TTestBlobStream(this, field, mode);
}

inline void TTestDataSet::InternalPost() {
    Log("InternalPost");
    TDataSet::InternalPost();
    TRecordBuffer buf = ActiveBuffer();
    Row r{0, std::vector<uint8_t>(buf, buf + RecordSize()), blobs_[buf]};
    if (State() == dsEdit) {
        Row& cur = rows[static_cast<size_t>(pos_)];
        cur.data = r.data;
        cur.blobs = r.blobs;
        return;
    }
    r.id = nextId++;
    TBookmarkFlag flag = GetBookmarkFlag(buf);
    int at = flag == bfEOF ? static_cast<int>(rows.size()) : (flag == bfBOF ? 0 : std::max(pos_, 0));
    rows.insert(rows.begin() + at, r);
    pos_ = at;
}

}  // namespace dbtest
