// LOB values written through the client, checked with the sqlite3 tool on the stand-in's database
// file: the tool writes each stored value out to a file of its own, which must equal what the
// client sent byte for byte; the client reads back what the tool wrote in.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "OraCommandFixture.h"
#include "tests/common/TestShell.h"

using namespace dac;

namespace {

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 31 + 7) & 0xFF);
    return s;
}

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Sqlite3(const std::string& db, const std::string& sql) {
    std::string out;
    testshell::RunCommand("sqlite3 -batch " + testshell::ShellQuote(db) + " " + testshell::ShellQuote(sql),
                          &out);
    return out;
}

}  // namespace

TEST_F(OraCommandTest, LobsWrittenByTheClientAreTheBytesTheSqlite3ToolFinds) {
    dbExec("CREATE TABLE doc(id NUMBER(9,0) PRIMARY KEY, body CLOB, data BLOB);");
    const std::string cp1251 = "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0";  // "Привет, мир"
    struct Case {
        int id;
        const char* column;
        TDataType type;
        std::string content;  // what the client sends
        std::string stored;   // what the file must hold
    };
    const Case cases[] = {
        {1, "data", dtOraBlob, Pattern(1), Pattern(1)},
        {2, "data", dtOraBlob, Pattern(32 * 1024 + 1), Pattern(32 * 1024 + 1)},
        {3, "body", dtOraClob, cp1251, "Привет, мир"},  // the database keeps UTF-8
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        auto command = Command(std::string("insert into doc(id, ") + c.column + ") values (:id, :v)");
        command->SetProp(prTemporaryLobUpdate, true);
        command->GetParam(0)->SetValue(int32_t(c.id));
        TOraParamDesc* v = command->GetParam(1);
        v->SetDataType(c.type);
        v->SetParamType(ptInput);
        auto* lob = new TOraLob();
        lob->Write(0, static_cast<int64_t>(c.content.size()), c.content.data());
        v->SetObject(lob);
        lob->Free();
        command->Execute();

        const std::string out = dir_ + "/out" + std::to_string(c.id);
        Sqlite3(db_, "SELECT writefile('" + out + "', " + c.column +
                         ") FROM doc WHERE id = " + std::to_string(c.id));
        EXPECT_TRUE(FileBytes(out) == c.stored) << FileBytes(out).size() << " bytes";
    }

    // the other way: a value the tool reads in from a file comes out of the client unchanged
    const std::string in = dir_ + "/in.bin";
    const std::string content = Pattern(70001);
    std::ofstream(in, std::ios::binary) << content;
    Sqlite3(db_, "UPDATE doc SET data = readfile('" + in + "') WHERE id = 1");
    auto rs = std::make_unique<TOCIRecordSet>();
    rs->SetConnection(conn_.get());
    rs->SetSQLText("select data from doc where id = 1");
    rs->Open();
    rs->GetNextRecord(nullptr);
    std::vector<uint8_t> rec(static_cast<size_t>(rs->RecordSize()));
    rs->GetRecord(rec.data());
    auto* lob = dynamic_cast<TOraLob*>(rs->GetObject(1, rec.data()));
    ASSERT_NE(nullptr, lob);
    std::string got(static_cast<size_t>(lob->GetSize()), '\0');
    lob->Read(0, static_cast<int64_t>(got.size()), got.data());
    EXPECT_TRUE(got == content);
}
