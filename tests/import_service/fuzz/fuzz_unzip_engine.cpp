// Extracts damaged archives with the engine: one of a few small valid archives (every
// method, encrypted or not), changed at the places and to the values the input names,
// sometimes cut short. Nothing may crash, leak, hang or land outside the destination.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "cmake/FuzzSeed.h"
#include "import_service/ZipReaderUnZip.h"
#include "tests/import_service/ZipBuild.h"

namespace {

struct Base {
    std::string dir;
    std::vector<std::string> archives;
    Base() {
        std::string templ = (std::filesystem::temp_directory_path() / "fuzzunzipXXXXXX").string();
        dir = ::mkdtemp(templ.data());
        std::string text;
        for (int i = 0; i < 40; ++i) text += "<item n=\"" + std::to_string(i) + "\">text</item>\n";
        using ziptest::TEntrySpec;
        archives.push_back(ziptest::BuildZip({{.name = "a.xml", .data = text},
                                              {.name = "d/b.txt", .data = "bb", .method = 0},
                                              {.name = "d/", .data = "", .method = 0}}));
        archives.push_back(
            ziptest::BuildZip({{.name = "e.xml", .data = text, .password = "pw", .descriptor = true},
                               {.name = "s.txt", .data = text, .method = 0, .password = "pw"}}));
        for (const char* name : {"shrink.zip", "reduce.zip", "implode.zip", "implode_small.zip"})
            archives.push_back(fuzzseed::Read(fuzzseed::DataDir() + "/zip-legacy/" + name));
    }
    ~Base() { std::filesystem::remove_all(dir); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Base base;
    if (size == 0) return 0;
    std::string bytes = base.archives[data[0] % base.archives.size()];
    size_t i = 1;
    if (size % 2 == 0 && i < size) bytes.resize(data[i++] * bytes.size() / 256);
    for (; i + 1 < size && !bytes.empty(); i += 2)
        bytes[data[i] * 7 % bytes.size()] ^= static_cast<char>(data[i + 1]);
    const std::string name = base.dir + "/case.zip";
    const std::string out = base.dir + "/out/x";
    ziptest::WriteBytes(name, bytes);
    try {
        svc::TUnZipReader r;
        r.SetZipName(name);
        r.SetDestDir(out);
        r.Password = "pw";
        r.DoAll = true;
        r.RecreateDirs = true;
        r.OverwriteMode = zip::Always;
        r.IncompleteZipMode = zip::izAssumeBad;
        r.UnZip();
    } catch (const rtl::Exception&) {
    }
    // Anything written must stay below the destination.
    for (auto& p : std::filesystem::directory_iterator(base.dir))
        if (p.path().filename() != "case.zip" && p.path().filename() != "out") __builtin_trap();
    if (std::filesystem::exists(base.dir + "/out"))
        for (auto& p : std::filesystem::directory_iterator(base.dir + "/out"))
            if (p.path().filename() != "x") __builtin_trap();
    std::filesystem::remove_all(base.dir + "/out");
    return 0;
}
