// TOraLob and TOraFile on the stand-in: LOB parameters written through temporary LOBs and read
// back from blocks, LOB columns of the record set (cached, uncached, deferred, compressed), CLOB
// text across code pages, BFILEs over real files, and the errors of locators that are not ready.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "OraCommandFixture.h"

using namespace dac;

namespace {

std::string Pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 13 + n) & 0xFF);
    return s;
}

std::string Hex(const std::string& s) {
    static const char* digits = "0123456789ABCDEF";
    std::string h;
    for (unsigned char c : s) h += std::string{digits[c >> 4], digits[c & 15]};
    return h;
}

// The whole content of a blob, read through the blob interface.
std::string Content(TBlob& blob) {
    std::string s(static_cast<size_t>(blob.GetSize()), '\0');
    if (!s.empty()) s.resize(static_cast<size_t>(blob.Read(0, static_cast<int64_t>(s.size()), s.data())));
    return s;
}

int g_existsCalls = 0;
decltype(dac::OCILobFileExists) g_savedExists = nullptr;
sword CountingExists(OCISvcCtx* svc, OCIError* err, OCILobLocator* l, boolean* flag) {
    ++g_existsCalls;
    return g_savedExists(svc, err, l, flag);
}

}  // namespace

class OraLobTest : public OraCommandTest {
protected:
    void SetUp() override {
        OraCommandTest::SetUp();
        dbExec("CREATE TABLE doc(id NUMBER(9,0) PRIMARY KEY, body CLOB, data BLOB, note NCLOB, f BFILE);");
    }

    // A LOB value with the bytes as its client content.
    static TOraLob* NewLob(const std::string& bytes, bool unicode = false) {
        auto* lob = new TOraLob();
        lob->SetIsUnicode(unicode);
        if (!bytes.empty()) lob->Write(0, static_cast<int64_t>(bytes.size()), bytes.data());
        return lob;
    }

    // Inserts row id with the LOB parameter for col, through a temporary LOB.
    void Insert(int id, const char* col, TDataType type, const std::string& bytes, uint8_t compressMode = 0,
                bool unicode = false) {
        auto command = Command(std::string("insert into doc(id, ") + col + ") values (:id, :v)");
        command->SetProp(prTemporaryLobUpdate, true);
        command->SetCompressBlobMode(compressMode);
        command->GetParam(0)->SetValue(int32_t(id));
        TOraParamDesc* v = command->GetParam(1);
        v->SetDataType(type);
        v->SetParamType(ptInput);
        TOraLob* lob = NewLob(bytes, unicode);
        v->SetObject(lob);
        lob->Free();
        command->Execute();
    }

    std::unique_ptr<TOCIRecordSet> RecordSet(const AnsiString& sql) {
        auto rs = std::make_unique<TOCIRecordSet>();
        rs->SetConnection(conn_.get());
        rs->SetSQLText(sql);
        return rs;
    }

    // The value object of field fieldNo in the current record.
    TOraLob* CurrentLob(TOCIRecordSet& rs, int fieldNo) {
        record_.assign(static_cast<size_t>(rs.RecordSize()), 0);
        rs.GetRecord(record_.data());
        return dynamic_cast<TOraLob*>(rs.GetObject(fieldNo, record_.data()));
    }

    std::vector<uint8_t> record_;
};

// ---------------------------------------------------------------------------------------------
// BLOBs end to end

