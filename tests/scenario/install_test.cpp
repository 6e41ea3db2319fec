// The Install step with real updater processes: one updater per click in list order, the
// environment each one inherits, the polling timer, the end of the installation and Exit.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <thread>

#include "res/resource.h"
#include "res/strings.h"
#include "tests/support/install_scenario.h"

namespace fw {
namespace {

namespace fs = std::filesystem;
using test::InstallScenario;
using test::UpdaterRun;

class InstallTest : public InstallScenario {};

TEST_F(InstallTest, ThreeUpdatersRunOnePerClickInListOrder) {
    std::string other = tp.dir.Write("Fablewright/temp/notes.txt", "not downloaded in this run");
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        Downloaded(w, dlg, {{"Fantasy", "fantasy.exe"}, {"Sci Fi", "scifi.exe"},
                            {"Horror", "horror.exe"}},
                   {"Fantasy", "Sci Fi", "Horror"});
        std::string instructions = w.Text(res::kIdInstructions);

        // The first updater waits until the test lets it end.
        std::string gate = tp.dir.Path("gate");
        tp.processes->SetEnvironmentVariable("FW_TEST_UPDATER_WAIT_FOR", gate);
        ASSERT_TRUE(w.Click(res::kIdInstall));
        EXPECT_EQ(w.Text(res::kIdStatus), "Installing Fantasy...");
        EXPECT_EQ(w.Text(res::kIdInstructions), instructions);
        EXPECT_FALSE(w.Enabled(res::kIdInstall));
        EXPECT_FALSE(w.Enabled(res::kIdUpdateList));
        EXPECT_EQ(w.timers, (std::map<unsigned, unsigned>{{1u, 1000u}}));
        ASSERT_TRUE(dlg.processInfo.process);
        EXPECT_EQ(dlg.processInfo.processId, dlg.processInfo.process->ProcessId());
        EXPECT_FALSE(w.Click(res::kIdInstall));  // no second updater while one runs
        EXPECT_FALSE(w.DoubleClickItem(0));      // and the list cannot change under it
        for (int tick = 0; tick < 3; ++tick) {
            ASSERT_TRUE(w.TickTimer(1));
            EXPECT_EQ(w.Items(res::kIdUpdateList).size(), 3u);
        }
        EXPECT_EQ(w.timers.count(1), 1u);
        tp.dir.Write("gate", "");
        tp.processes->UnsetEnvironmentVariable("FW_TEST_UPDATER_WAIT_FOR");
        FinishUpdater(w, dlg);

        EXPECT_EQ(w.Items(res::kIdUpdateList), (std::vector<std::string>{"Sci Fi", "Horror"}));
        EXPECT_TRUE(w.timers.empty());
        EXPECT_FALSE(dlg.processInfo.process);
        EXPECT_EQ(dlg.processInfo.processId, 0u);
        EXPECT_TRUE(w.Enabled(res::kIdInstall));
        EXPECT_TRUE(w.Enabled(res::kIdUpdateList));
        EXPECT_EQ(w.focus, res::kIdInstall);
        EXPECT_EQ(w.Text(res::kIdStatus), Format(Text(142), "Sci Fi"));
        EXPECT_EQ(w.Text(res::kIdInstructions), Format(Text(129), 4, "Sci Fi"));
        EXPECT_EQ(dlg.stepNumber, 4);
        EXPECT_EQ(dlg.workflowState, WorkflowState::Downloaded);

        InstallNext(w, dlg);
        EXPECT_EQ(w.Items(res::kIdUpdateList), std::vector<std::string>{"Horror"});
        EXPECT_EQ(w.Text(res::kIdStatus), Format(Text(142), "Horror"));
        EXPECT_EQ(w.Text(res::kIdInstructions), Format(Text(129), 5, "Horror"));
        EXPECT_EQ(dlg.allInstalled, 0);

        InstallNext(w, dlg);
        EXPECT_TRUE(w.Items(res::kIdUpdateList).empty());
        EXPECT_EQ(dlg.allInstalled, 1);
        EXPECT_EQ(dlg.workflowState, WorkflowState::Complete);
        EXPECT_EQ(dlg.stepNumber, 5);
        EXPECT_EQ(w.Text(res::kIdStatus), "Update complete.");
        EXPECT_EQ(w.Text(res::kIdInstructions), Text(120));
        EXPECT_FALSE(w.Enabled(res::kIdInstall));
        EXPECT_FALSE(w.IsDefault(res::kIdInstall));
        EXPECT_TRUE(w.IsDefault(res::kIdExit));
        EXPECT_EQ(w.focus, res::kIdExit);
        EXPECT_TRUE(w.timers.empty());

        // Exit asks nothing now and removes exactly the updaters of this run.
        EXPECT_TRUE(w.Click(res::kIdExit));
        EXPECT_TRUE(w.ended);
    });
    for (const char* file : {"fantasy.exe", "scifi.exe", "horror.exe"}) {
        EXPECT_FALSE(fs::exists(TempPath(file))) << file;
    }
    EXPECT_TRUE(fs::exists(other));
    EXPECT_TRUE(tp.ui.messageBoxes.empty());

