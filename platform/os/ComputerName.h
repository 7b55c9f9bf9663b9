// The computer name: the host name the system reports, up to its first dot. Compared as it
// stands with the configured service computer (a Windows machine gave its NetBIOS name in upper
// case; here the name keeps the case of the host name).
#pragma once

#include <string>

namespace os {

// False (name empty) when the system call fails.
bool GetComputerName(std::string& name);

}  // namespace os
