// Opens damaged archives with the reader: a small valid archive, changed at the places and
// to the values the input names, sometimes cut short.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "zip/ZipWriter.h"

namespace {

struct Base {
    std::string dir;
    std::string bytes;
    Base() {
        std::string templ = (std::filesystem::temp_directory_path() / "fuzzzipXXXXXX").string();
        dir = ::mkdtemp(templ.data());
        std::ofstream(dir + "/a.xml") << "<a>some text some text some text</a>";
        std::ofstream(dir + "/b.txt") << "b";
        zip::TZipWriter w;
        w.SetZipName(dir + "/base.zip");
        w.Password = "pw";
        w.SetZipComment("note");
        w.FilesList = {dir + "/a.xml", dir + "/b.txt"};
        w.Zip();
        std::ifstream in(dir + "/base.zip", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        bytes = s.str();
    }
    ~Base() { std::filesystem::remove_all(dir); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Base base;
    std::string bytes = base.bytes;
    size_t i = 0;
    if (size % 2 == 1 && !bytes.empty()) bytes.resize(data[i++] * bytes.size() / 256);
    for (; i + 1 < size && !bytes.empty(); i += 2)
        bytes[data[i] * 7 % bytes.size()] ^= static_cast<char>(data[i + 1]);
    std::string name = base.dir + "/case.zip";
    std::ofstream(name, std::ios::binary | std::ios::trunc) << bytes;
    for (auto mode : {zip::izAssumeMulti, zip::izAssumeBad}) {
        try {
            zip::TZipReader r;
            r.IncompleteZipMode = mode;
            r.SetZipName(name);
            int n = r.GetCount();
            r.GetZipComment();
            for (int k = 0; k < n; ++k) {
                r.FullName(k);
                r.GetDateTime(k);
                r.GetFileComment(k);
            }
            r.SortFiles(zip::ByName);
            r.SortFiles(zip::ByDate);
        } catch (const rtl::Exception&) {
        }
    }
    return 0;
}
