// Extracts damaged archives with the engine: one of a few small valid archives (every
// method, encrypted or not), changed at the places and to the values the input names,
// sometimes cut short. Nothing may crash, leak, hang or land outside the destination, and
// nothing may be written through the links that wait in the destination under the names the
// archives use.
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

const char* const kVictim = "victim";

// Links under the archives' names, to a folder and a file outside the destination.
void PlaceLinks(const std::string& dir, const std::string& out) {
    namespace fs = std::filesystem;
    fs::create_directories(dir + "/outside");
    ziptest::WriteBytes(dir + "/outside/victim.txt", kVictim);
    fs::create_directories(out);
    fs::create_directory_symlink(dir + "/outside", out + "/d");
    for (const char* name : {"a.xml", "e.xml", "s.txt", "first.txt", "FIRST.TXT", "I.BIN"})
        fs::create_symlink(dir + "/outside/victim.txt", out + "/" + name);
}

bool OutsideUntouched(const std::string& dir) {
    int count = 0;
    for (auto& p : std::filesystem::directory_iterator(dir + "/outside")) {
        (void)p;
        ++count;
    }
    return count == 1 && ziptest::ReadBytes(dir + "/outside/victim.txt") == kVictim;
}

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
    PlaceLinks(base.dir, out);
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
    // Anything written must stay below the destination, and go through no link.
    if (!OutsideUntouched(base.dir)) __builtin_trap();
    for (auto& p : std::filesystem::directory_iterator(base.dir))
        if (p.path().filename() != "case.zip" && p.path().filename() != "out" &&
            p.path().filename() != "outside")
            __builtin_trap();
    if (std::filesystem::exists(base.dir + "/out"))
        for (auto& p : std::filesystem::directory_iterator(base.dir + "/out"))
            if (p.path().filename() != "x") __builtin_trap();
    std::filesystem::remove_all(base.dir + "/out");
    return 0;
}
