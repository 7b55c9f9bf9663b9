// Sorting, filtering and cached updates of the record list against the Python models next to
// this file (sortfilter_model.py, cache_model.py), which use ICU's collation through PyICU.
#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <sstream>

#include "platform/rtl/FormatSettings.h"
#include "platform/rtl/Strings.h"
#include "tests/dataaccess/core/MemListFixture.h"
#include "tests/dataaccess/core/ModelFiles.h"

namespace dac {
namespace {

using rtl::Variant;
using test::FieldSpec;
using test::ListData;

// Runs a model script; its output lines, split at blanks.
std::vector<std::vector<std::string>> RunModel(const std::string& script, const std::string& args,
                                               const std::string& stem) {
    const std::string out = test::ModelOutPath("memdata_model", stem);
    EXPECT_EQ(test::RunModelScript(script, args + " " + out), 0) << script << " " << args;
    auto lines = test::ReadWordLines(out);
    EXPECT_FALSE(lines.empty()) << "no output from " << script;
    return lines;
}

AnsiString Unhex(const std::string& hex) {
    if (hex == "-") return {};
    AnsiString s(hex.size() / 2, '\0');
    rtl::HexToBin(hex, s.data(), s.size());
    return s;
}

std::string Hex(const AnsiString& s) {
    if (s.empty()) return "-";
    std::string h = rtl::BinToHex(s.data(), s.size());
    for (char& c : h) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return h;
}

std::vector<int> IdsFrom(const std::vector<std::string>& words, size_t first) {
    std::vector<int> ids;
    for (size_t i = first; i < words.size(); ++i) ids.push_back(std::stoi(words[i]));
    return ids;
}

// ---------------------------------------------------------------------------------------------
// Sorting and filtering

FieldSpec SpecOf(const std::string& name, const std::string& kind, std::vector<std::string>& names) {
    names.push_back(name);
    const char* n = names.back().c_str();
    if (kind == "int") return {n, dtInteger};
    if (kind == "float") return {n, dtFloat};
    if (kind == "bcd") return {n, dtBCD};
    if (kind == "fmtbcd") return {n, dtFmtBcd};
    if (kind == "datetime") return {n, dtDateTime};
    if (kind == "string") return {n, dtString, 20};
    return {n, dtWideString, 20};
}

Variant ValueOf(const std::string& kind, const std::string& text) {
    if (text == "~") return rtl::Null();
    if (kind == "int") return Variant(std::stoi(text));
    if (kind == "float") return Variant(std::stod(text));
    if (kind == "bcd") return Variant(rtl::Currency::FromRaw(std::stoll(text)));
    if (kind == "fmtbcd") return Variant(text);
    if (kind == "datetime") return Variant::FromDateTime(std::stod(text));
    if (kind == "string") return Variant(Unhex(text));
    return Variant(rtl::AnsiToWide(Unhex(text)));
}

void CheckSortAndFilter(int seed) {
    rtl::TFormatSettingsOverride invariant(rtl::TFormatSettings::Invariant());
    const auto lines = RunModel("sortfilter_model.py", std::to_string(seed), "sortfilter");
    std::vector<std::string> names, kinds;
    std::vector<FieldSpec> specs;
    names.reserve(16);
    for (const auto& w : lines)
        if (w[0] == "column") {
            specs.push_back(SpecOf(w[1], w[2], names));
            kinds.push_back(w[2]);
        }
    ListData d(specs);
    d.Open();
    for (const auto& w : lines) {
        if (w[0] != "row") continue;
        std::vector<Variant> values;
        for (size_t i = 1; i < w.size(); ++i) values.push_back(ValueOf(kinds[i - 1], w[i]));
        d.Append(values);
    }
    int sorts = 0, filters = 0;
    for (const auto& w : lines) {
        if (w[0] == "sort") {
            ++sorts;
            // Every sort starts from the rows' first order, as the model's does.
            d.ChangeIndexFieldNames("ID");
            const AnsiString text = Unhex(w[1]);
            d.ChangeIndexFieldNames(text);
            EXPECT_EQ(d.Ids(), IdsFrom(w, 2)) << "IndexFieldNames " << text;
        } else if (w[0] == "filter") {
            ++filters;
            d.ChangeIndexFieldNames("ID");
            d.FilterCaseInsensitive = w[1] == "1";
            d.FilterNoPartialCompare = w[2] == "1";
            const AnsiString text = Unhex(w[3]);
            d.SetFilterText(text);
            d.FilterUpdated();
            EXPECT_EQ(d.Ids(), IdsFrom(w, 4))
                << "filter " << text << " case-insensitive " << w[1] << " no partial " << w[2];
        }
    }
    EXPECT_GT(sorts, 0);
    EXPECT_GT(filters, 0);
}

TEST(SortFilterModel, Seed1) {
    CheckSortAndFilter(1);
}
TEST(SortFilterModel, Seed2) {
    CheckSortAndFilter(2);
}
TEST(SortFilterModel, Seed3) {
    CheckSortAndFilter(3);
}

// ---------------------------------------------------------------------------------------------
// Cached updates

struct CacheRun : ListData {
    CacheRun() : ListData({{"ID", dtInteger}, {"NAME", dtString, 20}, {"MEMO", dtMemo}}) {}

