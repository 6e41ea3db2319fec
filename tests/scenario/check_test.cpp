// "&Check" against the loopback update server: the definitions, the update request and every
// failure the user can meet.

#include <gtest/gtest.h>

#include <filesystem>

#include "res/resource.h"
#include "tests/support/update_scenario.h"

namespace fw {
namespace {

using test::UpdateScenario;

class CheckTest : public UpdateScenario {};

const char kWorkedExample[] =
    "#current release\n"
    "updatever~3\n"
    "version~4.2\n"
    "update~Fablewright~files/FwUpd42.exe~2345678~1a2b3c4d\n"
    "equiv~Sci Fi Deluxe~Sci Fi\n"
    "update~Sci Fi Deluxe~files/SFDUpd.exe~123456~9f00e1\n"
    "update~Western~files/WestUpd.exe~54321~77\n";

TEST_F(CheckTest, TheWorkedExampleListsTheInstalledTemplates) {
    Install({{"SciFi.gsi", "Sci Fi"}});
    Definitions(kWorkedExample);
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        ASSERT_TRUE(w.Click(res::kIdCheck));
        EXPECT_EQ(w.Items(res::kIdUpdateList), (std::vector<std::string>{"Fablewright", "Sci Fi Deluxe"}));
        EXPECT_EQ(dlg.totalBytes, 2469134);
        EXPECT_EQ(w.Text(res::kIdInstructions), Format(Text(119), 2, "4.2", "2.4M"));
        EXPECT_EQ(dlg.workflowState, WorkflowState::Listed);
        EXPECT_FALSE(w.Enabled(res::kIdCheck));
        EXPECT_FALSE(w.IsDefault(res::kIdCheck));
        EXPECT_TRUE(w.Enabled(res::kIdDownload));
        EXPECT_TRUE(w.IsDefault(res::kIdDownload));
        EXPECT_EQ(w.focus, res::kIdDownload);
        EXPECT_FALSE(w.Enabled(res::kIdBetaVersion));
        EXPECT_EQ(dlg.updateEntries.GetSize(), 3u);  // Western stays, unlisted
        EXPECT_TRUE(dlg.internetSession);             // kept for the download
        EXPECT_TRUE(dlg.serverConnection);
        w.Click(res::kIdExit);
    });
    auto requests = server->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].requestLine, "GET /UpDefs/FablewrightUpdates.txt HTTP/1.0");
    EXPECT_EQ(requests[0].Header("User-Agent"), "Fablewright Update Downloader");
    EXPECT_EQ(requests[1].requestLine, "POST /vrn/sendupdinfo.php HTTP/1.0");
    std::string dir = SentFolder();
    std::string expected = "dir=" + dir + "&version=2.1.0.7&systems=Fablewright%3bSci%20Fi%3bSci%20Fi%20Deluxe";
    EXPECT_EQ(requests[1].body, expected);
    EXPECT_EQ(requests[1].Header("Content-Length"), std::to_string(expected.size()));
    EXPECT_EQ(requests[1].Header("Content-Type"), "application/x-www-form-urlencoded");
}

// An answer with a record lists what concerns this installation, perhaps nothing; one without
// any (a portal's page, an empty body) is not definitions, and the check fails as on a bad line.
TEST_F(CheckTest, DefinitionsThatListNothing) {
    Install({{"Fantasy.gsi", "Fantasy"}});
    struct Case {
        const char* what;
        std::string text;
        bool listed;  // else: the bad-format message, and no update request
    };
    const Case cases[] = {
        {"comments and blank lines", "# nothing\n\n#more\n", false},
        {"only tildes", "~~~\n", false},
        {"empty answer", "", false},
        {"a portal's page", "<html>\n<body>Sign in</body>\n</html>\n", false},
        {"not installed", "update~Western~files/w.exe~10~1\n", true},
        {"an equiv record alone", "equiv~Fantasy Gold~Fantasy\n", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Definitions(c.text);
        server->ClearRequests();
        tp.ui.messageBoxes.clear();
        Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            if (!c.listed) tp.ui.ExpectMessageBox(IDOK, "Error");
            w.Click(res::kIdCheck);
            EXPECT_TRUE(w.Items(res::kIdUpdateList).empty());
            if (c.listed) {
                EXPECT_EQ(w.Text(res::kIdInstructions), Format(Text(119), 2, "", "0"));
                EXPECT_EQ(dlg.workflowState, WorkflowState::Listed);
                EXPECT_TRUE(tp.ui.messageBoxes.empty());
            } else {
                EXPECT_FALSE(w.Enabled(res::kIdDownload));
                ASSERT_EQ(tp.ui.messageBoxes.size(), 1u);
                EXPECT_EQ(tp.ui.messageBoxes[0].text, Text(118));
            }
            w.Click(res::kIdExit);
        });
        EXPECT_EQ(RequestsFor("/vrn/sendupdinfo.php"), c.listed ? 1 : 0);
    }
}

