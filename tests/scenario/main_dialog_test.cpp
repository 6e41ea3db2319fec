// The main dialog without a server: start-up, the command line, the list, Cancel, Exit, the
// system menu and painting, driven as a user would through the headless host.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "app/about_dlg.h"
#include "app/app.h"
#include "discovery/signed_definitions.h"
#include "res/resource.h"
#include "res/strings.h"
#include "session/update_downloader_dlg.h"
#include "tests/support/test_platform.h"
#include "tests/support/test_signer.h"

namespace fw {
namespace {

using test::CommandLine;
using test::TestPlatform;

class MainDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        installFolder = tp.dir.Path("Fablewright");
        std::filesystem::create_directories(installFolder);
        tp.dir.Write("Fablewright/Fablewright.exe", "MZ");
        tp.dir.Write("Fablewright/Fantasy.gsi", "[Configuration]\nGameSystem=Fantasy\n");
    }

    // Runs the dialog; `script` acts as the user while it is open.
    std::intptr_t Run(const CommandLine& cl, std::function<void(HeadlessWindow&, CUpdateDownloaderDlg&)> script) {
        CUpdateDownloaderDlg dlg(tp.platform(), cl.argc(), cl.argv());
        tp.ui.ScriptModal(res::kMainDialog, [&](HeadlessWindow& w) { script(w, dlg); });
        return dlg.DoModal();
    }

    // Puts names into the list as a successful check would have.
    static void List(CUpdateDownloaderDlg& dlg, std::initializer_list<const char*> names) {
        int i = 0;
        for (const char* n : names) dlg.updateList.InsertString(i++, n);
    }

    TestPlatform tp;
    std::string installFolder;
};

std::string Text(int id) { return std::string(res::LoadString(id)); }

TEST_F(MainDialogTest, StartUpWithTheProductInstalledShowsStepOne) {
    tp.RegisterInstallFolder(installFolder);
    Run(CommandLine{}, [&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        EXPECT_EQ(w.Text(res::kIdInstructions), Format(Text(105), 1));
        EXPECT_EQ(w.Text(res::kIdFolder), installFolder);
        EXPECT_EQ(w.Text(res::kIdTimeRemaining), "");
        EXPECT_EQ(dlg.stepNumber, 1);
        EXPECT_EQ(dlg.workflowState, WorkflowState::Initial);
        EXPECT_TRUE(w.Enabled(res::kIdCheck));
        EXPECT_TRUE(w.IsDefault(res::kIdCheck));
        EXPECT_EQ(w.focus, res::kIdCheck);
        for (int id : {res::kIdDownload, res::kIdInstall, res::kIdCancel}) {
            EXPECT_FALSE(w.Enabled(id)) << id;
        }
        for (int id : {res::kIdExit, res::kIdBetaVersion, res::kIdUpdateList}) {
            EXPECT_TRUE(w.Enabled(id)) << id;
        }
        EXPECT_FALSE(w.Checked(res::kIdBetaVersion));
        EXPECT_EQ(dlg.installedSystems, (TextList{"Fablewright", "Fantasy"}));
        EXPECT_TRUE(dlg.autoInstall);
        EXPECT_EQ(dlg.startupInfo.size, 68u);
        // The about entry follows a separator in the system menu.
        ASSERT_EQ(w.systemMenu.size(), 2u);
        EXPECT_EQ(w.systemMenu[0].first, MF_SEPARATOR);
        EXPECT_EQ(w.systemMenu[1].second, "&About Fablewright Update Downloader...");
        EXPECT_EQ(w.systemMenuIds[1], 0x0010u);
        EXPECT_NE(w.bigIcon, nullptr);
        EXPECT_EQ(w.bigIcon, w.smallIcon);
        EXPECT_EQ(dlg.updateServer, Text(107));
        EXPECT_EQ(dlg.releaseDefinitionsFile, "FablewrightUpdates.txt");
        EXPECT_EQ(dlg.betaDefinitionsFile, "FablewrightBetaUpdates.txt");
        EXPECT_EQ(dlg.infoPath, "vrn/sendupdinfo.php");
        EXPECT_EQ(dlg.infoServer, res::kDefaultInfoServer);
        w.Click(res::kIdExit);
    });
}

