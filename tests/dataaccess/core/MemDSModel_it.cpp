// The dataset's searches and date forms against the Python model next to this file
// (memds_model.py): Locate, Lookup and the field-array searches over random rows in every sort
// order, and dates before and after 1899 in every form a dataset gives them.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "platform/rtl/DateTime.h"
#include "tests/dataaccess/core/MemDSFixture.h"
#include "tests/dataaccess/core/ModelFiles.h"

namespace dac {
namespace {

using rtl::Null;
using rtl::Variant;
using test::FakeDataSet;

std::string OutPath(const std::string& stem) {
    return test::ModelOutPath("memds_model", stem);
}

int RunModel(const std::string& args) {
    return test::RunModelScript("memds_model.py", args);
}

Variant KeyOf(const std::string& text) {
    return text == "~" ? Null() : Variant(int32_t{std::stoi(text)});
}

TEST(MemDataSetModel, SearchesAnswerAsTheModelInEverySortOrder) {
    for (int seed : {1, 2}) {
        SCOPED_TRACE(seed);
        const std::string gen = OutPath("gen" + std::to_string(seed));
        const std::string result = OutPath("result" + std::to_string(seed));
        ASSERT_EQ(RunModel("locate-gen " + std::to_string(seed) + " " + gen), 0);
        const auto lines = test::ReadWordLines(gen);

        FakeDataSet ds;
        std::vector<test::Row> rows;
        std::vector<std::vector<std::string>> queries;
        for (const auto& w : lines) {
            if (w[0] == "row")
                rows.push_back({Variant(int32_t{std::stoi(w[1])}), KeyOf(w[2]), Variant(w[3])});
            else
                queries.emplace_back(w.begin() + 1, w.end());
        }
        ASSERT_FALSE(queries.empty());
        ds.SetData({{"ID", dtInteger}, {"K", dtInteger}, {"S", dtString, 10}}, rows);
        ds.RecordSet().SetProp(prFetchRows, 40);

        std::ofstream out(result);
        for (std::string order : {"-", "K", "K_DESC", "S", "S_CIS", "K;S"}) {
            std::string text = order == "-" ? "" : order;
            if (text == "K_DESC") text = "K DESC";
            if (text == "S_CIS") text = "S CIS";
            ds.SetIndexFieldNames(text);
            ds.Open();
            out << "order " << order;
            for (ds.First(); !ds.Eof(); ds.Next()) out << " " << ds.FieldByName("ID")->AsInteger();
            out << "\n";
            db::TField* id = ds.FieldByName("ID");
            for (const auto& q : queries) {
                const std::string& kind = q[0];
                const std::vector<db::TField*> field = {ds.FieldByName(q[1])};
                const Variant key = q[1] == "K" ? KeyOf(q[2]) : Variant(q[2]);
                int answer = 0;
                if (kind == "lookup") {
                    const Variant found = ds.Lookup(q[1], key, "ID");
                    answer = found.IsNull() ? 0 : found.AsInteger();
                } else if (kind == "back" || kind == "next") {
                    ds.SetRecNo(std::stoi(q[3]) + 1);
                    if (ds.SearchByFields(field, key, {kind == "back" ? srBackward : srFromNext}))
                        answer = id->AsInteger();
                } else if (kind == "nearest") {
                    ds.First();
                    if (ds.SearchByFields(field, key, {srNearest})) answer = id->AsInteger();
                } else {
                    db::TLocateOptions options;
                    if (kind == "locate_ci") options.Include(db::loCaseInsensitive);
                    if (ds.Locate(q[1], key, options)) answer = id->AsInteger();
                }
                out << answer << "\n";
            }
            ds.Close();
        }
        out.close();
        EXPECT_EQ(RunModel("locate-check " + gen + " " + result), 0) << "see " << result;
    }
}

TEST(MemDataSetModel, DatesReadAndWriteInEveryFormAsThePlatformCountsThem) {
    const std::string path = OutPath("dates");
    ASSERT_EQ(RunModel("dates " + path), 0);
    const auto lines = test::ReadWordLines(path);
    ASSERT_GE(lines.size(), 10u);

    std::vector<test::Row> rows;
    for (const auto& w : lines) {
        const Variant dt = Variant::FromDateTime(std::stod(w[7]));
        rows.push_back({dt, dt, dt});
    }
    FakeDataSet ds;
    ds.SetData({{"D", dtDate}, {"T", dtTime}, {"DT", dtDateTime}}, rows);
    ds.Open();
    db::TField* d = ds.FieldByName("D");
    db::TField* t = ds.FieldByName("T");
    db::TField* dt = ds.FieldByName("DT");
    for (const auto& w : lines) {
        std::string civil;
        for (int i = 0; i < 7; ++i) civil += w[static_cast<size_t>(i)] + " ";
        SCOPED_TRACE(civil);
        const double tdatetime = std::stod(w[7]), datePart = std::stod(w[8]), timePart = std::stod(w[9]);
        const int32_t stampDate = std::stoi(w[10]), stampTime = std::stoi(w[11]);
        const double msecs = std::stod(w[12]);
        EXPECT_DOUBLE_EQ(
            rtl::EncodeDateTime(std::stoi(w[0]), std::stoi(w[1]), std::stoi(w[2]), std::stoi(w[3]),
                                std::stoi(w[4]), std::stoi(w[5]), std::stoi(w[6])),
            tdatetime);

        int32_t date = 0, time = 0;
        double stamp = 0;
        ASSERT_TRUE(d->GetData(&date));
        ASSERT_TRUE(t->GetData(&time));
        ASSERT_TRUE(dt->GetData(&stamp));
        EXPECT_EQ(date, stampDate);
        EXPECT_EQ(time, stampTime);
        EXPECT_DOUBLE_EQ(stamp, msecs);
        EXPECT_DOUBLE_EQ(d->AsDateTime(), datePart);
        EXPECT_NEAR(t->AsDateTime(), timePart, 1e-10);
        EXPECT_NEAR(dt->AsDateTime(), tdatetime, 1e-9);

        // Written back through the fields, the storage keeps the platform's value.
        ds.Edit();
        d->SetAsDateTime(tdatetime);
        t->SetAsDateTime(tdatetime);
        dt->SetAsDateTime(tdatetime);
        ds.Post();
        Variant stored;
        ds.GetIRecordSet()->GetFieldAsVariant(1, ds.ActiveBuf(), stored);
        EXPECT_DOUBLE_EQ(stored.AsDouble(), datePart);
        ds.GetIRecordSet()->GetFieldAsVariant(2, ds.ActiveBuf(), stored);
        EXPECT_NEAR(stored.AsDouble(), timePart, 1e-10);
        ds.GetIRecordSet()->GetFieldAsVariant(3, ds.ActiveBuf(), stored);
        EXPECT_NEAR(stored.AsDouble(), tdatetime, 1e-9);
        ds.Next();
    }
}

}  // namespace
}  // namespace dac
