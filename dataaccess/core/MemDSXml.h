// A dataset written as an XML row set: a schema section that describes each column with the
// "dt:" and "rs:" attributes of its dataset service, then one z:row element per record whose
// attributes are the non-null field values. The namespaces are those of the persisted row-set
// format, so readers of that format take the document as it is.
#pragma once

#include <string>

#include "dataaccess/core/CRXml.h"
#include "dataaccess/core/MemDS.h"

namespace dac {

// Writes the whole dataset from its first record; the current record is kept. Columns whose
// names are no XML names are written under the aliases c0, c1, ... (by field position) with
// their real names in "rs:name".
void SaveDataSetToXML(TMemDataSet& dataSet, XmlWriter& writer);
// The document as UTF-8 text without a byte-order mark.
std::string DataSetToXML(TMemDataSet& dataSet);

}  // namespace dac