// Two different updaters that would be saved under one name in temp: the check is refused, so
// that neither record's updater can run for the other. Records that expect the same file (size
// and checksum), or a clash with a template not installed, change nothing.
TEST_F(CheckTest, UpdatersSharingAFileNameAreRefused) {
    Install({{"SciFi.gsi", "Sci Fi"}, {"Fantasy.gsi", "Fantasy"}});
    struct Case {
        const char* what;
        std::string text;
        std::string clash;  // the name the message gives; empty: listed, no message
        std::size_t listed;
    };
    const Case cases[] = {
        {"two folders, one name",
         "update~Sci Fi~files/a/upd.exe~10~1\nupdate~Fantasy~files/b/upd.exe~10~2\n", "upd.exe", 0},
        {"names that differ in case",
         "update~Sci Fi~files/a/Upd.exe~10~1\nupdate~Fantasy~files/a/UPD.EXE~11~1\n", "UPD.EXE",
         0},
        {"one path, other checksums",
         "update~Sci Fi~files/upd.exe~10~1\nupdate~Fantasy~files/upd.exe~10~2\n", "upd.exe", 0},
        {"the same file from two places",
         "update~Sci Fi~files/upd.exe~10~1\nupdate~Fantasy~mirror/upd.exe~10~1\n", "", 2},
        {"a template not installed",
         "update~Sci Fi~files/a/upd.exe~10~1\nupdate~Western~files/b/upd.exe~10~2\n", "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Definitions(c.text);
        server->ClearRequests();
        tp.ui.messageBoxes.clear();
        Run([&](HeadlessWindow& w, CUpdateDownloaderDlg&) {
            if (!c.clash.empty()) tp.ui.ExpectMessageBox(IDOK, "Error");
            w.Click(res::kIdCheck);
            EXPECT_EQ(w.Items(res::kIdUpdateList).size(), c.listed);
            EXPECT_EQ(w.Enabled(res::kIdDownload), c.clash.empty());
            w.Click(res::kIdExit);
        });
        if (c.clash.empty()) {
            EXPECT_TRUE(tp.ui.messageBoxes.empty());
        } else {
            ASSERT_EQ(tp.ui.messageBoxes.size(), 1u);
            EXPECT_EQ(tp.ui.messageBoxes[0].text,
                      Format(Text(res::kStrUpdaterNameClash), "Sci Fi", "Fantasy", c.clash));
        }
        EXPECT_EQ(RequestsFor("/vrn/sendupdinfo.php"), c.clash.empty() ? 1 : 0);
    }
}

TEST_F(CheckTest, KeywordsCaseLineEndsAndSizes) {
    Install({{"SciFi.gsi", "Sci Fi"}, {"Fantasy.gsi", "Fantasy"}});
    Definitions(
        "UPDATEVER~3.9\r\nVersion~5.0\r\nUpdate~sci fi~a.exe~1025~1\r\nupdate~Fantasy~b.exe~"
        "1048576~2\r\nupdate~Fantasy~c.exe~1~3\r\nupdatever~x\r\nnewkind~1~2\r\n");
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        w.Click(res::kIdCheck);
        // The list shows the names as the definitions write them, in their order.
        EXPECT_EQ(w.Items(res::kIdUpdateList),
                  (std::vector<std::string>{"sci fi", "Fantasy", "Fantasy"}));
        EXPECT_EQ(dlg.totalBytes, 1025 + 1048576 + 1);
        EXPECT_EQ(dlg.availableVersion, "5.0");
        EXPECT_EQ(w.Text(res::kIdInstructions), Format(Text(119), 2, "5.0", "1.0M"));
        EXPECT_EQ(dlg.updateEntries[0].sourceUrl, "a.exe");  // no CR left anywhere
        EXPECT_EQ(dlg.updateEntries[2].expectedChecksum, 3u);
        w.Click(res::kIdExit);
    });
}

TEST_F(CheckTest, AnInfoRecordRedirectsTheUpdateRequest) {
    Install({});
    test::TempDir otherRoot;
    UpdateServer info(otherRoot.path());
    ASSERT_TRUE(info.Start(0));
    Definitions("info~" + info.HostText() + "~other/report.php\nversion~1\n");
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        w.Click(res::kIdCheck);
        EXPECT_EQ(dlg.infoServer, info.HostText());
        w.Click(res::kIdExit);
    });
    EXPECT_EQ(RequestsFor("/vrn/sendupdinfo.php"), 0);
    auto requests = info.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, "POST /other/report.php HTTP/1.0");
    EXPECT_EQ(requests[0].body, "dir=" + SentFolder() + "&version=2.1.0.7&systems=Fablewright");
}