TEST_F(OraLobTest, BlobsWrittenAsParametersReadBackByteForByteCachedAndUncached) {
    struct Case {
        size_t size;
        bool cacheLobs;
    };
    const Case cases[] = {{0, true},  {1, true},  {32 * 1024 + 1, true},
                          {0, false}, {1, false}, {32 * 1024 + 1, false}};
    int id = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + (c.cacheLobs ? " cached" : " uncached"));
        const std::string content = Pattern(c.size);
        Insert(++id, "data", dtOraBlob, content);
        EXPECT_EQ(std::vector<std::string>{Hex(content)},
                  dbTexts("SELECT hex(data) FROM doc WHERE id = " + std::to_string(id)));

        auto rs = RecordSet("select id, data from doc where id = " + std::to_string(id));
        rs->OraCommand()->SetProp(prCacheLobs, c.cacheLobs);
        rs->Open();
        ASSERT_EQ(dtOraBlob, rs->Fields()[1]->DataType);
        rs->GetNextRecord(nullptr);
        ASSERT_FALSE(rs->Eof());
        TOraLob* lob = CurrentLob(*rs, 2);
        ASSERT_NE(nullptr, lob);
        EXPECT_EQ(c.cacheLobs, lob->GetCached());
        // an empty value goes in as NULL, which reads as empty
        EXPECT_EQ(static_cast<int64_t>(c.size), lob->GetSize());
        EXPECT_EQ(content, Content(*lob));
        if (!c.cacheLobs) {
            EXPECT_EQ(nullptr, lob->FirstPiece());  // nothing held on the client
        }
        rs->Close();
    }
}

TEST_F(OraLobTest, FiftyMegabytesGoThroughAndComeBackInPieces) {
    const std::string content = Pattern(50u * 1024 * 1024);
    Insert(1, "data", dtOraBlob, content);
    EXPECT_EQ(std::vector<std::string>{std::to_string(content.size())},
              dbTexts("SELECT length(data) FROM doc WHERE id = 1"));
    auto rs = RecordSet("select data from doc");
    rs->Open();
    rs->GetNextRecord(nullptr);
    TOraLob* lob = CurrentLob(*rs, 1);
    int pieces = 0;
    for (PPieceHeader p = lob->FirstPiece(); p; p = PieceHeader::Next(p)) ++pieces;
    EXPECT_EQ(static_cast<int>((content.size() + DefaultPieceSize - 1) / DefaultPieceSize), pieces);
    EXPECT_TRUE(Content(*lob) == content);
}

TEST_F(OraLobTest, CompressedBlobsAreStoredCompressedOrHeldCompressedAsTheModeSays) {
    const std::string content(20000, 'a');     // compresses well
    Insert(1, "data", dtOraBlob, content, 2);  // 2: compressed on the server
    const std::string stored = dbTexts("SELECT hex(data) FROM doc WHERE id = 1").at(0);
    EXPECT_EQ(Hex(std::string(reinterpret_cast<const char*>(CompressedBlobMark), 16)), stored.substr(0, 32));
    EXPECT_LT(stored.size() / 2, content.size());

    // read back with modes 2 and 3 it is the plain value again, held plain or compressed
    for (uint8_t mode : {2, 3}) {
        auto rs = RecordSet("select data from doc where id = 1");
        rs->OraCommand()->SetCompressBlobMode(mode);
        rs->Open();
        rs->GetNextRecord(nullptr);
        TOraLob* lob = CurrentLob(*rs, 1);
        EXPECT_EQ(mode == 3, lob->IsCompressed()) << int(mode);
        EXPECT_EQ(content, Content(*lob)) << int(mode);
    }

    Insert(2, "data", dtOraBlob, content, 0);
    auto rs = RecordSet("select data from doc where id = 2");
    rs->OraCommand()->SetCompressBlobMode(1);  // 1: held compressed in memory, stored plain
    rs->Open();
    rs->GetNextRecord(nullptr);
    TOraLob* lob = CurrentLob(*rs, 1);
    EXPECT_TRUE(lob->IsCompressed());
    EXPECT_EQ(content, Content(*lob));
    EXPECT_EQ(std::vector<std::string>{Hex(content)}, dbTexts("SELECT hex(data) FROM doc WHERE id = 2"));
}

// ---------------------------------------------------------------------------------------------
// CLOBs and NCLOBs

