// Every record of a record storage as text, for tests that compare whole answers.
#pragma once

#include <string>
#include <vector>

#include "dataaccess/core/MemData.h"

namespace dac::test {

using TextRows = std::vector<std::vector<std::string>>;

// From the first record to the last; NULL reads as "<null>".
inline TextRows DataRows(TData& data) {
    TextRows rows;
    void* buf = data.AllocRecBuf();
    data.SetToBegin();
    for (;;) {
        data.GetNextRecord(buf);
        if (data.Eof()) break;
        std::vector<std::string> row;
        for (int i = 1; i <= data.Fields().Count(); ++i) {
            rtl::Variant v;
            data.GetFieldAsVariant(i, buf, v);
            row.push_back(v.IsNull() || v.IsEmpty() ? "<null>" : v.AsString());
        }
        rows.push_back(row);
    }
    data.FreeRecBuf(buf);
    data.SetToBegin();
    return rows;
}

// The field names of the storage, in order.
inline std::vector<std::string> FieldNames(const TData& data) {
    std::vector<std::string> names;
    for (int i = 0; i < data.Fields().Count(); ++i) names.push_back(data.Fields()[i]->Name);
    return names;
}

}  // namespace dac::test