TEST_F(CheckTest, AnUnreachableInformationServerDoesNotStopTheCheck) {
    Install({});
    Definitions("version~1\nupdate~Fablewright~f.exe~5~1\n");
    UpdateServer gone(serverRoot);
    ASSERT_TRUE(gone.Start(0));
    std::string host = gone.HostText();
    gone.Stop();
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg&) {
        w.Click(res::kIdCheck);
        EXPECT_EQ(w.Items(res::kIdUpdateList), std::vector<std::string>{"Fablewright"});
        w.Click(res::kIdExit);
    }, {"-infoserver", host});
}

TEST_F(CheckTest, FailuresShowTheirMessageAndLeaveCheckEnabled) {
    Install({});
    struct Case {
        const char* what;
        std::string definitions;  // release file; empty: none on the server
        bool beta;
        int status;               // fault status on the definitions path, 0 for none
        std::string caption;
        std::string text;
        bool betaBoxDisabled;
    };
    const Case cases[] = {
        {"release missing", "", false, 0, "Error", Format(Text(115), 404), false},
        {"server error", "version~1\n", false, 503, "Error", Format(Text(115), 503), false},
        {"beta missing", "version~1\n", true, 0, "Note", Text(130), false},
        {"too new", "update~Fablewright~f.exe~5~1\nupdatever~4\nupdate~Fablewright~g.exe~5~1\n",
         false, 0, "Error", Format(Text(136), "4", 3), true},
        {"too new, text as written", "updatever~ 12beta\n", false, 0, "Error",
         Format(Text(136), " 12beta", 3), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(serverRoot + "/UpDefs/FablewrightUpdates.txt");
        if (!c.definitions.empty()) Definitions(c.definitions);
        server->ClearFaults();
        if (c.status) {
            ServerFault fault;
            fault.status = c.status;
            server->SetFault("/UpDefs/FablewrightUpdates.txt", fault);
        }
        server->ClearRequests();
        tp.ui.messageBoxes.clear();
        Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            if (c.beta) w.Click(res::kIdBetaVersion);
            tp.ui.ExpectMessageBox(IDOK, c.caption);
            w.Click(res::kIdCheck);
            EXPECT_EQ(dlg.workflowState, WorkflowState::Checking);
            EXPECT_TRUE(w.Enabled(res::kIdCheck));
            EXPECT_FALSE(w.Enabled(res::kIdDownload));
            EXPECT_EQ(w.Enabled(res::kIdBetaVersion), !c.betaBoxDisabled);
            EXPECT_TRUE(w.Items(res::kIdUpdateList).empty());
            EXPECT_FALSE(dlg.internetSession);
            EXPECT_FALSE(dlg.serverConnection);
            EXPECT_EQ(dlg.stepNumber, 1);
            w.Click(res::kIdExit);
        });
        ASSERT_EQ(tp.ui.messageBoxes.size(), 1u);
        EXPECT_EQ(tp.ui.messageBoxes[0].text, c.text);
        EXPECT_EQ(tp.ui.messageBoxes[0].type, MB_OK);
        EXPECT_EQ(RequestsFor("/vrn/sendupdinfo.php"), 0);  // no update request after a failure
    }
}

TEST_F(CheckTest, AnUnreachableServerNamesItselfOrTheSendFailure) {
    Install({});
    UpdateServer gone(serverRoot);
    ASSERT_TRUE(gone.Start(0));
    std::string host = gone.HostText();
    gone.Stop();
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        tp.ui.ExpectMessageBox(IDOK, "Error");
        w.Click(res::kIdCheck);
        EXPECT_TRUE(w.Enabled(res::kIdCheck));
        EXPECT_FALSE(dlg.internetSession);
        w.Click(res::kIdExit);
    }, {"-server", host});
    ASSERT_EQ(tp.ui.messageBoxes.size(), 1u);
    const std::string& text = tp.ui.messageBoxes[0].text;
    EXPECT_TRUE(text == Format(Text(112), host) || text == Format(Text(115), -2)) << text;
}

