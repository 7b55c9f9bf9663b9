// Reads the checked-in expectation tables: tab-separated rows, '#' starts a comment line.
#pragma once

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace rtl::testing {

// name is a file of tests/platform/rtl/data, or of the given folder below the source tree.
inline std::vector<std::vector<std::string>> ReadTsv(const std::string& name,
                                                     const std::string& folder = "tests/platform/rtl/data") {
    std::ifstream in(std::string(DX_SOURCE_DIR) + "/" + folder + "/" + name);
    std::vector<std::vector<std::string>> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> cols;
        std::stringstream ss(line);
        std::string col;
        while (std::getline(ss, col, '\t')) cols.push_back(col);
        rows.push_back(cols);
    }
    return rows;
}

}  // namespace rtl::testing
