// The export's folders: temporaries that an interrupted move or save left behind.
#pragma once

#include <string>
#include <vector>

#include "common/uLogEvent.h"

namespace svc {

// Removes, in each folder, the hidden temporaries the service writes on its way to a package
// file (".<name>.tmpXXXXXX" of a move or copy across file systems, ".<name>.XXXXXX" of a
// document save) whose name is one of the service's own: a data file or archive
// "ZuvQelExport_..." or the order list "XmlOrderList.xml". Other files are never touched. Each
// removal is journalled; a folder that does not exist is skipped.
void RemoveInterruptedTemporaries(const std::vector<std::string>& folders, const TLogEvent& onLog);

// True for such a temporary's file name (without folder).
bool IsInterruptedTemporary(const std::string& name);

}  // namespace svc
