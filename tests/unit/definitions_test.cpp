// Reading the update definitions: the tokenizer, the numbers and every record kind.

#include "discovery/definitions.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace fw {
namespace {

std::vector<std::string> Fields(std::string_view line) {
    FieldTokenizer t(line, "~");
    std::vector<std::string> out;
    std::string f = "untouched";
    while (t.NextField(f)) out.push_back(f);
    EXPECT_FALSE(t.NextField(f));
    return out;
}

TEST(FieldTokenizerTest, SplitsAtRunsOfTildes) {
    struct Case {
        const char* line;
        std::vector<std::string> fields;
    };
    const Case cases[] = {
        {"update~A~b/c.exe~12~ff", {"update", "A", "b/c.exe", "12", "ff"}},
        {"a~~~b", {"a", "b"}},
        {"a~b~~", {"a", "b"}},
        {"~a", {"", "a"}},
        {"~~~", {""}},
        {" a ~ b ", {" a ", " b "}},  // spaces belong to the fields
        {"", {}},
        {"single", {"single"}},
    };
    for (const Case& c : cases) EXPECT_EQ(Fields(c.line), c.fields) << c.line;
}

TEST(FieldTokenizerTest, LeavesTheStringUntouchedAtTheEnd) {
    FieldTokenizer t("x", "~");
    std::string f;
    ASSERT_TRUE(t.NextField(f));
    f = "kept";
    EXPECT_FALSE(t.NextField(f));
    EXPECT_EQ(f, "kept");
}

TEST(NumberTest, DecimalReadsAsStrtolWith32BitLong) {
    struct Case {
        const char* text;
        std::int32_t value;
    };
    const Case cases[] = {
        {"2345678", 2345678}, {"  42", 42},       {"+7", 7},          {"-5", -5},
        {"12abc", 12},        {"abc", 0},         {"", 0},            {"3.9", 3},
        {"2147483647", INT32_MAX}, {"2147483648", INT32_MAX}, {"-2147483648", INT32_MIN},
        {"-99999999999999999999", INT32_MIN}, {"99999999999999999999999", INT32_MAX},
        {"- 5", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseDecimal32(c.text), c.value) << c.text;
}

TEST(NumberTest, HexReadsThirtyTwoBits) {
    struct Case {
        const char* text;
        std::uint32_t value;
        bool digits;
    };
    const Case cases[] = {
        {"1a2b3c4d", 0x1a2b3c4du, true}, {"0x9F00E1", 0x9f00e1u, true}, {"  77", 0x77u, true},
        {"ffffffff", 0xffffffffu, true}, {"123456789", 0xffffffffu, true},
        {"12zz", 0x12u, true},           {"zz", 0u, false},              {"", 0u, false},
        {"0x", 0u, true},                {"0xg", 0u, true},
    };
    for (const Case& c : cases) {
        bool digits = !c.digits;
        EXPECT_EQ(ParseHex32(c.text, &digits), c.value) << c.text;
        EXPECT_EQ(digits, c.digits) << c.text;
    }
}

class DefinitionsTest : public ::testing::Test {
protected:
    LineResult Apply(std::string_view line) { return ApplyDefinitionLine(line, target); }
    std::string version = "before";
    EntryArray entries;
    TextList installed{"Fablewright", "Sci Fi", "Fantasy"};
    std::string infoServer = "info.example";
    std::string infoPath = "vrn/sendupdinfo.php";
    DefinitionsTarget target{version, entries, installed, infoServer, infoPath};
};

TEST_F(DefinitionsTest, TheWorkedExample) {
    const char* lines[] = {
        "#current release",
        "updatever~3",
        "version~4.2",
        "update~Fablewright~files/FwUpd42.exe~2345678~1a2b3c4d",
        "equiv~Sci Fi Deluxe~Sci Fi",
        "update~Sci Fi Deluxe~files/SFDUpd.exe~123456~9f00e1",
        "update~Western~files/WestUpd.exe~54321~77",
    };
    for (const char* l : lines) EXPECT_EQ(Apply(l).outcome, LineOutcome::kContinue) << l;
    EXPECT_EQ(version, "4.2");
    ASSERT_EQ(entries.GetSize(), 3u);
    EXPECT_EQ(entries[0].templateName, "Fablewright");
    EXPECT_EQ(entries[0].sourceUrl, "files/FwUpd42.exe");
    EXPECT_EQ(entries[0].expectedSize, 2345678);
    EXPECT_EQ(entries[0].expectedChecksum, 0x1a2b3c4du);
    EXPECT_EQ(entries[1].expectedChecksum, 0x9f00e1u);
    EXPECT_EQ(entries[2].localPath, nullptr);
    EXPECT_EQ(installed, (TextList{"Fablewright", "Sci Fi", "Fantasy", "Sci Fi Deluxe"}));
}

TEST_F(DefinitionsTest, RecordsAndTheirMalformedForms) {
    struct Case {
        const char* line;
        LineOutcome outcome;
        std::size_t entries;
        const char* version;
        const char* infoServer;
        const char* infoPath;
    };
    const Case cases[] = {
        {"", LineOutcome::kContinue, 0, "before", "info.example", "vrn/sendupdinfo.php"},
        {"# comment~update~A~b~1~2", LineOutcome::kContinue, 0, "before", "info.example",
         "vrn/sendupdinfo.php"},
        {"~~~~", LineOutcome::kContinue, 0, "before", "info.example", "vrn/sendupdinfo.php"},
        {"UPDATE~Fantasy~f.exe~10~a", LineOutcome::kContinue, 1, "before", "info.example",
         "vrn/sendupdinfo.php"},
        {"Update~Fantasy~f.exe~10", LineOutcome::kContinue, 0, "before", "info.example",
         "vrn/sendupdinfo.php"},
        {"VeRsIoN~5.0 beta", LineOutcome::kContinue, 0, "5.0 beta", "info.example",
         "vrn/sendupdinfo.php"},
        {"version", LineOutcome::kContinue, 0, "before", "info.example", "vrn/sendupdinfo.php"},
        {"info~other.host:81", LineOutcome::kContinue, 0, "before", "other.host:81",
         "vrn/sendupdinfo.php"},
        {"INFO~h~p/x.php~extra", LineOutcome::kContinue, 0, "before", "h", "p/x.php"},
        {"updatever~3", LineOutcome::kContinue, 0, "before", "info.example",
         "vrn/sendupdinfo.php"},
        {"updatever~3.9", LineOutcome::kContinue, 0, "before", "info.example",
         "vrn/sendupdinfo.php"},
        {"updatever~x", LineOutcome::kContinue, 0, "before", "info.example",
         "vrn/sendupdinfo.php"},
        {"updatever", LineOutcome::kContinue, 0, "before", "info.example", "vrn/sendupdinfo.php"},
        {"updatever~4", LineOutcome::kTooNew, 0, "before", "info.example", "vrn/sendupdinfo.php"},
        {"newrecord~a~b", LineOutcome::kContinue, 0, "before", "info.example",
         "vrn/sendupdinfo.php"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        version = "before";
        entries = EntryArray{};
        infoServer = "info.example";
        infoPath = "vrn/sendupdinfo.php";
        LineResult r = Apply(c.line);
        EXPECT_EQ(r.outcome, c.outcome);
        EXPECT_EQ(entries.GetSize(), c.entries);
        EXPECT_EQ(version, c.version);
        EXPECT_EQ(infoServer, c.infoServer);
        EXPECT_EQ(infoPath, c.infoPath);
    }
    EXPECT_EQ(Apply("updatever~ 12abc").versionText, " 12abc");
}

TEST_F(DefinitionsTest, SizesAndChecksumsThatAreNotNumbers) {
    Apply("update~Fantasy~a.exe~first~zz");
    Apply("update~Fantasy~b.exe~-5~0x10");
    ASSERT_EQ(entries.GetSize(), 2u);
    EXPECT_EQ(entries[0].expectedSize, 0);
    EXPECT_EQ(entries[0].expectedChecksum, 0u);
    EXPECT_EQ(entries[1].expectedSize, -5);
    EXPECT_EQ(entries[1].expectedChecksum, 0x10u);
    Apply("update~Fantasy~c.exe~1~nothex");
    EXPECT_EQ(entries[2].expectedChecksum, 0u);  // never the previous record's value
}

TEST_F(DefinitionsTest, EquivalencesTakeEffectInFileOrder) {
    installed = {"A"};
    Apply("equiv~B~A");
    Apply("equiv~C~B");
    EXPECT_EQ(installed, (TextList{"A", "B", "C"}));
    installed = {"A"};
    Apply("equiv~C~B");
    Apply("equiv~B~A");
    EXPECT_EQ(installed, (TextList{"A", "B"}));
    installed = {"A"};
    Apply("equiv~B~a");  // matched without regard to case
    Apply("equiv~D");    // no second field: nothing
    EXPECT_EQ(installed, (TextList{"A", "B"}));
}

}  // namespace
}  // namespace fw