    std::string Text(int fieldNo, void* rec) { return Hex(rtl::VarToStr(Value(fieldNo, rec))); }

    std::string State() {
        std::string s = std::string("state ") + (UpdatesPending() ? "1" : "0") + " " +
                        (HasUnappliedChanges() ? "1" : "0");
        std::vector<int> ids = Ids();
        void* old = AllocRecBuf();
        for (int id : ids) {
            Goto(id);
            GetOldRecord(old);
            s += " " + std::to_string(id) + ":" + Text(2, nullptr) + ":" + Text(3, nullptr) + ":" +
                 std::to_string(GetUpdateStatus()) + ":" + std::to_string(GetUpdateResult()) + ":" +
                 Text(2, old) + ":" + Text(3, old);
        }
        FreeRecBuf(old);
        return s;
    }
};

void CheckCachedUpdates(int seed, bool sorted) {
    const auto lines = RunModel("cache_model.py", std::to_string(seed) + (sorted ? " 1" : " 0"), "cache");
    CacheRun d;
    d.Open();
    std::vector<uint8_t> newValues(static_cast<size_t>(d.RecordSize())), oldValues(newValues.size());
    std::deque<int> answers;
    std::string sent;
    d.OnApplyRecord = [&](int kind, int& action, bool last) {
        sent += " " + std::to_string(kind) + ":" + std::to_string(d.Value(1, newValues.data()).AsInteger()) +
                ":" + d.Text(2, newValues.data()) + ":" + d.Text(3, newValues.data()) + ":" +
                d.Text(2, oldValues.data()) + ":" + d.Text(3, oldValues.data()) + ":" + (last ? "1" : "0");
        ASSERT_FALSE(answers.empty()) << "the hook was called more often than the model says";
        const int answer = answers.front();
        answers.pop_front();
        if (answer == -1) throw rtl::Exception("apply failed");
        action = answer;
    };
    bool cachedOn = false;
    bool raised = false;
    std::string step;
    for (const auto& w : lines) {
        if (w[0] == "row") {
            d.Append({std::stoi(w[1]), Unhex(w[2]), Unhex(w[3])});
            continue;
        }
        const std::string& op = w[0];
        SCOPED_TRACE("after " + step);
        if (op == "state") {
            std::string expected;
            for (const auto& word : w) expected += (expected.empty() ? "" : " ") + word;
            if (!cachedOn) {
                if (sorted) d.ChangeIndexFieldNames("NAME");
                d.ChangeCachedUpdates(true);
                d.SetCacheRecBuf(newValues.data(), oldValues.data());
                cachedOn = true;
            }
            ASSERT_EQ(d.State(), expected) << "after " << step;
            continue;
        }
        if (op == "error") {
            EXPECT_EQ(raised, w[1] == "1") << "after " << step;
            EXPECT_TRUE(answers.empty())
                << "the hook was called less often than the model says, after " << step;
            continue;
        }
        if (op == "sent") {
            std::string expected;
            for (size_t i = 1; i < w.size(); ++i) expected += " " + w[i];
            EXPECT_EQ(sent, expected) << "after " << step;
            continue;
        }
        step.clear();
        for (const auto& word : w) step += word + " ";
        raised = false;
        sent.clear();
        if (op == "insert") {
            d.Append({std::stoi(w[1]), Unhex(w[2]), Unhex(w[3])});
        } else if (op == "edit") {
            d.Edit(std::stoi(w[1]), std::stoi(w[2]), Unhex(w[3]));
        } else if (op == "delete") {
            d.Delete(std::stoi(w[1]));
        } else if (op == "revert") {
            ASSERT_TRUE(d.Goto(std::stoi(w[1])));
            d.RevertRecord();
        } else if (op == "cancel") {
            d.CancelUpdates();
        } else if (op == "types") {
            d.SetFilterItemTypes(static_cast<uint8_t>(std::stoi(w[1])));
        } else if (op == "apply" || op == "commit") {
            const size_t first = op == "apply" ? 2 : 1;
            answers.clear();
            for (size_t i = first; i < w.size(); ++i) answers.push_back(std::stoi(w[i]));
            try {
                if (op == "apply")
                    d.ApplyUpdates(std::stoi(w[1]));
                else
                    d.CommitUpdates();
            } catch (const rtl::Exception&) {
                raised = true;
            }
        } else {
            FAIL() << "unknown step " << op;
        }
    }
}

TEST(CachedUpdatesModel, UnsortedSeed1) {
    CheckCachedUpdates(1, false);
}
TEST(CachedUpdatesModel, UnsortedSeed2) {
    CheckCachedUpdates(2, false);
}
TEST(CachedUpdatesModel, UnsortedSeed3) {
    CheckCachedUpdates(3, false);
}
TEST(CachedUpdatesModel, SortedSeed4) {
    CheckCachedUpdates(4, true);
}
TEST(CachedUpdatesModel, SortedSeed5) {
    CheckCachedUpdates(5, true);
}
TEST(CachedUpdatesModel, SortedSeed6) {
    CheckCachedUpdates(6, true);
}

}  // namespace
}  // namespace dac