    std::vector<UpdaterRun> runs = Runs();
    ASSERT_EQ(runs.size(), 3u);
    const char* order[] = {"fantasy.exe", "scifi.exe", "horror.exe"};
    for (std::size_t i = 0; i < runs.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(fs::path(runs[i].image).filename(), order[i]);
        EXPECT_TRUE(runs[i].args.empty());
        EXPECT_EQ(fs::path(runs[i].cwd), fs::current_path());
        EXPECT_EQ(runs[i].exitCode, 0);
    }
}

TEST_F(InstallTest, AnUpdaterWithAnErrorCodeStillCountsAsRun) {
    tp.processes->SetEnvironmentVariable("FW_TEST_UPDATER_EXIT", "7");
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        Downloaded(w, dlg, {{"Fantasy", "fantasy.exe"}, {"Sci Fi", "scifi.exe"}},
                   {"Fantasy", "Sci Fi"});
        InstallNext(w, dlg);
        EXPECT_EQ(w.Items(res::kIdUpdateList), std::vector<std::string>{"Sci Fi"});
        EXPECT_EQ(dlg.stepNumber, 4);
        InstallNext(w, dlg);
        EXPECT_EQ(dlg.workflowState, WorkflowState::Complete);
        EXPECT_EQ(dlg.allInstalled, 1);
        w.Click(res::kIdExit);
    });
    std::vector<UpdaterRun> runs = Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].exitCode, 7);
    EXPECT_TRUE(tp.ui.messageBoxes.empty());
}

TEST_F(InstallTest, WhichUpdatersGetTheAutoInstallVariable) {
    const std::optional<std::string> kWithout;
    const std::optional<std::string> kTrue = "TRUE";
    const std::optional<std::string> kInherited = "inherited";
    struct Case {
        const char* what;
        bool inherited;  // the program was started with the variable set
        bool shiftAtCheck;
        std::vector<bool> shiftAtInstall;                  // one per click
        std::vector<std::optional<std::string>> expected;  // one per updater
    };
    const Case cases[] = {
        {"no Shift", false, false, {false, false, false}, {kWithout, kTrue, kTrue}},
        {"Shift at the first Install", false, false, {true, false, false},
         {kWithout, kWithout, kWithout}},
        {"Shift at Check", false, true, {false, false, false}, {kWithout, kWithout, kWithout}},
        {"Shift at Check and first Install", false, true, {true, false, false},
         {kTrue, kTrue, kTrue}},
        {"Shift at two Installs toggles back", false, false, {true, true, false},
         {kWithout, kTrue, kTrue}},
        {"inherited, no Shift", true, false, {false, false, false}, {kInherited, kTrue, kTrue}},
        {"inherited, Shift at the first Install", true, false, {true, false, false},
         {kWithout, kWithout, kWithout}},
        {"inherited, Shift at Check", true, true, {false, false, false},
         {kInherited, kInherited, kInherited}},
        {"inherited, Shift at Check and first Install", true, true, {true, false, false},
         {kTrue, kTrue, kTrue}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(logPath);
        if (c.inherited) {
            tp.processes->SetEnvironmentVariable("FABLEWRIGHTAUTOINSTALL", "inherited");
        } else {
            tp.processes->UnsetEnvironmentVariable("FABLEWRIGHTAUTOINSTALL");
        }
        Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            Downloaded(w, dlg, {{"A", "a.exe"}, {"B", "b.exe"}, {"C", "c.exe"}}, {"A", "B", "C"});
            // What the Check click leaves (discovery/check.cpp): the flag is off when Shift
            // was held.
            dlg.autoInstall = !c.shiftAtCheck;
            for (bool shift : c.shiftAtInstall) {
                tp.system.shiftDown = shift;
                ASSERT_TRUE(w.Click(res::kIdInstall));
                tp.system.shiftDown = false;
                FinishUpdater(w, dlg);
            }
            EXPECT_EQ(dlg.workflowState, WorkflowState::Complete);
            // Each Shift-click toggles the flag: two of them bring it back.
            long toggles = std::count(c.shiftAtInstall.begin(), c.shiftAtInstall.end(), true);
            EXPECT_EQ(dlg.autoInstall, (toggles % 2 == 0) != c.shiftAtCheck);
            w.Click(res::kIdExit);
        });
        std::vector<UpdaterRun> runs = Runs();
        ASSERT_EQ(runs.size(), c.expected.size());
        for (std::size_t i = 0; i < runs.size(); ++i) {
            EXPECT_EQ(runs[i].env["FABLEWRIGHTAUTOINSTALL"], c.expected[i]) << "updater " << i;
        }
    }
}