TEST_F(CheckTest, ABetaCheckFetchesTheBetaDefinitions) {
    Install({});
    Definitions("version~9 beta\nupdate~Fablewright~b.exe~5~1\n", true);
    tp.dir.Write("server/UpDefs/Custom.txt", "version~custom\n");
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        w.Click(res::kIdBetaVersion);
        w.Click(res::kIdCheck);
        EXPECT_EQ(dlg.availableVersion, "9 beta");
        w.Click(res::kIdExit);
    });
    EXPECT_EQ(RequestsFor("/UpDefs/FablewrightBetaUpdates.txt"), 1);
    EXPECT_EQ(server->Requests().back().body.rfind("beta=true&dir=", 0), 0u);
    // "-beta" names the file but does not choose the channel.
    server->ClearRequests();
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg&) {
        tp.ui.ExpectMessageBox(IDOK, "Error");  // no release definitions on this server
        w.Click(res::kIdCheck);
        w.Click(res::kIdExit);
    }, {"-beta", "Custom.txt"});
    EXPECT_EQ(RequestsFor("/UpDefs/FablewrightUpdates.txt"), 1);
    EXPECT_EQ(RequestsFor("/UpDefs/Custom.txt"), 0);
}

TEST_F(CheckTest, ShiftHeldAtCheckTurnsAutomaticInstallationOff) {
    Install({});
    Definitions("version~1\n");
    for (bool shift : {false, true}) {
        tp.system.shiftDown = shift;
        Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            w.Click(res::kIdCheck);
            EXPECT_EQ(dlg.autoInstall, !shift);
            w.Click(res::kIdExit);
        });
    }
}

TEST_F(CheckTest, ARetryAfterAFailedCheckListsEveryTemplateOnce) {
    Install({{"SciFi.gsi", "Sci Fi"}});
    Definitions("update~Fablewright~f.exe~5~1\nequiv~Sci Fi Deluxe~Sci Fi\nupdate~Sci Fi Deluxe~s.exe~7~2\nupdatever~4\n");
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        tp.ui.ExpectMessageBox(IDOK, "Error");
        w.Click(res::kIdCheck);
        Definitions("update~Fablewright~f.exe~5~1\nequiv~Sci Fi Deluxe~Sci Fi\nupdate~Sci Fi Deluxe~s.exe~7~2\n");
        w.Click(res::kIdCheck);
        EXPECT_EQ(w.Items(res::kIdUpdateList),
                  (std::vector<std::string>{"Fablewright", "Sci Fi Deluxe"}));
        EXPECT_EQ(dlg.updateEntries.GetSize(), 2u);
        EXPECT_EQ(dlg.installedSystems, (TextList{"Fablewright", "Sci Fi", "Sci Fi Deluxe"}));
        EXPECT_EQ(dlg.totalBytes, 12);
        EXPECT_EQ(w.Text(res::kIdInstructions), Format(Text(119), 2, "", "12"));
        w.Click(res::kIdExit);
    });
}

TEST_F(CheckTest, OversizedDefinitionsEndWithBadFormat) {
    Install({});
    Definitions(std::string(kMaxLineBytes + 10, 'x'));
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg&) {
        tp.ui.ExpectMessageBox(IDOK, "Error");
        w.Click(res::kIdCheck);
        EXPECT_TRUE(w.Enabled(res::kIdCheck));
        w.Click(res::kIdExit);
    });
    ASSERT_EQ(tp.ui.messageBoxes.size(), 1u);
    EXPECT_EQ(tp.ui.messageBoxes[0].text, Text(118));
}

TEST_F(CheckTest, ManyShortLinesBeyondTheTotalLimitEndWithBadFormat) {
    Install({});
    // Each line is harmless and short; only their sum is too much.
    const std::string line = "version~1\n";
    std::string text;
    text.reserve(kMaxDefinitionsBytes + 2 * line.size());
    while (text.size() <= kMaxDefinitionsBytes) text += line;
    Definitions(text);
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        tp.ui.ExpectMessageBox(IDOK, "Error");
        w.Click(res::kIdCheck);
        EXPECT_TRUE(w.Enabled(res::kIdCheck));
        EXPECT_EQ(dlg.workflowState, WorkflowState::Checking);
        w.Click(res::kIdExit);
    });
    ASSERT_EQ(tp.ui.messageBoxes.size(), 1u);
    EXPECT_EQ(tp.ui.messageBoxes[0].text, Text(118));
    EXPECT_EQ(RequestsFor("/vrn/sendupdinfo.php"), 0);
    // One line less than the limit is still read.
    tp.ui.messageBoxes.clear();
    text.resize(kMaxDefinitionsBytes - kMaxDefinitionsBytes % line.size());
    Definitions(text);
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        w.Click(res::kIdCheck);
        EXPECT_EQ(dlg.workflowState, WorkflowState::Listed);
        w.Click(res::kIdExit);
    });
    EXPECT_TRUE(tp.ui.messageBoxes.empty());
}

}  // namespace
}  // namespace fw
