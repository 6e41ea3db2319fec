#include <gtest/gtest.h>

#include <string>

#include "platform/posix/ini_reader.h"

namespace fw {
namespace {

using namespace std::string_literals;

struct ProfileCase {
    const char* name;
    std::string text;
    std::string expected;  // of [Configuration] GameSystem with the default "dflt"
};

void PrintTo(const ProfileCase& c, std::ostream* os) {
    *os << c.name;
}

class ProfileLookup : public testing::TestWithParam<ProfileCase> {};

TEST_P(ProfileLookup, ReadsGameSystem) {
    const ProfileCase& c = GetParam();
    EXPECT_EQ(ReadProfileString(c.text, "Configuration", "GameSystem", "dflt", 256), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ProfileLookup,
    testing::Values(
        ProfileCase{"Plain", "[Configuration]\nGameSystem=Fantasy\n", "Fantasy"},
        ProfileCase{"CrLf", "[Configuration]\r\nGameSystem=Fantasy\r\nOther=1\r\n", "Fantasy"},
        ProfileCase{"LoneCr", "[Configuration]\rGameSystem=Fantasy\r", "Fantasy"},
        ProfileCase{"NoFinalNewline", "[Configuration]\nGameSystem=Fantasy", "Fantasy"},
        ProfileCase{"BlanksAroundEquals", "[Configuration]\n  GameSystem \t=  Fan tasy \t\n",
                    "Fan tasy"},
        ProfileCase{"BlanksInHeader", "  [ Configuration ]  \nGameSystem=Fantasy\n", "Fantasy"},
        ProfileCase{"TextAfterHeader", "[Configuration] ; main\nGameSystem=Fantasy\n", "Fantasy"},
        ProfileCase{"NamesIgnoreCase", "[CONFIGURATION]\ngamesystem=Fantasy\n", "Fantasy"},
        ProfileCase{"ValueKeepsCase", "[Configuration]\nGameSystem=FaNtAsY\n", "FaNtAsY"},
        ProfileCase{"EqualsInValue", "[Configuration]\nGameSystem=a=b=c\n", "a=b=c"},
        ProfileCase{"EmptyValueIsNotDefault", "[Configuration]\nGameSystem=\n", ""},
        ProfileCase{"BlankValue", "[Configuration]\nGameSystem=   \n", ""},
        ProfileCase{"DoubleQuotes", "[Configuration]\nGameSystem=\" Fantasy \"\n", " Fantasy "},
        ProfileCase{"SingleQuotes", "[Configuration]\nGameSystem='Fantasy'\n", "Fantasy"},
        ProfileCase{"OnlyOnePairRemoved", "[Configuration]\nGameSystem=\"\"x\"\"\n", "\"x\""},
        ProfileCase{"UnmatchedQuotesKept", "[Configuration]\nGameSystem=\"Fantasy'\n",
                    "\"Fantasy'"},
        ProfileCase{"LoneQuoteKept", "[Configuration]\nGameSystem=\"\n", "\""},
        ProfileCase{"EmptyQuotes", "[Configuration]\nGameSystem=\"\"\n", ""},
        ProfileCase{"FirstKeyWins", "[Configuration]\nGameSystem=One\nGameSystem=Two\n", "One"},
        ProfileCase{"KeyWithoutEqualsGivesDefault", "[Configuration]\nGameSystem\nGameSystem=X\n",
                    "dflt"},
        ProfileCase{"CommentLine", "[Configuration]\n;GameSystem=Old\nGameSystem=New\n", "New"},
        ProfileCase{"IndentedComment", "[Configuration]\n  ; GameSystem=Old\n", "dflt"},
        ProfileCase{"HashIsNotComment", "[Configuration]\n#GameSystem=Old\nGameSystem=New\n",
                    "New"},
        ProfileCase{"InlineSemicolonIsValue", "[Configuration]\nGameSystem=A ; B\n", "A ; B"},
        ProfileCase{"OtherSectionIgnored", "[Other]\nGameSystem=Wrong\n[Configuration]\nX=1\n",
                    "dflt"},
        ProfileCase{"KeyInLaterSection",
                    "[Other]\nGameSystem=Wrong\n[Configuration]\n"
                    "GameSystem=Right\n[Third]\nGameSystem=Wrong\n",
                    "Right"},
        ProfileCase{"KeysBeforeAnySection", "GameSystem=Top\n[Configuration]\nX=1\n", "dflt"},
        ProfileCase{"OnlyFirstDuplicateSectionRead",
                    "[Configuration]\nX=1\n[Other]\n[configuration]\nGameSystem=Second\n", "dflt"},
        ProfileCase{"FirstDuplicateSectionWins",
                    "[Configuration]\nGameSystem=First\n[Configuration]\nGameSystem=Second\n",
                    "First"},
        ProfileCase{"HeaderWithoutBracketIsKeyLine",
                    "[Configuration]\n[GameSystem=X\nGameSystem=Y\n", "Y"},
        ProfileCase{"NoSection", "GameSystem=Fantasy\n", "dflt"},
        ProfileCase{"EmptyText", "", "dflt"},
        ProfileCase{"ByteOrderMark", "\xEF\xBB\xBF[Configuration]\nGameSystem=Fantasy\n",
                    "Fantasy"},
        ProfileCase{"NulEndsValue", "[Configuration]\nGameSystem=Fan\0tasy\n"s, "Fan"},
        ProfileCase{"NulInEarlierLine",
                    "[Con\0fig]\nGameSystem=Wrong\n[Configuration]\n"
                    "Ot\0her=1\nGameSystem=Right\n"s,
                    "Right"},
        ProfileCase{"NulInName", "[Configuration]\nGame\0System=Wrong\n"s, "dflt"},
        ProfileCase{"EightBitValue", "[Configuration]\nGameSystem=Caf\xC3\xA9\n", "Caf\xC3\xA9"}),
    [](const testing::TestParamInfo<ProfileCase>& info) { return std::string(info.param.name); });

TEST(ProfileLookup, CutsValueToBufferMinusOne) {
    std::string text = "[Configuration]\nGameSystem=" + std::string(300, 'x') + "\n";
    EXPECT_EQ(ReadProfileString(text, "Configuration", "GameSystem", "", 256),
              std::string(255, 'x'));
    EXPECT_EQ(ReadProfileString(text, "Configuration", "GameSystem", "", 4), "xxx");
    EXPECT_EQ(ReadProfileString(text, "Configuration", "GameSystem", "", 1), "");
    EXPECT_EQ(ReadProfileString(text, "Configuration", "GameSystem", "", 0), "");
    // Quotes come off before the cut.
    EXPECT_EQ(ReadProfileString("[a]\nk=\"abcdef\"", "a", "k", "", 4), "abc");
}

TEST(ProfileLookup, DefaultLosesTrailingSpacesAndIsCut) {
    EXPECT_EQ(ReadProfileString("", "a", "k", " def  ", 256), " def");
    EXPECT_EQ(ReadProfileString("", "a", "k", "default", 4), "def");
    EXPECT_EQ(ReadProfileString("", "a", "k", "", 256), "");
}

TEST(ProfileLookup, NamelessSectionHoldsKeysBeforeFirstHeader) {
    std::string text = "k=top\n[a]\nk=inner\n";
    EXPECT_EQ(ReadProfileString(text, "", "k", "d", 256), "top");
    EXPECT_EQ(ReadProfileString(text, "a", "k", "d", 256), "inner");
}

TEST(ProfileLookup, HugeFileWithKeyAtTheEnd) {
    std::string text = "[Configuration]\n";
    for (int i = 0; i < 200000; ++i)
        text += "Key" + std::to_string(i) + "=" + std::string(20, 'v') + "\n";
    text += "GameSystem=Last";
    EXPECT_EQ(ReadProfileString(text, "Configuration", "GameSystem", "", 256), "Last");
    std::string longLine = "[Configuration]\nGameSystem=" + std::string(8u << 20, 'y');
    EXPECT_EQ(ReadProfileString(longLine, "Configuration", "GameSystem", "", 256),
              std::string(255, 'y'));
}

}  // namespace
}  // namespace fw
