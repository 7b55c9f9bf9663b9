#include "dataaccess/oracle/OraClasses.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dataaccess/oracle/OraParser.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/FormatSettings.h"

namespace dac {
namespace {

TEST(ConnectString, Forms) {
    struct Case {
        std::string text, user, password, server;
        TConnectMode mode;
    };
    const std::vector<Case> cases = {
        {"scott/tiger@orcl", "scott", "tiger", "orcl", cmNormal},
        {"scott/tiger@orcl AS SYSDBA", "scott", "tiger", "orcl", cmSysDBA},
        {"scott/tiger@orcl as sysoper", "scott", "tiger", "orcl", cmSysOper},
        {"sys/pw@asm As SysAsm", "sys", "pw", "asm", cmSysASM},
        {"  scott / tiger @ orcl   as   sysdba  ", "scott", "tiger", "orcl", cmSysDBA},
        {"/@tns", "", "", "tns", cmNormal},
        {"/ AS SYSDBA", "", "", "", cmSysDBA},
        {"scott AS SYSDBA", "scott", "", "", cmSysDBA},
        {"scott/tiger@//db.host:1521/svc.example as sysdba", "scott", "tiger", "//db.host:1521/svc.example",
         cmSysDBA},
        {"scott/tiger@host/svc@x", "scott", "tiger", "host/svc@x", cmNormal},
        {"\"Mixed User\"/pw", "\"Mixed User\"", "pw", "", cmNormal},
        {"u/\"pass word/@\"@srv", "u", "pass word/@", "srv", cmNormal},
        {"u/pw@\"my server\"", "u", "pw", "my server", cmNormal},
        {"u/pw@srv ASX", "u", "pw", "srv", cmNormal},
        {"u/pw@srv extra words", "u", "pw", "srv", cmNormal},
        {"u/pw@srv AS", "u", "pw", "srv", cmNormal},
        {"u/\"unterminated", "u", "unterminated", "", cmNormal},
        {"", "", "", "", cmNormal},
        {"u/pw@srv as sysdba trailing", "u", "pw", "srv", cmSysDBA},
    };
    for (const auto& c : cases) {
        AnsiString user = "x", password = "x", server = "x";
        TConnectMode mode = cmSysOper;
        ParseConnectString(c.text, user, password, server, mode);
        EXPECT_EQ(user, c.user) << c.text;
        EXPECT_EQ(password, c.password) << c.text;
        EXPECT_EQ(server, c.server) << c.text;
        EXPECT_EQ(mode, c.mode) << c.text;
    }
}

TEST(ConnectString, UnknownPrivilegeRaises) {
    for (const char* text : {"u/pw@srv AS SYSFOO", "u AS normal", "u/pw@srv as \"sysdba\""}) {
        AnsiString user, password, server;
        TConnectMode mode;
        try {
            ParseConnectString(text, user, password, server, mode);
            ADD_FAILURE() << text;
        } catch (const rtl::Exception& e) {
            EXPECT_EQ(e.Message(), "Invalid connect string") << text;
        }
    }
}

TEST(ObjectNames, QuoteAndNormalize) {
    EXPECT_EQ(QuoteObjectName("a.b"), "\"a\".\"b\"");
    EXPECT_EQ(QuoteObjectName("Scott"), "\"Scott\"");
    EXPECT_TRUE(IsQuotedName("\"x\""));
    EXPECT_TRUE(IsQuotedName("\"\""));
    EXPECT_FALSE(IsQuotedName("\""));
    EXPECT_FALSE(IsQuotedName("x\""));
    struct Case {
        std::string name, expected;
    };
    for (const auto& c : std::vector<Case>{{"scott.emp", "\"SCOTT\".\"EMP\""},
                                           {" scott . \"Emp\" ", "\"SCOTT\".\"Emp\""},
                                           {"\"a.b\".c", "\"a.b\".\"C\""},
                                           {"\xf2\xe0\xe1", "\"\xd2\xc0\xc1\""}}) {
        EXPECT_EQ(NormalizeObjectName(c.name), c.expected) << c.name;
    }
}

TEST(ObjectNames, LocalTimeFormatIsTheLocales) {
    EXPECT_EQ(OraLocalTimeFormat(), rtl::FormatSettings().LongTimeFormat);
    EXPECT_FALSE(OraLocalTimeFormat().empty());
}

TEST(Precision, Texts) {
    struct Case {
        std::string text;
        int precision, scale;
    };
    for (const auto& c :
         std::vector<Case>{{"14,4", 14, 4}, {"18", 18, 0}, {" 10 , 2 ", 10, 2}, {"-1,0", -1, 0}}) {
        int p = -9, s = -9;
        ParsePrecision(c.text, p, s);
        EXPECT_EQ(p, c.precision) << c.text;
        EXPECT_EQ(s, c.scale) << c.text;
    }
    for (const char* bad : {"x", "1,y", "", "1,", "1.5"}) {
        int p, s;
        EXPECT_THROW(ParsePrecision(bad, p, s), rtl::EConvertError) << bad;
    }
}

TEST(ServerVersion, FromBanner) {
    struct Case {
        std::string banner, version;
    };
    for (const auto& c : std::vector<Case>{
             {"Oracle Database 10g Enterprise Edition Release 10.2.0.1.0 - Production", "10.2.0.1.0"},
             {"Oracle9i Release 9.2.0.1.0 - Production", "9.2.0.1.0"},
             {"Oracle Database 19c Enterprise Edition Release 19.0.0.0.0 - Production\nVersion 19.3.0.0.0",
              "19.0.0.0.0"},
             {"Personal Oracle7 Release 7.3.4.0.0 - Production", "7.3.4.0.0"},
             {"Release 123.4 x", "23.4"},
             {"no version here", ""},
             {"Release 10.2.0.1.0", ""},
         }) {
        EXPECT_EQ(ParseServerVersion(c.banner), c.version) << c.banner;
    }
}

TEST(RowIdTexts, ExtendedAndRestricted) {
    // Expected texts made independently (base-64 digits of each number, most significant first).
    struct Case {
        TRowIdNumbers rowId;
        std::string text;
    };
    const std::vector<Case> cases = {
        {{74, 4, 171, 0}, "AAAABKAAEAAAACrAAA"},
        {{0xFFFFFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFF}, "D/////P//D/////P//"},
        {{73621, 7, 1234567, 42}, "AAAR+VAAHAAEtaHAAq"},
        {{1, 1, 1, 1}, "AAAAABAABAAAAABAAB"},
        {{0, 4, 171, 2}, "000000AB.0002.0004"},
        {{0, 0xFFFF, 0xDEADBEEF, 0x1F}, "DEADBEEF.001F.FFFF"},
    };
    for (const auto& c : cases) EXPECT_EQ(RowIdToString(c.rowId), c.text) << c.text;
    EXPECT_EQ(RowIdToExtendedString({0, 4, 171, 0}), "AAAAAAAAEAAAACrAAA");
    EXPECT_EQ(RowIdToRestrictedString({74, 4, 171, 0}), "000000AB.0000.0004");
}

TEST(RowIdTexts, Universal) {
    // Expected texts from Python's base64 over the bytes after the kind byte, padding removed.
    struct Case {
        rtl::TBytes bytes;
        std::string text;
    };
    const std::vector<Case> cases = {
        {{2, 0, 0, 0, 0x4a, 0, 4, 0, 0, 0, 0xab, 0, 0}, "*AAAASgAEAAAAqwAA"},
        {{2, 1, 2, 3}, "*AQID"},
        {{2, 0xff}, "*/w"},
        {{2, 0xfb, 0xff}, "*+/8"},
        {{2, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}, "*AQIDBAUGBwgJCgsMDQ4"},
        {{2}, "*"},
        // A physical ROWID's numbers, most significant byte first.
        {{1, 0, 0, 0, 74, 0, 4, 0, 0, 0, 171, 0, 0}, "AAAABKAAEAAAACrAAA"},
        {{1, 0, 0, 0, 0, 0, 4, 0, 0, 0, 171, 0, 2}, "000000AB.0002.0004"},
        {{}, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(URowIdToString(c.bytes), c.text) << c.text;
}

TEST(OCISQLInfo, NamesAndDatabaseLinks) {
    TOCISQLInfo& info = OCISQLInfo();
    EXPECT_EQ(&info, &OCISQLInfo());
    EXPECT_EQ(info.IdentCase(), 0);
    struct Case {
        std::string value;
        bool quoteNames, unQuoteNames;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"scott.emp", false, false, "SCOTT.EMP"},
        {"\"Emp\"", false, false, "\"Emp\""},
        {"\"Emp\"", false, true, "Emp"},
        {"emp name", false, false, "\"EMP NAME\""},
        {"scott.emp", true, false, "\"scott\".\"emp\""},
        {"sales.orders@remotedb", false, false, "SALES.ORDERS@REMOTEDB"},
        {"\"a.b\".\"c\"", false, false, "\"a.b\".\"c\""},
        {"\"a@b\"", false, true, "a@b"},
        {"emp@db.world", false, false, "EMP@DB.WORLD"},
        {"", false, false, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(info.NormalizeName(c.value, c.quoteNames, c.unQuoteNames), c.expected) << c.value;

    struct Split {
        std::string name, schema, object, link;
    };
    for (const auto& c : std::vector<Split>{{"sales.orders@remotedb", "sales", "orders", "remotedb"},
                                            {"a.b.c", "b", "c", ""},
                                            {"emp", "", "emp", ""},
                                            {"\"x.y\".\"z@w\"@lnk.world", "\"x.y\"", "\"z@w\"", "lnk.world"},
                                            {"t@l", "", "t", "l"}}) {
        TSQLObjectInfo o;
        info.SplitObjectName(c.name, o);
        EXPECT_EQ(o.Schema, c.schema) << c.name;
        EXPECT_EQ(o.Name, c.object) << c.name;
        EXPECT_EQ(o.DBLink, c.link) << c.name;
        EXPECT_EQ(o.Catalog, "") << c.name;
    }
    for (const auto& [value, need] : std::vector<std::pair<std::string, bool>>{
             {"EMP_1$", false}, {"Emp", true}, {"1EMP", true}, {"", false}, {"EMP#", true}}) {
        EXPECT_EQ(info.NeedQuote(value), need) << value;
    }
}

TEST(OCISQLInfo, TablesOfTheFromClause) {
    TOCISQLInfo info;
    struct Ref {
        std::string name, alias;
        bool operator==(const Ref&) const = default;
    };
    struct Case {
        std::string sql;
        std::vector<Ref> expected;
    };
    const std::vector<Case> cases = {
        {"select * from emp e, dept d where e.id = d.id", {{"EMP", "E"}, {"DEPT", "D"}}},
        {"select a from t1 join t2 on t1.id = t2.id", {{"T1", ""}}},
        {"select x from (select y from t) q", {}},
        {"select x from (select y from t) q, u", {{"U", ""}}},
        {"select x from scott.emp partition (p1) e, s.orders@remote.world o",
         {{"SCOTT.EMP", "E"}, {"S.ORDERS@REMOTE.WORLD", "O"}}},
        {"select x from \"Mixed\" m start with x = 1 connect by prior x = y", {{"\"Mixed\"", "M"}}},
        {"select x from t for update", {{"T", ""}}},
        {"select x from a.", {}},
        {"select x from t partition (p1", {}},
        {"insert into t values (1)", {}},
    };
    for (const auto& c : cases) {
        TCRTablesInfo tables;
        info.ParseTablesInfo(c.sql, tables);
        std::vector<Ref> got;
        for (int i = 0; i < tables.Count(); ++i)
            got.push_back({tables[i]->TableName(), tables[i]->TableAlias()});
        EXPECT_EQ(got, c.expected) << c.sql;
        EXPECT_EQ(tables.UpdateCount(), 0);
    }
}

TEST(OCISQLInfo, ColumnsWithTheOracleLexer) {
    TOCISQLInfo info;
    info.SetCommand(nullptr, CreateParserOf<TOraParser>);
    TColumnsInfo columns;
    info.ParseColumnsInfo("select e.name n, upper(e.city), sysdate, user, rowid from emp e", columns);
    ASSERT_EQ(columns.Count(), 5);
    EXPECT_EQ(columns[0]->Table, "E");
    EXPECT_EQ(columns[0]->Name, "NAME");
    EXPECT_EQ(columns[0]->TableAlias, "N");
    EXPECT_EQ(columns[1]->Expr, "upper)");
    EXPECT_EQ(columns[2]->Name, "SYSDATE");  // case-sensitive test: lower-case sysdate is a name
    EXPECT_EQ(columns[2]->Expr, "");
    EXPECT_EQ(columns[4]->Name, "ROWID");

    TColumnsInfo upper;
    info.ParseColumnsInfo("select SYSDATE, UID from dual", upper);
    ASSERT_EQ(upper.Count(), 2);
    EXPECT_EQ(upper[0]->Expr, "SYSDATE");
    EXPECT_EQ(upper[1]->Expr, "UID");
}

}  // namespace
}  // namespace dac
