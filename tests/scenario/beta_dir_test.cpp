// Choosing the beta installation folder at the first beta Install click: the proposal, the
// checks of the confirmed text, the registry, the environment and the folder browser.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "res/resource.h"
#include "res/strings.h"
#include "res/templates.h"
#include "tests/support/install_scenario.h"

namespace fw {
namespace {

namespace fs = std::filesystem;
using test::UpdaterRun;

class BetaDirTest : public test::InstallScenario {
protected:
    // The beta channel chosen before Check, one updater downloaded.
    void BetaDownloaded(HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        ASSERT_TRUE(w.Click(res::kIdBetaVersion));
        Downloaded(w, dlg, {{"Fantasy", "fantasy.exe"}, {"Sci Fi", "scifi.exe"}},
                   {"Fantasy", "Sci Fi"});
    }
    // The next run of the folder dialog: `script` sees it and acts.
    void OnBetaDialog(std::function<void(HeadlessWindow&)> script) {
        tp.ui.ScriptModal(res::kBetaDirDialog, std::move(script));
    }
    // Confirms `text` in the folder dialog.
    void Confirm(const std::string& text) {
        OnBetaDialog([text](HeadlessWindow& d) {
            ASSERT_TRUE(d.TypeText(res::kIdBetaDirEdit, text));
            ASSERT_TRUE(d.Click(IDOK));
        });
    }
    std::optional<std::string> Remembered() {
        auto key = tp.registry->CreateKey("Software\\Corvallen\\Fablewright");
        std::string value;
        if (!key || !key->QueryValue("BetaInstallDir", value, 261)) return std::nullopt;
        return value;
    }
    std::optional<std::string> Override() {
        return tp.processes->GetEnvironmentVariable("InstallPathOverride");
    }
    std::string Label(const std::string& folder) {
        for (const ControlTemplate& c : res::BetaDirDialogTemplate().controls) {
            if (c.id == res::kIdReleaseDirLabel) return Format(std::string(c.text), folder);
        }
        return {};
    }
};

TEST_F(BetaDirTest, FirstProposalIsTheReleaseFolderWithBetaAndItIsUsedFromThenOn) {
    const std::string proposed = installFolder + " Beta";
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        BetaDownloaded(w, dlg);
        OnBetaDialog([&](HeadlessWindow& d) {
            EXPECT_EQ(d.caption, "Select Beta Installation Directory");
            EXPECT_EQ(d.Text(res::kIdBetaDirEdit), proposed);
            EXPECT_EQ(d.Control(res::kIdBetaDirEdit).limit, 255);
            EXPECT_EQ(d.Text(res::kIdReleaseDirLabel), Label(installFolder));
            EXPECT_FALSE(w.Enabled(res::kIdInstall));  // while the question is open
            ASSERT_TRUE(d.Click(IDOK));
        });
        InstallNext(w, dlg);
        EXPECT_EQ(dlg.betaDir, proposed);
        InstallNext(w, dlg);  // the folder chosen serves the rest of the run: no second dialog
        EXPECT_EQ(dlg.workflowState, WorkflowState::Complete);
        w.Click(res::kIdExit);
    });
    EXPECT_TRUE(fs::is_directory(proposed));
    EXPECT_EQ(Remembered(), proposed);
    EXPECT_EQ(Override(), proposed);
    std::vector<UpdaterRun> runs = Runs();
    ASSERT_EQ(runs.size(), 2u);
    for (const UpdaterRun& run : runs) {
        EXPECT_EQ(run.env.at("InstallFlags"), "Beta");
        EXPECT_EQ(run.env.at("InstallPathOverride"), proposed);
    }
    EXPECT_EQ(tp.ui.modalRuns, (std::vector<int>{res::kMainDialog, res::kBetaDirDialog}));
}

TEST_F(BetaDirTest, TheNextRunProposesTheRememberedFolder) {
    const std::string chosen = tp.dir.Path("Elsewhere");
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        BetaDownloaded(w, dlg);
        Confirm(chosen);
        InstallNext(w, dlg);
        tp.ui.ExpectMessageBox(IDYES, "Exit Without Installing All?");
        w.Click(res::kIdExit);
    });
    ASSERT_EQ(Remembered(), chosen);
    tp.processes->UnsetEnvironmentVariable("InstallPathOverride");
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        BetaDownloaded(w, dlg);
        OnBetaDialog([&](HeadlessWindow& d) {
            EXPECT_EQ(d.Text(res::kIdBetaDirEdit), chosen);
            d.Click(IDCANCEL);
        });
        ASSERT_TRUE(w.Click(res::kIdInstall));
        EXPECT_EQ(Runs().size(), 1u);  // only the first run's updater ever ran
        tp.ui.ExpectMessageBox(IDYES, "Exit Without Installing All?");
        w.Click(res::kIdExit);
    });
}