TEST_F(OraLobTest, CyrillicClobTextRoundTripsInCodePage1251AndAsUtf16) {
    const std::string cp1251 = "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0";  // "Привет, мир"
    const std::u16string wide = u"Привет, мир";
    Insert(1, "body", dtOraClob, cp1251);
    std::string le(reinterpret_cast<const char*>(wide.data()), wide.size() * 2);
    Insert(2, "body", dtOraClob, le, 0, true);  // a Unicode LOB sends UTF-16
    EXPECT_EQ((std::vector<std::string>{"Привет, мир", "Привет, мир"}),
              dbTexts("SELECT body FROM doc ORDER BY id"));

    auto rs = RecordSet("select body from doc order by id");
    rs->Open();
    ASSERT_EQ(dtOraClob, rs->Fields()[0]->DataType);
    for (int row = 0; row < 2; ++row) {
        rs->GetNextRecord(nullptr);
        TOraLob* lob = CurrentLob(*rs, 1);
        rtl::Variant v;
        rs->GetFieldAsVariant(1, record_.data(), v);
        EXPECT_EQ(cp1251, v.AsString());
        EXPECT_EQ(11, lob->GetSize());
    }

    // an uncached UTF-16 output: its unread size is twice its characters
    auto command = Command("begin select body into :b from doc where id = 1; end;");
    TOraParamDesc* b = command->GetParam(0);
    b->SetDataType(dtOraClob);
    b->SetParamType(ptOutput);
    command->SetProp(prCacheLobs, false);
    TOraLob* fresh = NewLob("", true);
    b->SetObject(fresh);
    fresh->Free();
    command->Execute();
    TOraLob* clob = b->GetAsOraLob();
    EXPECT_TRUE(clob->NeedRead());
    EXPECT_EQ(22, clob->GetSize());
    EXPECT_EQ(11, clob->GetSizeAnsi());
    EXPECT_EQ(nullptr, clob->FirstPiece());
    clob->ReadLob();
    EXPECT_EQ(le, Content(*clob));
}

TEST_F(OraLobTest, NullAndEmptyClobsDifferAndNclobColumnsAreNational) {
    dbExec("INSERT INTO doc(id, body, note) VALUES (1, NULL, 'n'), (2, '', 'n');");
    auto rs = RecordSet("select body, note from doc order by id");
    rs->Open();
    EXPECT_EQ(dtNClob, rs->Fields()[1]->SubDataType);
    rs->GetNextRecord(nullptr);
    CurrentLob(*rs, 1);
    EXPECT_TRUE(rs->GetNull(1, record_.data()));
    EXPECT_EQ(2, CurrentLob(*rs, 2)->LobType);
    rs->GetNextRecord(nullptr);
    TOraLob* empty = CurrentLob(*rs, 1);
    // EMPTY_CLOB() is a value: an initialised locator with nothing in it
    EXPECT_TRUE(empty->IsInit());
    EXPECT_EQ(0, empty->LengthLob());
    EXPECT_EQ(0, empty->GetSize());
}

TEST_F(OraLobTest, DeferredLobsReadOnFirstUse) {
    Insert(1, "body", dtOraClob, "deferred text");
    auto rs = RecordSet("select body from doc");
    rs->DeferredLobRead = true;
    rs->Open();
    rs->GetNextRecord(nullptr);
    TOraLob* lob = CurrentLob(*rs, 1);
    EXPECT_TRUE(lob->NeedRead());
    EXPECT_EQ(nullptr, lob->FirstPiece());
    EXPECT_EQ("deferred text", Content(*lob));
    EXPECT_FALSE(lob->NeedRead());
}

