// The list writer: lists written on its thread give the document they give one after another,
// and a list that fails stops the writing where the failure was.
#include "export_service/uListWriter.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/rtl/DateTime.h"

using namespace svc;

namespace {

TXMLGenerator Data() {
    return TXMLGenerator::CreateData("{0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9}", 7, 1,
                                     rtl::EncodeDateTime(2024, 5, 6, 7, 8, 9, 123));
}

struct TFailing : TPersistentObject {
    void ToXml(TXmlNode&) const override { throw std::runtime_error("cannot write"); }
};

// Emitent configs whose Code is seed + their number; a failing item at `failAt`.
std::unique_ptr<TDataObjectList> Configs(int n, int seed, int failAt = -1) {
    auto list = std::make_unique<TDataObjectList>();
    for (int i = 0; i < n; ++i) {
        if (i == failAt) {
            list->Add(new TFailing);
            continue;
        }
        auto* config = new TEmitentConfigs;
        config->SetText(0, std::to_string(seed + i));
        list->Add(config);
    }
    return list;
}

struct Spec {
    std::string name;
    int count;
    int failAt;
};

}  // namespace

TEST(ListWriter, WritesTheListsAsTheyAreWrittenOneAfterAnother) {
    // Sizes around a container's 1000, and many small lists, so the queue fills and drains.
    std::vector<Spec> specs = {{"A_LIST", 1, -1}, {"B_LIST", 2500, -1}, {"C_LIST", 1000, -1}};
    for (int i = 0; i < 30; ++i) specs.push_back({"L" + std::to_string(i), i % 4 + 1, -1});
    TXMLGenerator one = Data(), threaded = Data();
    {
        TListWriter writer(threaded);
        for (size_t i = 0; i < specs.size(); ++i) {
            one.WriteList(specs[i].name, *Configs(specs[i].count, static_cast<int>(i) * 10000));
            writer.Write(specs[i].name, Configs(specs[i].count, static_cast<int>(i) * 10000));
        }
        writer.Finish();
    }
    EXPECT_EQ(threaded.Text(), one.Text());
}

// Whatever list fails, the document holds exactly the lists before it, Finish and any later
// Write raise the failure, and nothing hangs.
TEST(ListWriter, AFailingListEndsTheWritingWhereItFailed) {
    for (size_t failing = 0; failing < 4; ++failing) {
        SCOPED_TRACE(failing);
        const std::vector<Spec> specs = {
            {"A_LIST", 3, -1}, {"B_LIST", 1200, -1}, {"C_LIST", 5, -1}, {"D_LIST", 2, -1}};
        TXMLGenerator expected = Data(), threaded = Data();
        for (size_t i = 0; i < failing; ++i) expected.WriteList(specs[i].name, *Configs(specs[i].count, 0));
        TListWriter writer(threaded);
        bool raised = false;
        try {
            for (size_t i = 0; i < specs.size(); ++i)
                writer.Write(specs[i].name, Configs(specs[i].count, 0, i == failing ? 1 : -1));
        } catch (const std::runtime_error&) {
            raised = true;  // an earlier list's failure, met by a later Write
        }
        EXPECT_THROW(writer.Finish(), std::runtime_error);
        EXPECT_THROW(writer.Write("E_LIST", Configs(1, 0)), std::runtime_error);
        EXPECT_EQ(threaded.Text(), expected.Text());
        if (failing == specs.size() - 1) {
            EXPECT_FALSE(raised);  // nothing was written after it
        }
    }
}

TEST(ListWriter, EndingWithoutFinishLeavesOnlyWholeListsInOrder) {
    TXMLGenerator document = Data(), withA = Data(), withBoth = Data();
    withA.WriteList("A_LIST", *Configs(20000, 0));
    withBoth.WriteList("A_LIST", *Configs(20000, 0));
    withBoth.WriteList("B_LIST", *Configs(3, 0));
    const std::string empty = document.Text();
    {
        TListWriter writer(document);
        writer.Write("A_LIST", Configs(20000, 0));
        writer.Write("B_LIST", Configs(3, 0));
    }
    // What was not taken yet is dropped; a list is never half written.
    const std::string text = document.Text();
    EXPECT_TRUE(text == empty || text == withA.Text() || text == withBoth.Text());
}