TEST_F(BetaDirTest, RejectedFoldersAreShownAgainUntilOneIsAccepted) {
    tp.dir.Write("a file", "not a folder");
    struct Case {
        const char* what;
        std::string typed;
        int textId;
        bool named;  // the message names the folder
    };
    // The release folder however it is written: as the file system sees it, not as text.
    const std::string name = fs::path(installFolder).filename().string();
#ifdef _WIN32
    std::string upper = installFolder;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
#else
    const std::string upper = tp.dir.Path("link to the release");
    fs::create_directory_symlink(installFolder, upper);
#endif
    const Case cases[] = {
#ifdef _WIN32
        {"the release folder in other letter case", upper, 145, false},
#else
        {"the release folder through a symbolic link", upper, 145, false},
#endif
        {"the release folder with a separator at the end", installFolder + "/", 145, false},
        {"the release folder through its parent", installFolder + "/../" + name, 145, false},
        {"the release folder through a dot", installFolder + "/./", 145, false},
        {"a control character", tp.dir.Path("Beta\tTabbed"), 173, false},
        {"a folder whose parent is missing", tp.dir.Path("missing/Beta"), 146, true},
        {"a file of that name", tp.dir.Path("a file"), 147, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string accepted = tp.dir.Path("Accepted " + std::to_string(c.textId));
        tp.ui.messageBoxes.clear();
        tp.processes->UnsetEnvironmentVariable("InstallPathOverride");
        fs::remove(logPath);
        Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            BetaDownloaded(w, dlg);
            Confirm(c.typed);
            tp.ui.ExpectMessageBox(IDOK, "Error");
            OnBetaDialog([&](HeadlessWindow& d) {
                // OK to the message: the dialog again, with the text that was refused.
                EXPECT_EQ(d.Text(res::kIdBetaDirEdit), c.typed);
                EXPECT_EQ(Override(), std::nullopt);
                ASSERT_TRUE(d.TypeText(res::kIdBetaDirEdit, accepted));
                ASSERT_TRUE(d.Click(IDOK));
            });
            InstallNext(w, dlg);
            tp.ui.ExpectMessageBox(IDYES, "Exit Without Installing All?");
            w.Click(res::kIdExit);
        });
        ASSERT_EQ(tp.ui.messageBoxes.size(), 2u);
        const ShownMessageBox& box = tp.ui.messageBoxes[0];
        EXPECT_EQ(box.text, c.named ? Format(Text(c.textId), c.typed) : Text(c.textId));
        EXPECT_EQ(box.type, MB_OKCANCEL);
        EXPECT_TRUE(box.owned);
        if (c.textId == 146) {
            EXPECT_FALSE(fs::exists(c.typed));
        }
        EXPECT_EQ(Remembered(), accepted);
        EXPECT_EQ(Override(), accepted);
        std::vector<UpdaterRun> runs = Runs();
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0].env.at("InstallPathOverride"), accepted);
    }
}

TEST_F(BetaDirTest, CancelStartsNothingAndTheNextClickAsksAgain) {
    const std::string proposed = installFolder + " Beta";
    struct Case {
        const char* what;
        bool cancelInMessage;  // else Cancel in the dialog itself
    };
    for (const Case& c : {Case{"Cancel in the dialog", false}, Case{"Cancel in a message", true}}) {
        SCOPED_TRACE(c.what);
        Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            BetaDownloaded(w, dlg);
            if (c.cancelInMessage) {
                Confirm(installFolder);
                tp.ui.ExpectMessageBox(IDCANCEL, "Error");
            } else {
                OnBetaDialog([&](HeadlessWindow& d) {
                    ASSERT_TRUE(d.TypeText(res::kIdBetaDirEdit, tp.dir.Path("typed")));
                    ASSERT_TRUE(d.Click(IDCANCEL));
                });
            }
            ASSERT_TRUE(w.Click(res::kIdInstall));
            EXPECT_FALSE(dlg.processInfo.process);
            EXPECT_TRUE(w.timers.empty());
            EXPECT_TRUE(w.Enabled(res::kIdInstall));
            EXPECT_TRUE(w.Enabled(res::kIdUpdateList));
            EXPECT_EQ(w.Items(res::kIdUpdateList).size(), 2u);
            EXPECT_EQ(w.Text(res::kIdStatus), "Download complete.");
            EXPECT_TRUE(dlg.betaDir.empty());
            EXPECT_EQ(Override(), std::nullopt);
            EXPECT_EQ(Remembered(), std::nullopt);
            EXPECT_FALSE(fs::exists(tp.dir.Path("typed")));
            EXPECT_FALSE(fs::exists(proposed));

            // Asked again, with a fresh proposal rather than the text given up on.
            OnBetaDialog([&](HeadlessWindow& d) {
                EXPECT_EQ(d.Text(res::kIdBetaDirEdit), proposed);
                ASSERT_TRUE(d.Click(IDOK));
            });
            InstallNext(w, dlg);
            EXPECT_EQ(w.Items(res::kIdUpdateList), std::vector<std::string>{"Sci Fi"});
            tp.ui.ExpectMessageBox(IDYES, "Exit Without Installing All?");
            w.Click(res::kIdExit);
        });
        EXPECT_EQ(Override(), proposed);
        ASSERT_EQ(Runs().size(), 1u);
        EXPECT_EQ(Runs()[0].env.at("InstallPathOverride"), proposed);
        // The next case starts from nothing again.
        fs::remove(logPath);
        fs::remove(proposed);
        tp.processes->UnsetEnvironmentVariable("InstallPathOverride");
        tp.ClearRegistry();
        tp.RegisterInstallFolder(installFolder);
    }
}