TEST_F(OraLobTest, AnOutputLobFromABlockIsReadBackAndANullOneClears) {
    Insert(1, "data", dtOraBlob, "payload");
    dbExec("INSERT INTO doc(id) VALUES (2);");
    struct Case {
        int id;
        std::string content;
        bool isNull;
    };
    for (const Case& c : {Case{1, "payload", false}, Case{2, "", true}}) {
        auto command =
            Command("begin select data into :d from doc where id = " + std::to_string(c.id) + "; end;");
        TOraParamDesc* d = command->GetParam(0);
        d->SetDataType(dtOraBlob);
        d->SetParamType(ptOutput);
        TOraLob* lob = NewLob("old content");
        d->SetObject(lob);
        lob->Free();
        command->Execute();
        TOraLob* got = d->GetAsOraLob();
        EXPECT_EQ(c.content, Content(*got));
        EXPECT_EQ(c.isNull, !got->HasLocator());
    }
}

TEST_F(OraLobTest, WritingALobReplacesTheServerContentWholly) {
    TOraLob lob;
    lob.SetConnection(conn_.get());
    lob.CreateTemporary(0);
    lob.Write(0, 6, "abcdef");
    lob.WriteLob();
    EXPECT_EQ(6, lob.LengthLob());
    lob.Clear();
    lob.Write(0, 2, "xy");
    lob.WriteLob();
    EXPECT_EQ(2, lob.LengthLob());  // no old tail
    lob.ReadLob();
    EXPECT_EQ("xy", Content(lob));
    EXPECT_TRUE(lob.IsTemporary());
}

TEST_F(OraLobTest, ANationalTemporaryComesFromTheServer) {
    TOraLob lob;
    lob.SetConnection(conn_.get());
    lob.CreateTemporary(2);
    EXPECT_TRUE(lob.IsTemporary());
    EXPECT_EQ(2, lob.LobType);
    EXPECT_EQ(2, lob.GetCharsetForm());
    lob.Write(0, 3, "abc");
    lob.WriteLob();
    EXPECT_EQ(3, lob.LengthLob());
    lob.FreeTemporary();
    EXPECT_FALSE(lob.HasLocator());
}

TEST_F(OraLobTest, LocatorsThatAreNotReadyGiveTheirOwnErrors) {
    struct Case {
        const char* expected;
        std::function<void(TOraLob&)> act;
        bool connected;
    };
    const Case cases[] = {
        {"Lob is not allocated", [](TOraLob& l) { l.LengthLob(); }, true},
        {"OCISvcCtx is not defined", [](TOraLob& l) { l.AllocLob(), l.LengthLob(); }, false},
        {"Lob locator should be inited", [](TOraLob& l) { l.AllocLob(), l.WriteLob(); }, true},
    };
    for (const Case& c : cases) {
        TOraLob lob;
        if (c.connected) lob.SetConnection(conn_.get());
        EXPECT_EQ(c.expected, ExceptionText([&] { c.act(lob); }));
    }
    // a locator no value was given to is empty without a server error
    TOraLob unread;
    unread.SetConnection(conn_.get());
    unread.AllocLob();
    EXPECT_FALSE(unread.IsInit());
    EXPECT_EQ(0, unread.LengthLob());
    EXPECT_FALSE(unread.NeedRead());
}

TEST_F(OraLobTest, ALobParameterOfUnknownDirectionIsRefusedAfterTheRun) {
    auto command = Command("begin select data into :d from doc where id = 1; end;");
    dbExec("INSERT INTO doc(id, data) VALUES (1, x'01');");
    TOraParamDesc* d = command->GetParam(0);
    d->SetDataType(dtOraBlob);
    d->SetParamType(ptUnknown);
    EXPECT_EQ("Lob parameter should be Input or Output", ExceptionText([&] { command->Execute(); }));
}

// ---------------------------------------------------------------------------------------------
// BFILEs

