// What the dialog finds installed at start-up, from real install folders.

#include "discovery/inventory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "discovery/file_version.h"
#include "res/resource.h"
#include "session/update_downloader_dlg.h"
#include "tests/support/pe_writer.h"
#include "tests/support/test_platform.h"

namespace fw {
namespace {

using test::CommandLine;
using test::TestPlatform;

struct InventoryCase {
    const char* name;
    std::map<std::string, std::string> files;  // relative path -> contents
    TextList expected;                         // in any order after the first entry
};

void PrintTo(const InventoryCase& c, std::ostream* os) {
    *os << c.name;
}

std::string Template(const std::string& system) {
    return "[Configuration]\r\nGameSystem=" + system + "\r\n";
}

class InventoryAtStartUp : public testing::TestWithParam<InventoryCase> {};

TEST_P(InventoryAtStartUp, ListsWhatIsInstalled) {
    TestPlatform tp;
    std::string folder = tp.dir.Path("install");
    std::filesystem::create_directories(folder);
    for (const auto& [path, contents] : GetParam().files) tp.dir.Write("install/" + path, contents);
    tp.RegisterInstallFolder(folder);

    CommandLine cl{};
    CUpdateDownloaderDlg dlg(tp.platform(), cl.argc(), cl.argv());
    TextList found;
    tp.ui.ScriptModal(res::kMainDialog, [&](HeadlessWindow& w) {
        found = dlg.installedSystems;
        EXPECT_EQ(dlg.inventorySize, found.size());
        EXPECT_TRUE(w.Items(res::kIdUpdateList).empty());
        EXPECT_TRUE(w.Enabled(res::kIdCheck));
    });
    dlg.DoModal();

    // The directory's order decides the order of the templates; the product comes first.
    TextList expected = GetParam().expected;
    if (!expected.empty() && expected.front() == "Fablewright") {
        ASSERT_FALSE(found.empty());
        EXPECT_EQ(found.front(), "Fablewright");
        std::sort(expected.begin() + 1, expected.end());
        std::sort(found.begin() + 1, found.end());
    } else {
        std::sort(expected.begin(), expected.end());
        std::sort(found.begin(), found.end());
    }
    EXPECT_EQ(found, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, InventoryAtStartUp,
    testing::Values(
        InventoryCase{"NothingInstalled", {}, {}},
        InventoryCase{"OnlyOtherFiles", {{"readme.txt", "x"}, {"Fablewright.dll", "MZ"}}, {}},
        InventoryCase{"OnlyTheExecutable", {{"Fablewright.exe", "MZ"}}, {"Fablewright"}},
        InventoryCase{"ExecutableInOtherCase", {{"FABLEWRIGHT.EXE", "MZ"}}, {"Fablewright"}},
        InventoryCase{
            "TemplatesWithoutExecutable", {{"Fantasy.gsi", Template("Fantasy")}}, {"Fantasy"}},
        InventoryCase{"UsableAndUnusableTemplates",
                      {{"Fablewright.exe", "MZ"},
                       {"a.gsi", Template("Fantasy")},
                       {"empty.gsi", Template("")},
                       {"blank.gsi", "[Configuration]\nGameSystem=   \n"},
                       {"nosection.gsi", "GameSystem=Loose\n[Other]\nGameSystem=Wrong\n"},
                       {"nokey.gsi", "[Configuration]\nName=Nothing\n"},
                       {"zero.gsi", ""},
                       {"b.gsi", "[configuration]\ngamesystem = Science Fiction \n"}},
                      {"Fablewright", "Fantasy", "Science Fiction"}},
        InventoryCase{"SameNameTwice",
                      {{"one.gsi", Template("Fantasy")}, {"two.gsi", Template("Fantasy")}},
                      {"Fantasy", "Fantasy"}},
        InventoryCase{"NamesKeepTheirCase",
                      {{"one.gsi", Template("FanTasy")}, {"two.gsi", Template("fantasy")}},
                      {"FanTasy", "fantasy"}},
        InventoryCase{"UpperCaseExtensions",
                      {{"ONE.GSI", Template("Upper")}, {"two.Gsi", Template("Mixed")}},
                      {"Mixed", "Upper"}},
        InventoryCase{"SubfoldersAreNotSearched",
                      {{"sub/deep.gsi", Template("Deep")}, {"top.gsi", Template("Top")}},
                      {"Top"}},
        InventoryCase{"OtherExtensionsIgnored",
                      {{"old.gsi.bak", Template("Old")}, {"new.gsix", Template("New")}},
                      {}},
        InventoryCase{"LongNameCut",
                      {{"long.gsi", Template(std::string(300, 'n'))}},
                      {std::string(255, 'n')}}),
    [](const testing::TestParamInfo<InventoryCase>& info) { return std::string(info.param.name); });

TEST(Inventory, ExactOrderFollowsTheDirectorySearch) {
    TestPlatform tp;
    std::string folder = tp.dir.Path("install");
    for (const char* name : {"c", "a", "d", "b"}) {
        tp.dir.Write(std::string("install/") + name + ".gsi",
                     Template(std::string("System ") + name));
    }
    tp.dir.Write("install/Fablewright.exe", "MZ");
    tp.RegisterInstallFolder(folder);

    TextList expected = {"Fablewright"};
    for (const std::string& file : tp.files->FindFiles(folder + "/*.gsi")) {
        expected.push_back("System " + file.substr(0, 1));
    }
    CommandLine cl{};
    CUpdateDownloaderDlg dlg(tp.platform(), cl.argc(), cl.argv());
    tp.ui.ScriptModal(res::kMainDialog,
                      [&](HeadlessWindow&) { EXPECT_EQ(dlg.installedSystems, expected); });
    dlg.DoModal();
}

TEST(Inventory, AnotherInventoryStartsFromEmptyLists) {
    TestPlatform tp;
    std::string folder = tp.dir.Path("install");
    tp.dir.Write("install/Fantasy.gsi", Template("Fantasy"));
    tp.RegisterInstallFolder(folder);

    CommandLine cl{};
    CUpdateDownloaderDlg dlg(tp.platform(), cl.argc(), cl.argv());
    tp.ui.ScriptModal(res::kMainDialog, [&](HeadlessWindow& w) {
        dlg.updateList.InsertString(0, "Left over");
        dlg.installedSystems.push_back("Equivalent");
        tp.dir.Write("install/Fablewright.exe", "MZ");
        dlg.TakeInventory();
        EXPECT_TRUE(w.Items(res::kIdUpdateList).empty());
        EXPECT_EQ(dlg.installedSystems, (TextList{"Fablewright", "Fantasy"}));
        EXPECT_EQ(dlg.inventorySize, 2u);
    });
    dlg.DoModal();
}

TEST(Inventory, NotInstalledTakesNoInventory) {
    TestPlatform tp;
    tp.dir.Write("Fantasy.gsi", Template("Fantasy"));
    CommandLine cl{"-dir", tp.dir.path()};
    CUpdateDownloaderDlg dlg(tp.platform(), cl.argc(), cl.argv());
    tp.ui.ScriptModal(res::kMainDialog,
                      [&](HeadlessWindow&) { EXPECT_TRUE(dlg.installedSystems.empty()); });
    dlg.DoModal();
}

TEST(Inventory, VersionOfTheInstalledExecutable) {
    TestPlatform tp;
    std::string exe = tp.dir.Path("Fablewright.exe");
    ASSERT_TRUE(
        test::WriteBinaryFile(exe, test::MakePeWithVersion(test::PackVersion(3, 0, 12, 7))));
    EXPECT_EQ(FormatFileVersion(ReadFileVersion(*tp.files, exe)), "3.0.12.7");
}

TEST(ContainsName, IgnoresAsciiCaseOnly) {
    const TextList list = {"Fablewright", "Science Fiction", "Caf\xC3\xA9", "\xC3\xA9t\xC3\xA9"};
    struct Case {
        const char* name;
        bool contained;
    };
    const Case cases[] = {
        {"fablewright", true},
        {"FABLEWRIGHT", true},
        {"science fiction", true},
        {"Science  Fiction", false},
        {"Fablewright ", false},
        {"Fable", false},
        {"", false},
        {"CAF\xC3\xA9", true},   // ASCII letters fold, the UTF-8 sequence stays as it is
        {"CAF\xC3\x89", false},  // U+00C9 is not folded to U+00E9
        {"\xC3\xA9T\xC3\xA9", true},
        {"\xE3\xA9t\xC3\xA9", false},  // a lead byte is never folded either
        {"\xC3\xC9t\xC3\xA9", false},  // nor a trail byte that looks like a Latin-1 letter
    };
    for (const Case& c : cases) EXPECT_EQ(ContainsName(list, c.name), c.contained) << c.name;
    EXPECT_FALSE(ContainsName(TextList{}, "Fablewright"));
    EXPECT_TRUE(ContainsName(TextList{"a", "A"}, "a"));
}

}  // namespace
}  // namespace fw