TEST_F(BetaDirTest, BrowseStartsAtTheTypedFolderAndFillsInTheChoice) {
    const std::string typed = tp.dir.Path("typed");
    const std::string picked = tp.dir.Path("picked");
    fs::create_directories(picked);
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        BetaDownloaded(w, dlg);
        OnBetaDialog([&](HeadlessWindow& d) {
            ASSERT_TRUE(d.TypeText(res::kIdBetaDirEdit, typed));
            tp.ui.ExpectBrowse([](std::string_view, const std::string&) { return std::nullopt; });
            ASSERT_TRUE(d.Click(res::kIdBrowse));
            EXPECT_EQ(d.Text(res::kIdBetaDirEdit), typed);  // cancelled: unchanged
            tp.ui.ExpectBrowse([&](std::string_view, const std::string&) { return picked; });
            ASSERT_TRUE(d.Click(res::kIdBrowse));
            EXPECT_EQ(d.Text(res::kIdBetaDirEdit), picked);
            ASSERT_TRUE(d.Click(IDOK));
        });
        InstallNext(w, dlg);
        tp.ui.ExpectMessageBox(IDYES, "Exit Without Installing All?");
        w.Click(res::kIdExit);
    });
    EXPECT_EQ(tp.ui.browseTitles,
              (std::vector<std::string>{"Select Beta Install Directory",
                                        "Select Beta Install Directory"}));
    EXPECT_EQ(tp.ui.browseInitialFolders, (std::vector<std::string>{typed, typed}));
    EXPECT_EQ(Override(), picked);
    EXPECT_EQ(Remembered(), picked);
}

TEST_F(BetaDirTest, WithoutASettingsKeyTheFolderIsStillUsedButNotRemembered) {
    const std::string proposed = installFolder + " Beta";
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        BetaDownloaded(w, dlg);
        // The settings file has become unreadable since start-up: the key cannot be opened.
        tp.dir.Write("registry.reg", "this is not a registry export\n");
        OnBetaDialog([&](HeadlessWindow& d) {
            EXPECT_EQ(d.Text(res::kIdBetaDirEdit), proposed);
#ifndef _WIN32
            tp.ui.ExpectMessageBox(IDOK, "Error");  // ... and says so
#endif
            ASSERT_TRUE(d.Click(IDOK));
        });
        InstallNext(w, dlg);
        tp.ui.ExpectMessageBox(IDYES, "Exit Without Installing All?");
        w.Click(res::kIdExit);
    });
    EXPECT_EQ(Override(), proposed);
#ifndef _WIN32  // the settings file: the Windows registry cannot be broken this way
    ASSERT_FALSE(tp.ui.messageBoxes.empty());
    EXPECT_EQ(tp.ui.messageBoxes[0].text, Format(Text(res::kStrBetaNotRemembered), proposed));
    EXPECT_EQ(tp.ui.messageBoxes[0].type, MB_OK);
#endif
    EXPECT_EQ(tp.dir.Read("registry.reg"), "this is not a registry export\n");
    ASSERT_EQ(Runs().size(), 1u);
    EXPECT_EQ(Runs()[0].env.at("InstallPathOverride"), proposed);
}

}  // namespace
}  // namespace fw