TEST_F(OraLobTest, BFilesOfTheRecordSetReadTheFileTheTestMade) {
    const std::string content = Pattern(100000);
    {
        std::ofstream out(dir_ + "/scan.bin", std::ios::binary);
        out << content;
    }
    dbExec("INSERT INTO oci_directory VALUES ('SCANS', '" + dir_ +
           "');"
           "INSERT INTO doc(id, f) VALUES (1, 'SCANS/scan.bin'), (2, 'SCANS/none.bin');");  // as BFILENAME
                                                                                            // keeps them
    auto rs = RecordSet("select f from doc order by id");
    rs->Open();
    ASSERT_EQ(dtBFile, rs->Fields()[0]->DataType);
    rs->GetNextRecord(nullptr);
    auto* file = dynamic_cast<TOraFile*>(CurrentLob(*rs, 1));
    ASSERT_NE(nullptr, file);
    EXPECT_EQ("SCANS", file->GetFileDir());
    EXPECT_EQ("scan.bin", file->GetFileName());
    EXPECT_TRUE(file->GetExists());
    EXPECT_TRUE(Content(*file) == content);
    rs->GetNextRecord(nullptr);
    file = dynamic_cast<TOraFile*>(CurrentLob(*rs, 1));
    EXPECT_FALSE(file->GetExists());
    EXPECT_EQ(0, file->GetSize());
}

TEST_F(OraLobTest, FileNamesAreSetCheckedAndRolledBack) {
    {
        std::ofstream(dir_ + "/One.txt") << "first";
        std::ofstream(dir_ + "/two.txt") << "second!";
    }
    dbExec("INSERT INTO oci_directory VALUES ('DOCS', '" + dir_ + "');");
    TOraFile file;
    file.SetConnection(conn_.get());
    file.AllocLob();
    g_existsCalls = 0;
    {
        EntrySwap<decltype(dac::OCILobFileExists)> swap(dac::OCILobFileExists, CountingExists);
        g_savedExists = swap.Saved();
        EXPECT_FALSE(file.GetExists());  // no name: no server call
        file.SetFileDir("docs");
        EXPECT_FALSE(file.GetExists());
        EXPECT_EQ(0, g_existsCalls);
        file.SetFileName("One.txt");
        EXPECT_EQ("DOCS", file.GetFileDir());  // the alias upper-cased, the name kept
        EXPECT_EQ("One.txt", file.GetFileName());
        EXPECT_TRUE(file.GetExists());
        EXPECT_EQ(1, g_existsCalls);
    }
    file.Refresh();
    EXPECT_EQ("first", Content(file));

    file.EnableRollback();
    file.SetFileName("two.txt");
    file.Refresh();
    EXPECT_EQ("second!", Content(file));
    file.Cancel();
    EXPECT_EQ("One.txt", file.GetFileName());
    EXPECT_EQ("first", Content(file));

    // an alias without a folder, or no alias at all, is a file that is not there
    file.SetFileDir("NOWHERE");
    EXPECT_FALSE(file.GetExists());
}

TEST_F(OraLobTest, ClientsBefore10ReadWithTheOldCallAndBefore81MakeNoTemporaries) {
    const std::string content = Pattern(3 * DefaultPieceSize + 5);
    Insert(1, "data", dtOraBlob, content);
    const uint16_t version = OCIVersion;
    struct Case {
        uint16_t version;
        bool cached;
    };
    for (const Case& c : {Case{9200, true}, Case{9200, false}, Case{version, true}, Case{version, false}}) {
        SCOPED_TRACE(std::to_string(c.version) + (c.cached ? " cached" : " uncached"));
        OCIVersion = c.version;
        auto rs = RecordSet("select data from doc");
        rs->OraCommand()->SetProp(prCacheLobs, c.cached);
        rs->Open();
        rs->GetNextRecord(nullptr);
        EXPECT_TRUE(Content(*CurrentLob(*rs, 1)) == content);
        rs->Close();
    }
    OCIVersion = 8050;
    TOraLob lob;
    lob.SetConnection(conn_.get());
    EXPECT_EQ("Need Oracle 8i Call Interface", ExceptionText([&] { lob.CreateTemporary(0); }));
    OCIVersion = version;
}