TEST_F(MainDialogTest, StartUpWithoutTheProductLeavesOnlyExit) {
    // No key at all: it is created empty, and the not-installed text is shown without a box.
    Run(CommandLine{"-dir", installFolder}, [&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        EXPECT_EQ(w.Text(res::kIdInstructions), Text(104));
        EXPECT_EQ(w.Text(res::kIdFolder), "--");
        EXPECT_EQ(w.focus, res::kIdExit);
        EXPECT_EQ(dlg.stepNumber, 0);
        EXPECT_TRUE(dlg.installedSystems.empty());
        for (int id : {res::kIdCheck, res::kIdDownload, res::kIdInstall, res::kIdCancel}) {
            EXPECT_FALSE(w.Enabled(id)) << id;
        }
        EXPECT_TRUE(w.Click(res::kIdExit));
    });
    EXPECT_TRUE(tp.ui.messageBoxes.empty());
    auto key = tp.registry->CreateKey("Software\\Corvallen\\Fablewright");
    ASSERT_TRUE(key);
    std::string value;
    EXPECT_FALSE(key->QueryValue("InstallDir", value, 260));
}

TEST_F(MainDialogTest, CommandLineScan) {
    tp.RegisterInstallFolder(installFolder);
    std::string other = tp.dir.Path("Other");
    std::filesystem::create_directories(other);
    std::string longDir(300, 'd');
    struct Case {
        CommandLine args;
        std::string server, infoServer, infoPath, release, beta, folder;
    };
    const std::string kServer = Text(107);
    const std::string kInfo(res::kDefaultInfoServer);
    const std::string kPath(res::kDefaultInfoPath);
    const std::string kRel = "FablewrightUpdates.txt", kBeta = "FablewrightBetaUpdates.txt";
    const Case cases[] = {
        {CommandLine{}, kServer, kInfo, kPath, kRel, kBeta, installFolder},
        {CommandLine{"-server"}, kServer, kInfo, kPath, kRel, kBeta, installFolder},
        {CommandLine{"-SERVER", "h"}, kServer, kInfo, kPath, kRel, kBeta, installFolder},
        {CommandLine{"-server", "-dir", other}, "-dir", kInfo, kPath, kRel, kBeta, installFolder},
        {CommandLine{"-updates", "a.txt", "-updates", "b.txt"}, kServer, kInfo, kPath, "b.txt",
         kBeta, installFolder},
        {CommandLine{"-beta", "x.txt", "-infoserver", "127.0.0.1:81", "-infourl", "p/q.php"},
         kServer, "127.0.0.1:81", "p/q.php", kRel, "x.txt", installFolder},
        {CommandLine{"stray", "-server", "h:8080", "tail"}, "h:8080", kInfo, kPath, kRel, kBeta,
         installFolder},
        {CommandLine{"-dir", other}, kServer, kInfo, kPath, kRel, kBeta, other},
        {CommandLine{"-dir", longDir}, kServer, kInfo, kPath, kRel, kBeta, longDir.substr(0, 259)},
        {CommandLine{"-server", "-", "-server"}, "-", kInfo, kPath, kRel, kBeta, installFolder},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.server + " " + c.folder);
        Run(c.args, [&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            EXPECT_EQ(dlg.updateServer, c.server);
            EXPECT_EQ(dlg.infoServer, c.infoServer);
            EXPECT_EQ(dlg.infoPath, c.infoPath);
            EXPECT_EQ(dlg.releaseDefinitionsFile, c.release);
            EXPECT_EQ(dlg.betaDefinitionsFile, c.beta);
            EXPECT_EQ(dlg.InstallFolder(), c.folder);
            EXPECT_EQ(w.Text(res::kIdFolder), c.folder);
            w.Click(res::kIdExit);
        });
    }
}

