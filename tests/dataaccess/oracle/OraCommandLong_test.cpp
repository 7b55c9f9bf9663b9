// LONG and LONG RAW values in pieces, both ways: binds through the dynamic callbacks and through
// the need-data loop, columns through dynamic defines, compared byte for byte with what the
// stand-in's database file holds.
#include <gtest/gtest.h>

#include <random>

#include "OraCommandFixture.h"
#include "platform/rtl/Strings.h"

using namespace dac;

namespace {

std::string Pattern(size_t size, unsigned seed, bool text) {
    std::mt19937 random(seed);
    std::string s(size, '\0');
    const std::string letters = rtl::Utf8ToAnsi("abcdefghijklmnopqrstuvwxyz АБВГДЕЖЗ эюя\r\n");
    for (char& c : s) c = text ? letters[random() % letters.size()] : static_cast<char>(random() & 0xFF);
    return s;
}

TBlob* NewBlob(const std::string& bytes, int32_t pieceSize = 0) {
    auto* blob = new TBlob();
    if (pieceSize > 0) blob->GetData()->SetPieceSize(pieceSize);
    blob->Write(0, static_cast<int64_t>(bytes.size()), bytes.data());
    return blob;
}

std::string BlobBytes(TBlob* blob) {
    std::string out(static_cast<size_t>(blob->GetSize()), '\0');
    blob->Read(0, 0, out.data());
    return out;
}

// A column fetched through OCIDefineDynamic, piece by piece into a string per row.
struct LongColumn {
    std::vector<std::string> rows;
    std::vector<size_t> pieceSizes;
    char piece[7000];
    ub4 length = 0;
    int16_t indicator = 0;
    std::vector<bool> nulls;

    static sb4 Callback(void* context, OCIDefine*, ub4 row, void** buffer, ub4** length, ub1* piece,
                        void** indicator, ub2** returnCode) {
        auto* self = static_cast<LongColumn*>(context);
        if (self->rows.size() <= row) {
            self->rows.resize(row + 1);
            self->nulls.resize(row + 1);
        }
        // What the previous call received is in the buffer now.
        if (self->open) self->Take(self->current);
        self->current = row;
        self->length = sizeof self->piece;
        *buffer = self->piece;
        *length = &self->length;
        *indicator = &self->indicator;
        *returnCode = nullptr;
        *piece = OCI_NEXT_PIECE;
        self->open = true;
        return OCI_CONTINUE;
    }
    void Take(ub4 row) {
        rows[row].append(piece, length);
        pieceSizes.push_back(length);
        nulls[row] = indicator == -1;
        open = false;
    }
    // The last piece of the last row arrives after the last call.
    void Finish() {
        if (open) Take(current);
    }
    ub4 current = 0;
    bool open = false;
};

}  // namespace

class OraLongTest : public OraCommandTest {
protected:
    void SetUp() override {
        OraCommandTest::SetUp();
        dbExec(
            "CREATE TABLE doc(id NUMBER(9,0) PRIMARY KEY, body LONG);"
            "CREATE TABLE bin(id NUMBER(9,0) PRIMARY KEY, body LONG RAW);"
            "INSERT INTO oci_procedure(package, name, kind, body) VALUES "
            "('', 'get_doc', 'PROCEDURE', 'SELECT body AS P_BODY FROM doc WHERE id = :P_ID'),"
            "('', 'put_doc', 'PROCEDURE', 'INSERT INTO doc VALUES (:P_ID, :P_BODY)');"
            "INSERT INTO oci_argument(package, name, position, argument, data_type, direction) VALUES "
            "('', 'get_doc', 1, 'P_ID', 'NUMBER', 'IN'), ('', 'get_doc', 2, 'P_BODY', 'LONG', 'OUT'),"
            "('', 'put_doc', 1, 'P_ID', 'NUMBER', 'IN'), ('', 'put_doc', 2, 'P_BODY', 'LONG', 'IN');");
    }

    void Insert(const char* table, int id, const std::string& bytes, TDataType type, int32_t pieceSize = 0) {
        auto command = Command(std::string("insert into ") + table + " values (:id, :body)");
        command->GetParam(0)->SetValue(int32_t(id));
        TOraParamDesc* body = command->GetParam(1);
        body->SetDataType(type);
        body->SetParamType(ptInput);
        TBlob* blob = NewBlob(bytes, pieceSize);
        body->SetObject(blob);
        blob->Free();
        command->Execute();
    }

