#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/reg_file.h"

namespace fw {
namespace {

const std::string kHead = "Windows Registry Editor Version 5.00\r\n\r\n";
const std::string kKey = "[HKEY_CURRENT_USER\\Software\\Corvallen\\Fablewright";

std::vector<std::string> Path(std::string_view text) {
    std::vector<std::string> names;
    EXPECT_TRUE(SplitRegKeyPath(text, names)) << text;
    return names;
}

RegDocument Parse(std::string_view text) {
    RegParseResult parsed = ParseRegFile(text);
    EXPECT_TRUE(parsed.document) << parsed.error << " at line " << parsed.errorLine;
    return parsed.document ? *parsed.document : RegDocument{};
}

struct AcceptCase {
    const char* name;
    std::string text;
};

TEST(RegFileParse, AcceptsExportsAndWritesThemBackUnchanged) {
    const AcceptCase cases[] = {
        {"header only", "Windows Registry Editor Version 5.00\r\n"},
        {"header and blank line", kHead},
        {"byte order mark", "\xEF\xBB\xBF" + kHead + kKey + "]\r\n@=\"x\"\r\n\r\n"},
        {"LF line ends", "Windows Registry Editor Version 5.00\n\n" + kKey + "]\n@=\"x\"\n\n"},
        {"comments and blank lines",
         kHead + "; made by hand\r\n\r\n" + kKey + "]\r\n; the folder\r\n\r\n@=\"x\"\r\n\r\n"},
        {"named values of every kind",
         kHead + kKey +
             "]\r\n\"Name\"=\"va\\\"lue\"\r\n\"Count\"=dword:0000002a\r\n"
             "\"Blob\"=hex:01,02,ff\r\n\"Empty\"=hex:\r\n\"Gone\"=-\r\n"
             "\"Path\"=hex(2):25,00,41,00,\\\r\n  42,00,00,00\r\n\r\n"},
        {"other hives and deletion sections",
         kHead + "[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n@=\"y\"\r\n\r\n[-" + kKey.substr(1) +
             "\\Old]\r\n\r\n"},
        {"blanks around the equals sign", kHead + kKey + "]\r\n@ = \"x\"\r\n\"N\" =dword:1\r\n"},
        {"non-ASCII bytes", kHead + kKey + "]\r\n@=\"C:\\\\Spiele\\\\M\xC3\xBCller\"\r\n"},
    };
    for (const AcceptCase& c : cases) {
        SCOPED_TRACE(c.name);
        RegParseResult parsed = ParseRegFile(c.text);
        ASSERT_TRUE(parsed.document) << parsed.error << " at line " << parsed.errorLine;
        EXPECT_EQ(SerializeRegFile(*parsed.document), c.text);
    }
}

TEST(RegFileParse, EmptyFileIsAnEmptyRegistry) {
    RegDocument document = Parse("");
    EXPECT_EQ(SerializeRegFile(document), kHead);
    EXPECT_FALSE(RegKeyExists(document, Path("Software")));
}

struct RejectCase {
    const char* name;
    std::string text;
    std::size_t line;
};

TEST(RegFileParse, RejectsDamagedText) {
    const RejectCase cases[] = {
        {"wrong header", "Windows Registry Editor Version 4.00\r\n", 1},
        {"older format", "REGEDIT4\r\n\r\n" + kKey + "]\r\n@=\"x\"\r\n", 1},
        {"byte order mark only", "\xEF\xBB\xBF", 1},
        {"garbage", "this is not a registry file\nat all\n", 1},
        {"torn section header", kHead + "[HKEY_CURRENT_USER\\Softw", 3},
        {"torn value", kHead + kKey + "]\r\n@=\"C:\\\\Ga", 4},
        {"invalid escape", kHead + kKey + "]\r\n@=\"C:\\Games\"\r\n", 4},
        {"escape at the end of a line", kHead + kKey + "]\r\n@=\"C:\\\r\n", 4},
        {"zero byte", kHead + kKey + "]\r\n@=\"a" + std::string(1, '\0') + "b\"\r\n", 4},
        {"binary junk", kHead + "\x01\x02\xff\xfe\x7f\x80", 3},
        {"lone carriage return", kHead + kKey + "]\r@=\"x\"\r\n", 3},
        {"value before any section", kHead + "@=\"x\"\r\n", 3},
        {"plain text in a section", kHead + kKey + "]\r\nInstallDir=C:\\x\r\n", 4},
        {"continued hex value at the end", kHead + kKey + "]\r\n\"B\"=hex:01,\\\r\n", 4},
        {"malformed dword", kHead + kKey + "]\r\n\"N\"=dword:123456789\r\n", 4},
        {"dword without digits", kHead + kKey + "]\r\n\"N\"=dword:\r\n", 4},
        {"bad hex byte", kHead + kKey + "]\r\n\"B\"=hex:01,0g\r\n", 4},
        {"hex byte too long", kHead + kKey + "]\r\n\"B\"=hex:012\r\n", 4},
        {"empty hex type", kHead + kKey + "]\r\n\"B\"=hex():01\r\n", 4},
        {"unknown value type", kHead + kKey + "]\r\n\"B\"=qword:01\r\n", 4},
        {"missing equals sign", kHead + kKey + "]\r\n@\"x\"\r\n", 4},
        {"text after a value", kHead + kKey + "]\r\n@=\"x\" junk\r\n", 4},
        {"unterminated value name", kHead + kKey + "]\r\n\"Name=\"x\r\n", 4},
        {"section without a hive", kHead + "[Software\\Corvallen]\r\n", 3},
        {"empty key name", kHead + "[HKEY_CURRENT_USER\\\\Software]\r\n", 3},
        {"empty header", kHead + "[]\r\n", 3},
    };
    for (const RejectCase& c : cases) {
        SCOPED_TRACE(c.name);
        RegParseResult parsed = ParseRegFile(c.text);
        EXPECT_FALSE(parsed.document);
        EXPECT_FALSE(parsed.error.empty());
        EXPECT_EQ(parsed.errorLine, c.line) << parsed.error;
    }
}

TEST(RegFileParse, RefusesTextAboveTheSizeLimit) {
    std::string text = kHead + kKey + "]\r\n";
    std::string filler = "; " + std::string(1000, 'x') + "\r\n";
    while (text.size() <= kMaxRegFileSize - filler.size()) text += filler;
    ASSERT_TRUE(ParseRegFile(text).document);  // just below the limit is fine
    text += filler;
    ASSERT_GT(text.size(), kMaxRegFileSize);
    EXPECT_FALSE(ParseRegFile(text).document);
}

struct LookupCase {
    const char* name;
    std::string body;  // sections after the header
    const char* key;
    RegDefaultState state;
    const char* text;
};

TEST(RegFileLookup, AppliesSectionsInOrderAsAnImportWould) {
    const std::string k = "[HKEY_CURRENT_USER\\Software\\Corvallen\\Fablewright";
    const LookupCase cases[] = {
        {"missing key", k + "]\r\n", "Software\\Corvallen\\Fablewright\\InstallDir",
         RegDefaultState::kNoKey, ""},
        {"escapes undone", k + "\\InstallDir]\r\n@=\"C:\\\\Games\\\\\\\"Q\\\"\"\r\n",
         "Software\\Corvallen\\Fablewright\\InstallDir", RegDefaultState::kText,
         "C:\\Games\\\"Q\""},
        {"letter case of keys and hive does not matter",
         "[hkey_current_user\\SOFTWARE\\corvallen\\FableWright\\installdir]\r\n@=\"D:\\\\F\"\r\n",
         "Software\\Corvallen\\Fablewright\\InstallDir", RegDefaultState::kText, "D:\\F"},
        {"empty value", k + "\\InstallDir]\r\n@=\"\"\r\n",
         "Software\\Corvallen\\Fablewright\\InstallDir", RegDefaultState::kText, ""},
        {"key without a default value", k + "\\InstallDir]\r\n\"Other\"=\"x\"\r\n",
         "Software\\Corvallen\\Fablewright\\InstallDir", RegDefaultState::kNoValue, ""},
        {"parent exists through a key below it", k + "\\wright\\Source Directory]\r\n",
         "Software\\Corvallen\\Fablewright\\wright", RegDefaultState::kNoValue, ""},
        {"named value is not the default one", k + "\\InstallDir]\r\n\"@\"=\"x\"\r\n",
         "Software\\Corvallen\\Fablewright\\InstallDir", RegDefaultState::kNoValue, ""},
        {"later section wins",
         k + "\\InstallDir]\r\n@=\"old\"\r\n\r\n" + k + "\\INSTALLDIR]\r\n@=\"new\"\r\n",
         "Software\\Corvallen\\Fablewright\\InstallDir", RegDefaultState::kText, "new"},
        {"later line wins", k + "\\InstallDir]\r\n@=\"old\"\r\n@=\"new\"\r\n",
         "Software\\Corvallen\\Fablewright\\InstallDir", RegDefaultState::kText, "new"},
        {"deleted value", k + "\\InstallDir]\r\n@=\"old\"\r\n@=-\r\n",
         "Software\\Corvallen\\Fablewright\\InstallDir", RegDefaultState::kNoValue, ""},
        {"deleted key",
         k + "\\InstallDir]\r\n@=\"old\"\r\n\r\n[-" + k.substr(1) + "\\InstallDir]\r\n",
         "Software\\Corvallen\\Fablewright\\InstallDir", RegDefaultState::kNoKey, ""},
        {"deleted parent", k + "\\InstallDir]\r\n@=\"old\"\r\n\r\n[-" + k.substr(1) + "]\r\n",
         "Software\\Corvallen\\Fablewright\\InstallDir", RegDefaultState::kNoKey, ""},
        {"created again after deletion",
         "[-" + k.substr(1) + "]\r\n\r\n" + k + "\\InstallDir]\r\n@=\"again\"\r\n",
         "Software\\Corvallen\\Fablewright\\InstallDir", RegDefaultState::kText, "again"},
        {"deletion of a sibling does not matter",
         k + "\\InstallDir]\r\n@=\"kept\"\r\n\r\n[-" + k.substr(1) + "\\InstallDirX]\r\n",
         "Software\\Corvallen\\Fablewright\\InstallDir", RegDefaultState::kText, "kept"},
        {"value that is not text", k + "\\InstallDir]\r\n@=dword:00000001\r\n",
         "Software\\Corvallen\\Fablewright\\InstallDir", RegDefaultState::kNotText, ""},
        {"other hive does not count",
         "[HKEY_LOCAL_MACHINE\\Software\\Corvallen\\Fablewright\\InstallDir]\r\n@=\"x\"\r\n",
         "Software\\Corvallen\\Fablewright\\InstallDir", RegDefaultState::kNoKey, ""},
        {"a longer name is another key", k + "\\InstallDirectory]\r\n@=\"x\"\r\n",
         "Software\\Corvallen\\Fablewright\\InstallDir", RegDefaultState::kNoKey, ""},
    };
    for (const LookupCase& c : cases) {
        SCOPED_TRACE(c.name);
        RegDocument document = Parse(kHead + c.body);
        RegDefaultValue found = FindRegDefault(document, Path(c.key));
        EXPECT_EQ(found.state, c.state);
        EXPECT_EQ(found.text, c.text);
    }
}

TEST(RegFileChange, ReplacesTheDefaultLineInPlaceAndKeepsEverythingElse) {
    const std::string before = kHead + "; by hand\r\n" + kKey +
                               "\\InstallDir]\r\n\"Flags\"=dword:00000003\r\n@=\"old\"\r\n"
                               "\"Blob\"=hex:01,\\\r\n  02\r\n\r\n"
                               "[HKEY_LOCAL_MACHINE\\Software\\X]\r\n@=\"m\"\r\n";
    RegDocument document = Parse(before);
    EXPECT_TRUE(
        SetRegDefault(document, Path("software\\corvallen\\fablewright\\installdir"), "new"));
    std::string expected = before;
    expected.replace(expected.find("@=\"old\""), 7, "@=\"new\"");
    EXPECT_EQ(SerializeRegFile(document), expected);
}

TEST(RegFileChange, AddsTheDefaultLineFirstInAnExistingSection) {
    RegDocument document = Parse(kHead + kKey + "\\InstallDir]\r\n\"Flags\"=dword:3\r\n");
    EXPECT_TRUE(SetRegDefault(document, Path("Software\\Corvallen\\Fablewright\\InstallDir"), "x"));
    EXPECT_EQ(SerializeRegFile(document),
              kHead + kKey + "\\InstallDir]\r\n@=\"x\"\r\n\"Flags\"=dword:3\r\n");
}

TEST(RegFileChange, SameValueChangesNothing) {
    const std::string text = kHead + kKey + "\\InstallDir]\r\n@=\"x\"\r\n";
    RegDocument document = Parse(text);
    EXPECT_FALSE(
        SetRegDefault(document, Path("Software\\Corvallen\\Fablewright\\InstallDir"), "x"));
    EXPECT_FALSE(AddRegKey(document, Path("SOFTWARE\\Corvallen\\Fablewright\\InstallDir")));
    EXPECT_FALSE(AddRegKey(document, Path("Software\\Corvallen")));  // exists through its child
    EXPECT_EQ(SerializeRegFile(document), text);
}

TEST(RegFileChange, ValueAfterADeletionGoesIntoANewSection) {
    const std::string text = kHead + kKey + "\\InstallDir]\r\n@=\"old\"\r\n\r\n[-" +
                             kKey.substr(1) + "]\r\n";  // no blank line at the end
    RegDocument document = Parse(text);
    EXPECT_TRUE(SetRegDefault(document, Path("Software\\Corvallen\\Fablewright\\InstallDir"), "x"));
    EXPECT_EQ(SerializeRegFile(document),
              text + "\r\n" +
                  "[HKEY_CURRENT_USER\\Software\\Corvallen\\Fablewright\\InstallDir]"
                  "\r\n@=\"x\"\r\n\r\n");
    RegDefaultValue found = FindRegDefault(Parse(SerializeRegFile(document)),
                                           Path("Software\\Corvallen\\Fablewright\\InstallDir"));
    EXPECT_EQ(found.state, RegDefaultState::kText);
    EXPECT_EQ(found.text, "x");
}

TEST(RegFileChange, KeepsTheLineEndsAndMarkOfTheFile) {
    RegDocument document = Parse("\xEF\xBB\xBFWindows Registry Editor Version 5.00\n\n; lf file\n");
    EXPECT_TRUE(SetRegDefault(document, Path("Software\\A"), "v"));
    EXPECT_EQ(SerializeRegFile(document),
              "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n\n; lf file\n\n"
              "[HKEY_CURRENT_USER\\Software\\A]\n@=\"v\"\n\n");
}

TEST(RegFileText, EscapedTextReadsBackAsWritten) {
    const char* texts[] = {"",       "plain",     "C:\\Games\\",  "\"quoted\"", "\\\\server\\share",
                           "a\\\"b", "tab\there", "M\xC3\xBCller"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        RegDocument document = NewRegDocument();
        ASSERT_TRUE(RegValueStorable(text));
        SetRegDefault(document, Path("K"), text);
        RegDefaultValue found = FindRegDefault(Parse(SerializeRegFile(document)), Path("K"));
        EXPECT_EQ(found.state, RegDefaultState::kText);
        EXPECT_EQ(found.text, text);
    }
    EXPECT_FALSE(RegValueStorable("two\nlines"));
    EXPECT_FALSE(RegValueStorable("cr\r"));
}

struct SplitCase {
    const char* path;
    bool ok;
    std::vector<std::string> names;
};

TEST(RegFileText, SplitsKeyPaths) {
    const SplitCase cases[] = {
        {"", true, {}},
        {"InstallDir", true, {"InstallDir"}},
        {"wright\\Source Directory", true, {"wright", "Source Directory"}},
        {"\\Software", false, {}},
        {"Software\\", false, {}},
        {"Software\\\\Corvallen", false, {}},
        {"bad\nname", false, {}},
    };
    for (const SplitCase& c : cases) {
        SCOPED_TRACE(c.path);
        std::vector<std::string> names;
        EXPECT_EQ(SplitRegKeyPath(c.path, names), c.ok);
        if (c.ok) {
            EXPECT_EQ(names, c.names);
        }
    }
    std::vector<std::string> names;
    EXPECT_TRUE(SplitRegKeyPath(std::string(255, 'k'), names));
    EXPECT_FALSE(SplitRegKeyPath(std::string(256, 'k'), names));
}

}  // namespace
}  // namespace fw
