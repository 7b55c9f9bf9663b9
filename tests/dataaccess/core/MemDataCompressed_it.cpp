// Compressed blob values against Python's zlib.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "dataaccess/core/MemData.h"

namespace dac {
namespace {

std::string TempPath(const std::string& name) {
    return std::string(DX_BINARY_DIR) + "/memdata_it_" + name;
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream f(path, std::ios::binary);
    f.write(data.data(), static_cast<std::streamsize>(data.size()));
}

// ctest runs each case in its own process, in parallel: every case writes its own script.
int RunPython(const std::string& script) {
    const std::string path =
        TempPath(std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".py");
    WriteFile(path, script);
    return std::system(("python3 " + path).c_str());
}

std::string Sample() {
    std::string s;
    for (int i = 0; i < 400; ++i) s += "line " + std::to_string(i % 17) + "\r\n";
    return s;
}

TEST(MemDataCompressedPython, StoredValueDecompressesWithPythonZlib) {
    const std::string value = Sample();
    TCompressedBlob* blob = new TCompressedBlob();
    blob->SetAsString(value);
    blob->SetCompressed(true);
    ASSERT_TRUE(blob->IsCompressed());
    PPieceHeader p = blob->FirstPiece();
    WriteFile(TempPath("stored.bin"),
              std::string(reinterpret_cast<char*>(PieceData(p)), PieceHeader::Used(p)));
    WriteFile(TempPath("plain.bin"), value);
    blob->Free();
    const int rc = RunPython(
        "import sys, struct, uuid, zlib\n"
        "stored = open('" +
        TempPath("stored.bin") +
        "', 'rb').read()\n"
        "plain = open('" +
        TempPath("plain.bin") +
        "', 'rb').read()\n"
        "mark = uuid.UUID('{F19D8C39-5558-3849-A652-87CEE0C6DA7E}').bytes_le\n"
        "ok = stored[:16] == mark and struct.unpack('<I', stored[16:20])[0] == len(plain)\n"
        "ok = ok and zlib.decompress(stored[20:]) == plain\n"
        "sys.exit(0 if ok else 1)\n");
    EXPECT_EQ(rc, 0);
}

TEST(MemDataCompressedPython, PythonCompressedValueReadsBack) {
    const std::string value = Sample();
    WriteFile(TempPath("plain2.bin"), value);
    ASSERT_EQ(RunPython("import struct, uuid, zlib\n"
                        "plain = open('" +
                        TempPath("plain2.bin") +
                        "', 'rb').read()\n"
                        "mark = uuid.UUID('{F19D8C39-5558-3849-A652-87CEE0C6DA7E}').bytes_le\n"
                        "open('" +
                        TempPath("made.bin") +
                        "', 'wb').write(mark + struct.pack('<I', len(plain)) + "
                        "zlib.compress(plain, 9))\n"),
              0);
    const std::string made = ReadFile(TempPath("made.bin"));
    ASSERT_GT(made.size(), 20u);

    // The value as a stored one: written whole over a compressed value of the same size.
    TCompressedBlob* blob = new TCompressedBlob();
    TCompressedBlobData& data = *static_cast<TCompressedBlobData*>(blob->GetData());
    std::vector<char> out(value.size());
    int64_t length = static_cast<int64_t>(value.size());
    PPieceHeader piece;
    TCRBlobData::AllocPiece(piece, static_cast<int64_t>(made.size()));
    std::memcpy(PieceData(piece), made.data(), made.size());
    PieceHeader::SetUsed(piece, static_cast<uint32_t>(made.size()));
    data.AppendPiece(piece);
    data.Uncompress(out.data(), length);
    EXPECT_EQ(length, static_cast<int64_t>(value.size()));
    EXPECT_EQ(std::string(out.data(), out.size()), value);
    blob->Free();
}

}  // namespace
}  // namespace dac