    // Every body of a table in id order, fetched through a dynamic define.
    std::vector<std::string> FetchBodies(const char* table, LongColumn& column) {
        auto command = Command(std::string("select body from ") + table + " order by id");
        command->Prepare();
        command->BindParams();
        command->Exec();
        TOCIFieldDesc field;
        EXPECT_TRUE(command->DescribeField(1, field, true, true));
        command->DefineDynamic(field, &column, &LongColumn::Callback, 0);
        while (command->GetCursorState() != csFetched) command->Fetch(10);
        column.Finish();
        return column.rows;
    }

    // The database file's own view of a body: its bytes as SQLite keeps them.
    std::string Stored(const char* table, int id) {
        auto hex = dbTexts(std::string("SELECT hex(CAST(body AS BLOB)) FROM ") + table +
                           " WHERE id = " + std::to_string(id));
        std::string bytes;
        if (hex.empty()) return "<no row>";
        for (size_t k = 0; k + 1 < hex[0].size(); k += 2)
            bytes += static_cast<char>(std::stoi(hex[0].substr(k, 2), nullptr, 16));
        return bytes;
    }
};

TEST_F(OraLongTest, LongValuesOfEverySizeGoInPiecesAndComeBackTheSame) {
    const std::vector<size_t> sizes{0, 1, 32 * 1024, 3 * 1024 * 1024 + 17};
    for (size_t k = 0; k < sizes.size(); ++k) {
        Insert("doc", static_cast<int>(k), Pattern(sizes[k], static_cast<unsigned>(k), true), dtMemo);
        Insert("bin", static_cast<int>(k), Pattern(sizes[k], static_cast<unsigned>(k + 10), false), dtBlob);
    }
    LongColumn text, bytes;
    const auto texts = FetchBodies("doc", text);
    const auto raws = FetchBodies("bin", bytes);
    ASSERT_EQ(sizes.size(), texts.size());
    ASSERT_EQ(sizes.size(), raws.size());
    for (size_t k = 0; k < sizes.size(); ++k) {
        const std::string expectedText = Pattern(sizes[k], static_cast<unsigned>(k), true);
        const std::string expectedBytes = Pattern(sizes[k], static_cast<unsigned>(k + 10), false);
        EXPECT_TRUE(texts[k] == expectedText) << "LONG of " << sizes[k] << " bytes";
        EXPECT_TRUE(raws[k] == expectedBytes) << "LONG RAW of " << sizes[k] << " bytes";
        // The server keeps text in UTF-8 and bytes as they are.
        EXPECT_TRUE(Stored("doc", static_cast<int>(k)) == (sizes[k] ? rtl::AnsiToUtf8(expectedText) : ""));
        EXPECT_TRUE(Stored("bin", static_cast<int>(k)) == expectedBytes);
    }
    // An empty LONG is NULL; the others came in pieces no larger than the define's buffer.
    EXPECT_TRUE(text.nulls[0]);
    EXPECT_FALSE(text.nulls[1]);
    EXPECT_LE(*std::max_element(text.pieceSizes.begin(), text.pieceSizes.end()), sizeof text.piece);
    EXPECT_GT(bytes.pieceSizes.size(), 3 * 1024 * 1024 / sizeof bytes.piece);
}

TEST_F(OraLongTest, ALongOutputArrivesInPiecesOfTheBlobsPieceSize) {
    const std::string value = Pattern(200000, 7, true);
    Insert("doc", 1, value, dtMemo);
    dbExec("INSERT INTO doc VALUES (2, NULL);");
    auto command = Command("");
    AnsiString sql;
    command->CreateProcCall("GET_DOC", true, sql);
    ASSERT_EQ(dtMemo, command->GetParam(1)->GetDataType());
    command->GetParam(0)->SetValue(int32_t(1));
    command->Execute();
    TBlob* blob = command->GetParam(1)->GetAsBlob();
    ASSERT_NE(nullptr, blob);
    EXPECT_TRUE(BlobBytes(blob) == value);
    int pieces = 0;
    for (PPieceHeader p = blob->FirstPiece(); p; p = PieceHeader::Next(p)) {
        ++pieces;
        if (PieceHeader::Next(p) && PieceHeader::Used(p) > 0) {
            EXPECT_EQ(static_cast<uint32_t>(blob->GetPieceSize()), PieceHeader::Used(p));
        }
    }
    EXPECT_GE(pieces, 3);
    // A NULL leaves an empty blob and a null parameter.
    command->GetParam(0)->SetValue(int32_t(2));
    command->Execute();
    EXPECT_EQ(0, command->GetParam(1)->GetAsBlob()->GetSize());
    EXPECT_TRUE(command->GetParam(1)->GetNull());
}

