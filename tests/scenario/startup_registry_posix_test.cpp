// Where start-up finds the install folder: the settings key in the registry file, its two
// sub-keys, and the "-dir" option, as the user sees the result in the main dialog.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "res/resource.h"
#include "res/strings.h"
#include "session/update_downloader_dlg.h"
#include "tests/support/test_platform.h"

namespace fw {
namespace {

using test::CommandLine;
using test::TestPlatform;

const std::string kHead = "Windows Registry Editor Version 5.00\r\n\r\n";
const std::string kKey = "[HKEY_CURRENT_USER\\Software\\Corvallen\\Fablewright";

// What the user sees once the dialog is up.
struct StartupView {
    std::string instructions;
    std::string folder;
    bool checkEnabled = false;
    int focus = 0;
};

class StartupRegistryTest : public ::testing::Test {
  protected:
    // Starts the dialog; `inventory` receives the installed systems it found.
    StartupView Run(const CommandLine& cl, TextList* inventory = nullptr) {
        StartupView view;
        CUpdateDownloaderDlg dlg(tp.platform(), cl.argc(), cl.argv());
        tp.ui.ScriptModal(res::kMainDialog, [&](HeadlessWindow& w) {
            view.instructions = w.Text(res::kIdInstructions);
            view.folder = w.Text(res::kIdFolder);
            view.checkEnabled = w.Enabled(res::kIdCheck);
            view.focus = w.focus;
        });
        dlg.DoModal();
        if (inventory) *inventory = dlg.installedSystems;
        return view;
    }

    std::string RegistryName() const {
        return std::filesystem::path(tp.registryPath()).filename().string();
    }
    std::string RegistryText() const { return tp.dir.Read(RegistryName()); }
    void WriteRegistry(const std::string& text) { tp.dir.Write(RegistryName(), text); }

    static std::string StepOne() { return Format(res::LoadString(res::kStrStep1), 1); }
    static std::string NotInstalled() {
        return std::string(res::LoadString(res::kStrNotInstalled));
    }

    void ExpectFound(const StartupView& view, const std::string& folder) const {
        EXPECT_EQ(view.instructions, StepOne());
        EXPECT_EQ(view.folder, folder);
        EXPECT_TRUE(view.checkEnabled);
        EXPECT_EQ(view.focus, res::kIdCheck);
    }
    void ExpectNotInstalled(const StartupView& view) const {
        EXPECT_EQ(view.instructions, NotInstalled());
        EXPECT_EQ(view.folder, "--");
        EXPECT_FALSE(view.checkEnabled);
        EXPECT_EQ(view.focus, res::kIdExit);
    }

    TestPlatform tp;
};

struct LookupCase {
    const char* name;
    std::string sections;               // below the header
    std::optional<std::string> folder;  // nothing: not installed
};

TEST_F(StartupRegistryTest, InstallFolderComesFromTheFirstSubKeyThatHasIt) {
    const std::string longValue(260, 'x');  // with its terminator it does not fit 260 bytes
    const LookupCase cases[] = {
        {"InstallDir", kKey + "\\InstallDir]\r\n@=\"C:\\\\Games\\\\Fablewright\"\r\n",
         "C:\\Games\\Fablewright"},
        {"Source Directory when InstallDir is missing",
         kKey + "\\wright\\Source Directory]\r\n@=\"D:\\\\FW\"\r\n", "D:\\FW"},
        {"InstallDir before Source Directory",
         kKey + "\\InstallDir]\r\n@=\"first\"\r\n\r\n" + kKey +
             "\\wright\\Source Directory]\r\n@=\"second\"\r\n",
         "first"},
        // An empty folder would be the root of the disk: it names no installation.
        {"empty value", kKey + "\\InstallDir]\r\n@=\"\"\r\n", std::nullopt},
        {"sub-key without a default value",
         kKey + "\\InstallDir]\r\n\"Other\"=\"x\"\r\n", std::nullopt},
        {"empty value falls through to Source Directory",
         kKey + "\\InstallDir]\r\n@=\"\"\r\n\r\n" + kKey +
             "\\wright\\Source Directory]\r\n@=\"second\"\r\n",
         "second"},
        {"value too long for the buffer falls through to Source Directory",
         kKey + "\\InstallDir]\r\n@=\"" + longValue + "\"\r\n\r\n" + kKey +
             "\\wright\\Source Directory]\r\n@=\"short\"\r\n",
         "short"},
        {"value too long and no Source Directory",
         kKey + "\\InstallDir]\r\n@=\"" + longValue + "\"\r\n", std::nullopt},
        {"key present without either sub-key", kKey + "]\r\n", std::nullopt},
    };
    for (const LookupCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = kHead + c.sections;
        WriteRegistry(text);
        StartupView view = Run(CommandLine{});
        if (c.folder) {
            ExpectFound(view, *c.folder);
        } else {
            ExpectNotInstalled(view);
        }
        // The key is there, so start-up only reads.
        EXPECT_EQ(RegistryText(), text);
    }
}

TEST_F(StartupRegistryTest, MissingKeyIsCreatedEmpty) {
    ASSERT_FALSE(tp.dir.Exists(RegistryName()));
    ExpectNotInstalled(Run(CommandLine{}));
    EXPECT_EQ(RegistryText(), kHead + kKey + "]\r\n\r\n");
    // The second start finds the key, still without an install folder, and writes nothing.
    ExpectNotInstalled(Run(CommandLine{}));
    EXPECT_EQ(RegistryText(), kHead + kKey + "]\r\n\r\n");
}

TEST_F(StartupRegistryTest, DamagedRegistryFileShowsNotInstalledAndIsLeftAsItWas) {
    const std::string damaged[] = {
        kHead + kKey + "\\InstallDir]\r\n@=\"C:\\\\Gam",  // torn while written
        kHead + kKey + "\\InstallDir",                    // torn section line
        std::string("PK\x03\x04\x14\0\0\0\x08\0", 10),    // something else entirely
        "InstallDir=C:\\Games\\Fablewright\r\n",          // not the export format
    };
    for (const std::string& text : damaged) {
        SCOPED_TRACE(text);
        WriteRegistry(text);
        ExpectNotInstalled(Run(CommandLine{}));
        ExpectNotInstalled(Run(CommandLine{"-dir", tp.dir.Path("elsewhere")}));
        EXPECT_EQ(RegistryText(), text);
    }
}

TEST_F(StartupRegistryTest, DirOptionNeedsTheRegistryEntry) {
    const std::string given = tp.dir.Path("Given");
    std::filesystem::create_directories(given);
    tp.dir.Write("Given/Fablewright.exe", "MZ");

    // Without an entry "-dir" does not stand in for the registry.
    ExpectNotInstalled(Run(CommandLine{"-dir", given}));

    // With one, the folder given replaces the registered one.
    tp.RegisterInstallFolder(tp.dir.Path("Registered"));
    TextList inventory;
    ExpectFound(Run(CommandLine{"-dir", given}, &inventory), given);
    EXPECT_EQ(inventory, TextList{"Fablewright"});  // taken in the given folder
    // An empty one names no folder at all.
    ExpectNotInstalled(Run(CommandLine{"-dir", ""}, &inventory));
    EXPECT_TRUE(inventory.empty());
}

}  // namespace
}  // namespace fw
