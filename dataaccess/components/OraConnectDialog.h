// The Oracle connect dialog and its server source: the net service names of tnsnames.ora and
// the databases of the stand-in client's home.
#pragma once

#include <string>
#include <vector>

#include "dataaccess/components/DAConnectDialog.h"

namespace dac {

// The net service names a tnsnames.ora text defines, in the order written, each once (names
// compare without regard to case). An entry's names stand at depth 0 before "=", several of
// them separated by commas; comments run from "#" to the end of the line; a line that starts
// in the first column with a name begins a new entry even when the previous one was left open.
// "IFILE = path" entries are returned in ifiles instead of as names.
std::vector<std::string> ParseTnsNames(const std::string& text, std::vector<std::string>* ifiles = nullptr);

// Reads a tnsnames.ora file with the files it includes (each at most once); a missing file
// gives nothing.
std::vector<std::string> ReadTnsNamesFile(const std::string& fileName);

// The tnsnames.ora in use: $TNS_ADMIN/tnsnames.ora, else <home>/network/admin/tnsnames.ora for
// the home $ORACLE_HOME or, without it, the home the client library was loaded from; "" when
// there is no home.
std::string TnsNamesFileName();

class TOraServerEnumerator : public TCRServerEnumerator {
public:
    // The net service names, then the stand-in's databases (<home>/dbs/<name>.db, by name)
    // that are not among them.
    void GetServerList(rtl::TStrings& list) override;
};

class TOraConnectDialog : public TCustomConnectDialog {
public:
    using TCustomConnectDialog::TCustomConnectDialog;
    TCRServerEnumeratorClass GetServerEnumeratorClass() override {
        return TCRServerEnumeratorClass::Of<TOraServerEnumerator>();
    }
};

}  // namespace dac