TEST_F(OraLongTest, TheInCallbackHandsOverFirstNextAndLastPieces) {
    TOCICommand command;
    auto* param = static_cast<TOraParamDesc*>(command.AddParam());
    param->SetName("BODY");
    param->SetDataType(dtMemo);
    TBlob* blob = NewBlob("abcdefghijklmnopqrstuvwxy", 10);  // three pieces: 10, 10, 5
    param->SetObject(blob);
    blob->Free();
    param->SetNull(false);
    OCIBind* fakeBind = reinterpret_cast<OCIBind*>(param);  // any address the parameter owns
    param->SetBindHandle(fakeBind, 1);
    // The client library asks with the first piece code, then with the next one, as long as the
    // answer is not the last piece.
    std::vector<std::pair<int, std::string>> received;
    for (ub1 asked = OCI_FIRST_PIECE; received.size() < 10; asked = OCI_NEXT_PIECE) {
        void* buffer = nullptr;
        ub4 length = 0;
        void* indicator = nullptr;
        ub1 piece = asked;
        ASSERT_EQ(OCI_CONTINUE,
                  InBindCallback(&command, fakeBind, 0, 0, &buffer, &length, &piece, &indicator));
        received.emplace_back(piece, std::string(static_cast<char*>(buffer), length));
        if (piece == OCI_LAST_PIECE) break;
    }
    EXPECT_EQ(
        (std::vector<std::pair<int, std::string>>{
            {OCI_FIRST_PIECE, "abcdefghij"}, {OCI_NEXT_PIECE, "klmnopqrst"}, {OCI_LAST_PIECE, "uvwxy"}}),
        received);
    // An empty value is one last piece without data.
    param->GetAsBlob()->Clear();
    void* buffer = param;
    ub4 length = 99;
    void* indicator = param;
    ub1 piece = OCI_FIRST_PIECE;
    InBindCallback(&command, fakeBind, 0, 0, &buffer, &length, &piece, &indicator);
    EXPECT_EQ(nullptr, buffer);
    EXPECT_EQ(0u, length);
    EXPECT_EQ(nullptr, indicator);
    EXPECT_EQ(OCI_LAST_PIECE, piece);
    // A bind no parameter owns fails the callback instead of escaping into the client library.
    piece = OCI_FIRST_PIECE;
    EXPECT_NE(OCI_CONTINUE, InBindCallback(&command, reinterpret_cast<OCIBind*>(&command), 0, 0, &buffer,
                                           &length, &piece, &indicator));
    // The command raises it once the client library's call is over, and only once.
    EXPECT_THROW(command.RaiseCallbackError(), rtl::EAssertionFailed);
    EXPECT_NO_THROW(command.RaiseCallbackError());
}

// ---- the need-data loop

namespace {

decltype(dac::OCIStmtSetPieceInfo) realSetPieceInfo = nullptr;
std::vector<std::pair<int, ub4>>* setPieces = nullptr;

sword SpySetPieceInfo(void* handle, ub4 type, OCIError* err, const void* buffer, ub4* length, ub1 piece,
                      const void* indicator, ub2* returnCode) {
    setPieces->emplace_back(piece, *length);
    return realSetPieceInfo(handle, type, err, buffer, length, piece, indicator, returnCode);
}

sword NoDynamicBind(OCIBind*, OCIError*, void*, OCICallbackInBind, void*, OCICallbackOutBind) {
    return OCI_SUCCESS;  // the binds stay without callbacks: the server asks through the loop
}

}  // namespace