TEST_F(InstallTest, InstallFlagsTellReleaseFromBeta) {
    std::string betaFolder = tp.dir.Path("Fablewright Beta");
    fs::create_directories(betaFolder);
    struct Case {
        bool beta;
        std::string flags;
    };
    for (const Case& c : {Case{false, ""}, Case{true, "Beta"}}) {
        SCOPED_TRACE(c.flags);
        fs::remove(logPath);
        Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            if (c.beta) {
                ASSERT_TRUE(w.Click(res::kIdBetaVersion));
                dlg.betaDir = betaFolder;  // accepted earlier in this run: no question now
            }
            Downloaded(w, dlg, {{"A", "a.exe"}, {"B", "b.exe"}}, {"A", "B"});
            InstallNext(w, dlg);
            InstallNext(w, dlg);
            w.Click(res::kIdExit);
        });
        std::vector<UpdaterRun> runs = Runs();
        ASSERT_EQ(runs.size(), 2u);
        for (const UpdaterRun& run : runs) {
            // Present (if empty) for a release: the variable is set, not removed.
            EXPECT_EQ(run.env.at("InstallFlags"), c.flags);
            // Only a folder chosen in this run goes to the updaters.
            EXPECT_EQ(run.env.at("InstallPathOverride"), std::nullopt);
        }
    }
}

TEST_F(InstallTest, TheFirstRecordOfANameIsTheOneThatRuns) {
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        Downloaded(w, dlg, {{"Fantasy", "first.exe"}, {"FANTASY", "second.exe"}},
                   {"Fantasy", "FANTASY"});
        InstallNext(w, dlg);
        InstallNext(w, dlg);
        EXPECT_EQ(dlg.workflowState, WorkflowState::Complete);
        w.Click(res::kIdExit);
    });
    std::vector<UpdaterRun> runs = Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(fs::path(runs[0].image).filename(), "first.exe");
    EXPECT_EQ(fs::path(runs[1].image).filename(), "first.exe");
}

TEST_F(InstallTest, AListEntryWithoutARecordLeavesAtTheFirstTick) {
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        Downloaded(w, dlg, {{"Fantasy", "fantasy.exe"}}, {"Ghost", "Fantasy"});
        ASSERT_TRUE(w.Click(res::kIdInstall));
        EXPECT_FALSE(dlg.processInfo.process);
        EXPECT_EQ(w.Text(res::kIdStatus), "Installing Ghost...");
        EXPECT_EQ(w.timers.count(1), 1u);
        EXPECT_FALSE(w.Enabled(res::kIdUpdateList));
        ASSERT_TRUE(w.TickTimer(1));
        EXPECT_EQ(w.Items(res::kIdUpdateList), std::vector<std::string>{"Fantasy"});
        EXPECT_EQ(dlg.stepNumber, 4);
        EXPECT_EQ(w.Text(res::kIdStatus), Format(Text(142), "Fantasy"));
        EXPECT_TRUE(Runs().empty());
        InstallNext(w, dlg);
        EXPECT_EQ(dlg.workflowState, WorkflowState::Complete);
        w.Click(res::kIdExit);
    });
    EXPECT_EQ(Runs().size(), 1u);
    EXPECT_TRUE(tp.ui.messageBoxes.empty());
}

TEST_F(InstallTest, AnEmptyListHasNothingToInstall) {
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        Downloaded(w, dlg, {}, {});
        tp.ui.ExpectMessageBox(IDOK, "Error");
        ASSERT_TRUE(w.Click(res::kIdInstall));
        ASSERT_EQ(tp.ui.messageBoxes.size(), 1u);
        EXPECT_EQ(tp.ui.messageBoxes[0].text, Text(143));
        EXPECT_EQ(tp.ui.messageBoxes[0].type, MB_OK);
        EXPECT_TRUE(w.Enabled(res::kIdInstall));
        EXPECT_TRUE(w.timers.empty());
        w.Click(res::kIdExit);
    });
}

