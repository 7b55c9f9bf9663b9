// The temporaries an interrupted move or save leaves: only the service's own are recognised and
// removed, each with a journal line.
#include "export_service/uExportFolders.h"

#include <gtest/gtest.h>

#include "tests/export_service/ExportFixture.h"

using namespace exptest;

TEST(ExportFolders, TheServicesOwnTemporariesAreRecognised) {
    struct Case {
        const char* name;
        bool ours;
    };
    const Case cases[] = {
        {".ZuvQelExport_0000703_20261210101500123.zip.tmpAb12Cd",
         true},                                                        // a move or copy across file systems
        {".ZuvQelExport_0000703_20261210101500123.xml.Xy9Zq0", true},  // a document save
        {".XmlOrderList.xml.Xy9Zq0", true},
        {".XmlOrderList.xml.tmpXy9Zq0", true},
        {"ZuvQelExport_0000703_20261210101500123.zip", false},  // a package itself
        {".ZuvQelExport_0000703_20261210101500123.zip", false},
        {".ZuvQelExport_0000703.zip.tmpAb12C", false},  // five characters
        {".ZuvQelExport_0000703.zip.tmpAb!2Cd", false},
        {".somebody_elses.zip.tmpAb12Cd", false},
        {".XmlOrderList.xml", false},
        {".XmlOrderList.xmlAb12Cd", false},
        {".", false},
        {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(svc::IsInterruptedTemporary(c.name), c.ours) << c.name;
}

TEST(ExportFolders, LeftoversAreRemovedAndEverythingElseStays) {
    TTempDir dir;
    fs::create_directories(dir / "work/Back");
    for (const char* name :
         {"work/.ZuvQelExport_0000703_1.zip.tmpAb12Cd", "work/Back/.XmlOrderList.xml.Qq11Ww",
          "work/ZuvQelExport_0000703_1.zip", "work/.foreign.tmpAb12Cd", "work/Back/notes.txt"})
        std::ofstream(dir / name) << "x";
    std::vector<std::string> lines;
    svc::RemoveInterruptedTemporaries({dir / "work", dir / "work/Back", dir / "missing"},
                                      [&](const std::string& text, bool important) {
                                          EXPECT_TRUE(important);
                                          lines.push_back(text);
                                      });
    EXPECT_EQ(Files(dir / "work"),
              (std::vector<std::string>{".foreign.tmpAb12Cd", "ZuvQelExport_0000703_1.zip"}));
    EXPECT_EQ(Files(dir / "work/Back"), std::vector<std::string>{"notes.txt"});
    EXPECT_EQ(lines,
              (std::vector<std::string>{
                  "Leftover temporary " + (dir / "work/.ZuvQelExport_0000703_1.zip.tmpAb12Cd") + " removed",
                  "Leftover temporary " + (dir / "work/Back/.XmlOrderList.xml.Qq11Ww") + " removed"}));
}