TEST_F(MainDialogTest, DirOptionChangesTheInventoriedFolder) {
    tp.RegisterInstallFolder(installFolder);
    tp.dir.Write("Other/SciFi.gsi", "[Configuration]\nGameSystem=Sci Fi\n");
    Run(CommandLine{"-dir", tp.dir.Path("Other")}, [&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        EXPECT_EQ(dlg.installedSystems, TextList{"Sci Fi"});
        w.Click(res::kIdExit);
    });
}

TEST_F(MainDialogTest, DoubleClickOnTheList) {
    tp.RegisterInstallFolder(installFolder);
    struct Case {
        const char* what;
        WorkflowState state;
        int initialCount;  // names listed before the double-click
        int clicked;       // -1: nothing selected
        std::vector<std::string> remaining;
        WorkflowState stateAfter;
        std::string status;
        std::string instructions;  // empty: unchanged
    };
    const Case cases[] = {
        {"empty list before any check", WorkflowState::Initial, 0, -1, {},
         WorkflowState::Complete, "Update complete.", Text(120)},
        {"remove one while listed", WorkflowState::Listed, 3, 1, {"A", "C"},
         WorkflowState::Listed, "", ""},
        {"remove the last while listed", WorkflowState::Listed, 1, 0, {},
         WorkflowState::Complete, "Update complete.", Text(120)},
        {"nothing selected while listed", WorkflowState::Listed, 2, -1, {"A", "B"},
         WorkflowState::Listed, "", ""},
        {"remove the first after download", WorkflowState::Downloaded, 3, 0, {"B", "C"},
         WorkflowState::Downloaded, Format(Text(142), "B"), Format(Text(129), 1, "B")},
        {"nothing selected after download", WorkflowState::Downloaded, 2, -1, {"A", "B"},
         WorkflowState::Downloaded, Format(Text(142), "A"), Format(Text(129), 1, "A")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Run(CommandLine{}, [&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            const char* names[] = {"A", "B", "C"};
            for (int i = 0; i < c.initialCount; ++i) dlg.updateList.InsertString(i, names[i]);
            dlg.workflowState = c.state;
            bool installEnabled = w.Enabled(res::kIdInstall);
            bool checkEnabled = w.Enabled(res::kIdCheck);
            std::string before = w.Text(res::kIdInstructions);
            if (c.clicked < 0) {
                w.DoubleClickListWithoutSelection();
            } else {
                w.DoubleClickItem(c.clicked);
            }
            EXPECT_EQ(w.Items(res::kIdUpdateList), c.remaining);
            EXPECT_EQ(dlg.workflowState, c.stateAfter);
            EXPECT_EQ(w.Text(res::kIdStatus), c.status);
            EXPECT_EQ(w.Text(res::kIdInstructions), c.instructions.empty() ? before : c.instructions);
            EXPECT_EQ(dlg.stepNumber, 1);  // never raised by a double-click
            EXPECT_EQ(w.Enabled(res::kIdCheck), checkEnabled);
            if (c.remaining.empty()) {
                EXPECT_FALSE(w.Enabled(res::kIdInstall));
            } else {
                EXPECT_EQ(w.Enabled(res::kIdInstall), installEnabled);
            }
            EXPECT_EQ(dlg.allInstalled, 0);
            dlg.workflowState = WorkflowState::Initial;  // leave without the exit question
            w.SendCommand(res::kIdExit);
        });
    }
}

TEST_F(MainDialogTest, CancelAsksAndOnlySetsTheFlag) {
    tp.RegisterInstallFolder(installFolder);
    Run(CommandLine{}, [&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        tp.ui.ExpectMessageBox(IDNO, "Cancel Download?");
        w.SendCommand(IDCANCEL);  // Escape raises the cancel command even with the button disabled
        EXPECT_EQ(dlg.cancelRequested, 0);
        tp.ui.ExpectMessageBox(IDYES, "Cancel Download?");
        w.SysCommand(SC_CLOSE);  // so does the close box
        EXPECT_EQ(dlg.cancelRequested, 1);
        EXPECT_FALSE(w.ended);
        ASSERT_EQ(tp.ui.messageBoxes.size(), 2u);
        EXPECT_EQ(tp.ui.messageBoxes[0].text, Text(122));
        EXPECT_EQ(tp.ui.messageBoxes[0].type & MB_TYPEMASK, MB_YESNO);
        w.Click(res::kIdExit);
    });
}

TEST_F(MainDialogTest, ExitAsksOnlyWhileUpdatesWaitToBeInstalled) {
    tp.RegisterInstallFolder(installFolder);
    std::string updater = tp.dir.Write("Fablewright/temp/a.exe", "x");
    struct Case {
        const char* what;
        WorkflowState state;
        bool listed;
        bool allInstalled;
        std::vector<int> answers;  // to the question, in order; the last one decides
        bool ends;
        bool deleted;
    };
    const Case cases[] = {
        {"initial", WorkflowState::Initial, false, false, {}, true, false},
        {"listed, not downloaded", WorkflowState::Listed, true, false, {}, true, false},
        {"downloaded, answered No", WorkflowState::Downloaded, true, false, {IDNO}, false, false},
        {"downloaded, answered Cancel", WorkflowState::Downloaded, true, false, {IDCANCEL}, false,
         false},
        {"downloaded, answered Yes", WorkflowState::Downloaded, true, false, {IDYES}, true, false},
        {"all installed", WorkflowState::Complete, false, true, {}, true, true},
        {"list emptied by double-click", WorkflowState::Complete, false, false, {}, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        tp.dir.Write("Fablewright/temp/a.exe", "x");
        tp.ui.messageBoxes.clear();
        std::intptr_t result = Run(CommandLine{}, [&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            if (c.listed) List(dlg, {"Fantasy"});
            dlg.workflowState = c.state;
            dlg.allInstalled = c.allInstalled;
            dlg.downloadedFiles.push_back(updater);
            dlg.downloadedFiles.push_back(tp.dir.Path("Fablewright/temp/missing.exe"));
            for (int answer : c.answers) tp.ui.ExpectMessageBox(answer, "Exit Without Installing All?");
            w.Click(res::kIdExit);
            EXPECT_EQ(w.ended, c.ends);
        });
        EXPECT_EQ(result, c.ends ? IDCANCEL : -1);
        EXPECT_EQ(tp.ui.messageBoxes.size(), c.answers.size());
        if (!c.answers.empty()) {
            EXPECT_EQ(tp.ui.messageBoxes[0].type, MB_YESNOCANCEL | MB_DEFBUTTON2);
            EXPECT_EQ(tp.ui.messageBoxes[0].text, Text(137));
        }
        EXPECT_EQ(std::filesystem::exists(updater), !c.deleted);
    }
}

TEST_F(MainDialogTest, TheAboutBoxNamesEveryTrustedKey) {
    test::TestSigner a, b;
    const TrustedKeys keys = {a.PublicKey(), b.PublicKey()};
    tp.ui.ScriptModal(res::kAboutDialog, [&](HeadlessWindow& about) {
        EXPECT_EQ(about.Text(res::kIdTrust),
                  Format(Text(res::kStrTrustsKeys), a.KeyId() + ", " + b.KeyId()));
        about.Click(IDOK);
    });
    CAboutDlg about(tp.ui, keys);
    about.DoModal();
}

TEST_F(MainDialogTest, AboutBoxFromTheSystemMenu) {
    tp.RegisterInstallFolder(installFolder);
    int aboutRuns = 0;
    for (int run = 0; run < 2; ++run) {
        tp.ui.ScriptModal(res::kAboutDialog, [&](HeadlessWindow& about) {
            ++aboutRuns;
            EXPECT_EQ(about.caption, "About Fablewright Update Downloader");
            EXPECT_EQ(about.Text(res::kIdVersion), "Version 3.");
            EXPECT_EQ(about.Text(res::kIdTrust), Text(res::kStrTrustsNothing));
            about.Click(IDOK);
            EXPECT_TRUE(about.ended);
        });
    }
    Run(CommandLine{}, [&](HeadlessWindow& w, CUpdateDownloaderDlg&) {
        w.SysCommand(0x0010);
        w.SysCommand(0x001F);  // the low four bits are the system's own
        w.SysCommand(SC_MINIMIZE);
        EXPECT_EQ(w.defaultSysCommands, std::vector<unsigned>{SC_MINIMIZE});
        w.SysCommand(0x0020);  // not the about command
        EXPECT_EQ(w.defaultSysCommands.size(), 2u);
        w.Click(res::kIdExit);
    });
    EXPECT_EQ(aboutRuns, 2);
}

TEST_F(MainDialogTest, PaintsTheIconCentredWhenMinimised) {
    tp.RegisterInstallFolder(installFolder);
    Run(CommandLine{}, [&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        w.Paint();
        EXPECT_EQ(w.defaultPaints, 1);
        EXPECT_TRUE(w.paintedIcons.empty());
        w.iconic = true;
        w.Paint();
        ASSERT_EQ(w.paintedIcons.size(), 1u);
        ClientRect rect = tp.ui.GetClientRect(&w);
        EXPECT_EQ(w.paintedIcons[0].x, (rect.width - 32 + 1) / 2);
        EXPECT_EQ(w.paintedIcons[0].y, (rect.height - 32 + 1) / 2);
        EXPECT_EQ(w.paintedIcons[0].icon, dlg.appIcon);
        EXPECT_EQ(w.QueryDragIcon(), dlg.appIcon);
        w.Click(res::kIdExit);
    });
}

class FailingStartupClient : public HttpClient {
public:
    bool Startup() override { return false; }
    std::unique_ptr<HttpSession> OpenSession(std::string_view) override { return nullptr; }
};

TEST_F(MainDialogTest, NetworkLayerThatCannotStartEndsTheProgramWithMessage103) {
    FailingStartupClient http;
    Platform p = tp.platform();
    Platform broken{p.ui, http, p.registry, p.files, p.processes, p.system, p.trustedKeys};
    tp.ui.ExpectMessageBox(IDOK);
    CommandLine cl{};
    CUpdateDownloaderApp app(broken, cl.argc(), cl.argv());
    EXPECT_FALSE(app.InitInstance());
    ASSERT_EQ(tp.ui.messageBoxes.size(), 1u);
    EXPECT_EQ(tp.ui.messageBoxes[0].text, "Windows sockets initialization failed.");
    EXPECT_EQ(tp.ui.messageBoxes[0].type, MB_OK);
    EXPECT_TRUE(tp.ui.modalRuns.empty());
}

TEST_F(MainDialogTest, ApplicationRunsTheMainDialogOnce) {
    tp.RegisterInstallFolder(installFolder);
    bool shown = false;
    tp.ui.ScriptModal(res::kMainDialog, [&](HeadlessWindow& w) {
        shown = true;
        w.Click(res::kIdExit);
    });
    CommandLine cl{};
    CUpdateDownloaderApp app(tp.platform(), cl.argc(), cl.argv());
    EXPECT_FALSE(app.InitInstance());
    EXPECT_TRUE(shown);
    EXPECT_EQ(tp.ui.modalRuns, std::vector<int>{res::kMainDialog});
}

}  // namespace
}  // namespace fw