// An updater that cannot be started has not run: the user hears of it, its template stays,
// and Install can try again.
TEST_F(InstallTest, AnUpdaterThatCannotStartIsReportedAndKept) {
    struct Case {
        const char* what;
        std::string contents;  // of the updater file; empty: no file at all
        const char* wine;      // FABLEWRIGHT_WINE while it starts, or nullptr
    };
    const Case cases[] = {
        {"missing file", "", nullptr},
        // A Windows program that nothing can run: no wine on a POSIX host, no valid image on
        // Windows.
        {"no way to run it", std::string("MZ\0\0not a program", 18), "/nonexistent/wine"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(logPath);
        tp.ui.messageBoxes.clear();
        tp.processes->UnsetEnvironmentVariable("FABLEWRIGHTAUTOINSTALL");  // left by the last case
        const std::string path = TempPath("fantasy.exe");
        Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            Downloaded(w, dlg, {{"Fantasy", "fantasy.exe", false}, {"Sci Fi", "scifi.exe"}},
                       {"Fantasy", "Sci Fi"});
            fs::remove(path);
            if (!c.contents.empty()) tp.dir.Write("Fablewright/temp/fantasy.exe", c.contents);
            if (c.wine) tp.processes->SetEnvironmentVariable("FABLEWRIGHT_WINE", c.wine);

            tp.ui.ExpectMessageBox(IDOK, "Error");
            ASSERT_TRUE(w.Click(res::kIdInstall));
            ASSERT_EQ(tp.ui.messageBoxes.size(), 1u);
            EXPECT_EQ(tp.ui.messageBoxes[0].text, Format(Text(148), path));
            EXPECT_EQ(tp.ui.messageBoxes[0].type, MB_OK);
            EXPECT_EQ(w.Items(res::kIdUpdateList),
                      (std::vector<std::string>{"Fantasy", "Sci Fi"}));
            EXPECT_TRUE(w.timers.empty());
            EXPECT_FALSE(dlg.processInfo.process);
            EXPECT_TRUE(w.Enabled(res::kIdInstall));
            EXPECT_TRUE(w.Enabled(res::kIdUpdateList));
            EXPECT_EQ(w.focus, res::kIdInstall);
            EXPECT_EQ(w.Text(res::kIdStatus), "Download complete.");
            EXPECT_EQ(dlg.stepNumber, 3);
            EXPECT_EQ(dlg.workflowState, WorkflowState::Downloaded);
            // Nothing ran, so the retry finds the environment the first updater would have.
            EXPECT_EQ(tp.processes->GetEnvironmentVariable("FABLEWRIGHTAUTOINSTALL"),
                      std::nullopt);

            // Once the file is there, the same click runs it.
            tp.processes->UnsetEnvironmentVariable("FABLEWRIGHT_WINE");
            test::CopyTestUpdater(path);
            InstallNext(w, dlg);
            EXPECT_EQ(w.Items(res::kIdUpdateList), std::vector<std::string>{"Sci Fi"});
            EXPECT_EQ(dlg.stepNumber, 4);

            // Leaving now is leaving with an update not installed: asked, and nothing deleted.
            tp.ui.ExpectMessageBox(IDYES, "Exit Without Installing All?");
            EXPECT_TRUE(w.Click(res::kIdExit));
            EXPECT_TRUE(w.ended);
        });
        std::vector<UpdaterRun> runs = Runs();
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0].env["FABLEWRIGHTAUTOINSTALL"], std::nullopt);
        EXPECT_TRUE(fs::exists(path));
        EXPECT_TRUE(fs::exists(TempPath("scifi.exe")));
    }
}

TEST_F(InstallTest, ExitAfterTheListWasEmptiedByDoubleClickDeletesNothing) {
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        Downloaded(w, dlg, {{"A", "a.exe"}, {"B", "b.exe"}}, {"A", "B"});
        InstallNext(w, dlg);
        ASSERT_TRUE(w.DoubleClickItem(0));
        EXPECT_EQ(dlg.workflowState, WorkflowState::Complete);
        EXPECT_EQ(dlg.allInstalled, 0);
        EXPECT_TRUE(w.Click(res::kIdExit));
        EXPECT_TRUE(w.ended);
    });
    EXPECT_TRUE(fs::exists(TempPath("a.exe")));
    EXPECT_TRUE(fs::exists(TempPath("b.exe")));
    EXPECT_TRUE(tp.ui.messageBoxes.empty());
}

TEST_F(InstallTest, ExitWhileAnUpdaterRunsLeavesItRunning) {
    std::string gate = tp.dir.Path("gate");
    tp.processes->SetEnvironmentVariable("FW_TEST_UPDATER_WAIT_FOR", gate);
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        Downloaded(w, dlg, {{"A", "a.exe"}}, {"A"});
        ASSERT_TRUE(w.Click(res::kIdInstall));
        tp.ui.ExpectMessageBox(IDYES, "Exit Without Installing All?");
        EXPECT_TRUE(w.Click(res::kIdExit));
    });
    // The window is gone; the updater goes on and ends on its own.
    tp.dir.Write("gate", "");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((Runs().empty() || !Runs()[0].exitCode) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(Runs().size(), 1u);
    EXPECT_EQ(Runs()[0].exitCode, 0);
    EXPECT_TRUE(fs::exists(TempPath("a.exe")));
}

}  // namespace
}  // namespace fw