TEST_F(OraLongTest, WithoutCallbacksTheNeedDataLoopMovesThePieces) {
    std::vector<std::pair<int, ub4>> pieces;
    setPieces = &pieces;
    EntrySwap<decltype(dac::OCIBindDynamic)> noCallbacks(dac::OCIBindDynamic, &NoDynamicBind);
    EntrySwap<decltype(dac::OCIStmtSetPieceInfo)> spy(dac::OCIStmtSetPieceInfo, &SpySetPieceInfo);
    realSetPieceInfo = spy.Saved();

    // In: three pieces, first, next and last.
    Insert("doc", 1, "abcdefghijklmnopqrstuvwxy", dtMemo, 10);
    EXPECT_EQ(
        (std::vector<std::pair<int, ub4>>{{OCI_FIRST_PIECE, 10}, {OCI_NEXT_PIECE, 10}, {OCI_LAST_PIECE, 5}}),
        pieces);
    EXPECT_EQ("abcdefghijklmnopqrstuvwxy", Stored("doc", 1));
    // An empty value: one last piece of length 0.
    pieces.clear();
    Insert("doc", 2, "", dtMemo);
    EXPECT_EQ((std::vector<std::pair<int, ub4>>{{OCI_LAST_PIECE, 0}}), pieces);
    EXPECT_EQ((std::vector<std::string>{"1"}),
              dbTexts("SELECT count(*) FROM doc WHERE id = 2 AND body IS NULL"));

    // Out: pieces of the blob's piece size until the value is there.
    const std::string big = Pattern(150000, 3, true);
    Insert("doc", 3, big, dtMemo);
    auto command = Command("");
    AnsiString sql;
    command->CreateProcCall("GET_DOC", true, sql);
    command->GetParam(0)->SetValue(int32_t(3));
    pieces.clear();
    command->Execute();
    EXPECT_TRUE(BlobBytes(command->GetParam(1)->GetAsBlob()) == big);
    // The server asks for the output's input value first (an empty last piece), then hands over
    // the value into buffers of the blob's piece size.
    ASSERT_GE(pieces.size(), 4u);
    EXPECT_EQ(std::make_pair(int(OCI_LAST_PIECE), ub4(0)), pieces[0]);
    const ub4 pieceSize = static_cast<ub4>(command->GetParam(1)->GetAsBlob()->GetPieceSize());
    EXPECT_EQ(std::make_pair(int(OCI_FIRST_PIECE), pieceSize), pieces[1]);
    EXPECT_EQ(std::make_pair(int(OCI_NEXT_PIECE), pieceSize), pieces[2]);
    // A procedure taking a LONG input through the loop.
    auto put = Command("");
    put->CreateProcCall("PUT_DOC", true, sql);
    put->GetParam(0)->SetValue(int32_t(4));
    TBlob* blob = NewBlob(big);
    put->GetParam(1)->SetObject(blob);
    blob->Free();
    put->Execute();
    EXPECT_TRUE(Stored("doc", 4) == rtl::AnsiToUtf8(big));
}

TEST_F(OraLongTest, ARowByRowFetchTakesTheLongInPiecesThroughTheLoop) {
    const std::string big = Pattern(25000, 5, false);
    Insert("bin", 1, big, dtBlob);
    dbExec("INSERT INTO bin VALUES (2, NULL);");
    auto command = Command("select body from bin order by id");
    command->Prepare();
    command->BindParams();
    command->Exec();
    TOCIFieldDesc field;
    ASSERT_TRUE(command->DescribeField(1, field, true, true));
    EXPECT_EQ(dtBlob, field.DataType);
    int16_t indicator = 0;
    command->DefinePieceData(field, nullptr, &indicator);
    std::vector<std::string> rows;
    std::vector<int> pieceCodes;
    for (sword status = command->FetchPiece(); status != OCI_NO_DATA; status = command->FetchPiece()) {
        std::string value;
        char buffer[10000];
        while (status == OCI_NEED_DATA) {
            void* handle = nullptr;
            ub4 type = 0, iteration = 0, index = 0;
            ub1 inOut = 0, piece = 0;
            command->GetPieceInfo(handle, type, inOut, iteration, index, piece);
            EXPECT_EQ(field.DefineHandle, handle);
            EXPECT_EQ(static_cast<ub4>(OCI_HTYPE_DEFINE), type);
            EXPECT_EQ(OCI_PARAM_OUT, inOut);
            pieceCodes.push_back(piece);
            ub4 length = sizeof buffer;
            command->SetPieceInfo(handle, OCI_HTYPE_DEFINE, buffer, length, piece);
            status = command->FetchPiece();
            value.append(buffer, length);
        }
        rows.push_back(indicator == -1 ? "<null>" : value);
    }
    EXPECT_EQ(csFetched, command->GetCursorState());
    ASSERT_EQ(2u, rows.size());
    EXPECT_TRUE(rows[0] == big);
    EXPECT_EQ("<null>", rows[1]);
    EXPECT_EQ((std::vector<int>{OCI_FIRST_PIECE, OCI_NEXT_PIECE, OCI_NEXT_PIECE, OCI_FIRST_PIECE}),
              pieceCodes);
}
