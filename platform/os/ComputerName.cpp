// The computer name from gethostname.
#include "platform/os/ComputerName.h"

#include <unistd.h>

namespace os {

bool GetComputerName(std::string& name) {
    name.clear();
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0) return false;
    name = buffer;
    name = name.substr(0, name.find('.'));
    return true;
}

}  // namespace os
