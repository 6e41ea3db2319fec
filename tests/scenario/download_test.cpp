// "&Download" against the loopback update server: reuse, verification, retries, Cancel and
// names from the server that must never leave the temp folder.

#include <gtest/gtest.h>

#include <algorithm>

#include <chrono>
#include <filesystem>

#include "download/checksum.h"
#include "download/transfer.h"
#include "res/resource.h"
#include "tests/support/update_scenario.h"

namespace fw {
namespace {

using test::UpdateScenario;
namespace fs = std::filesystem;

class DownloadTest : public UpdateScenario {
protected:
    void SetUp() override { Install({{"SciFi.gsi", "Sci Fi"}, {"Fantasy.gsi", "Fantasy"}}); }

    // Check, then Download; `during` runs inside the dialog before Download is clicked.
    void CheckAndDownload(std::function<void(HeadlessWindow&, CUpdateDownloaderDlg&)> after,
                          std::function<void(HeadlessWindow&, CUpdateDownloaderDlg&)> before = {},
                          std::vector<std::string> extraArgs = {}) {
        Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            ASSERT_TRUE(w.Click(res::kIdCheck));
            if (before) before(w, dlg);
            ASSERT_TRUE(w.Click(res::kIdDownload));
            after(w, dlg);
            if (!w.ended && w.Enabled(res::kIdExit)) {
                if (dlg.workflowState == WorkflowState::Downloaded && w.Items(res::kIdUpdateList).size()) {
                    tp.ui.ExpectMessageBox(IDYES, "Exit Without Installing All?");
                }
                w.Click(res::kIdExit);
            }
        }, extraArgs);
    }

    void ExpectComplete(HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        EXPECT_EQ(dlg.workflowState, WorkflowState::Downloaded);
        EXPECT_EQ(w.Text(res::kIdStatus), "Download complete.");
        EXPECT_EQ(w.Text(res::kIdInstructions), Format(Text(106), 3));
        EXPECT_EQ(w.Text(res::kIdTimeRemaining), "");
        EXPECT_EQ(w.ProgressPos(res::kIdFileProgress), 0);
        EXPECT_EQ(w.ProgressPos(res::kIdTotalProgress), 0);
        EXPECT_TRUE(w.Enabled(res::kIdInstall));
        EXPECT_TRUE(w.IsDefault(res::kIdInstall));
        EXPECT_FALSE(w.IsDefault(res::kIdDownload));
        EXPECT_FALSE(w.Enabled(res::kIdDownload));
        EXPECT_EQ(w.focus, res::kIdInstall);
        EXPECT_FALSE(w.Enabled(res::kIdCancel));
        EXPECT_TRUE(w.Enabled(res::kIdExit));
        EXPECT_FALSE(dlg.internetSession);
        EXPECT_FALSE(dlg.serverConnection);
    }
};

TEST_F(DownloadTest, ThreeUpdatersReachStepThree) {
    Definitions("version~4\n" + UpdateLine("Fablewright", "files/a.exe", 100000, 1) +
                UpdateLine("Sci Fi", "files/b.exe", 4096, 2) +
                UpdateLine("Fantasy", "files/c.exe", 1, 3) +
                UpdateLine("Western", "files/w.exe", 10, 4));
    CheckAndDownload([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        ExpectComplete(w, dlg);
        EXPECT_EQ(dlg.downloadedFiles,
                  (TextList{TempPath("a.exe"), TempPath("b.exe"), TempPath("c.exe")}));
        EXPECT_EQ(dlg.updateEntries.GetSize(), 3u);  // the unlisted Western is gone
        EXPECT_EQ(dlg.totalBytes, 100000 + 4096 + 1);
        EXPECT_EQ(dlg.transferredBytes, dlg.totalBytes);
        EXPECT_EQ(dlg.stepNumber, 3);
    });
    for (const char* f : {"a.exe", "b.exe", "c.exe"}) {
        EXPECT_EQ(tp.dir.Read("Fablewright/temp/" + std::string(f)),
                  ServedContents("files/" + std::string(f)))
            << f;
    }
    EXPECT_EQ(RequestsFor("/files/w.exe"), 0);
    EXPECT_GT(tp.ui.pumpCount, 100000 / 4096);  // the window was pumped before every block
}

TEST_F(DownloadTest, CompleteFilesFromAnEarlierRunAreReusedWithoutARequest) {
    Definitions(UpdateLine("Fablewright", "files/a.exe", 5000, 1) +
                UpdateLine("Sci Fi", "files/b.exe", 0, 2));
    tp.dir.Write("Fablewright/temp/a.exe", ServedContents("files/a.exe"));
    tp.dir.Write("Fablewright/temp/b.exe", "");
    CheckAndDownload([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        ExpectComplete(w, dlg);
        EXPECT_EQ(dlg.transferredBytes, 5000);
    });
    EXPECT_EQ(RequestsFor("/files/a.exe"), 0);
    EXPECT_EQ(RequestsFor("/files/b.exe"), 0);
}

TEST_F(DownloadTest, TheReuseCheckIsShownInTheStatusLine) {
    Definitions(UpdateLine("Fablewright", "files/a.exe", 700, 1) +
                "update~Sci Fi~files/..~5~1\n");
    tp.dir.Write("Fablewright/temp/a.exe", ServedContents("files/a.exe"));
    std::string statusAtFailure;
    tp.ui.ExpectMessageBox([&](const ShownMessageBox&) {
        statusAtFailure = tp.ui.Top()->Text(res::kIdStatus);
        return IDOK;
    });
    tp.ui.ExpectMessageBox(IDNO, "Try Again?");
    CheckAndDownload([&](HeadlessWindow&, CUpdateDownloaderDlg&) {});
    EXPECT_EQ(statusAtFailure, "Checking previously downloaded a.exe...");
}

TEST_F(DownloadTest, WrongContentOfTheRightSizeIsFetchedAgain) {
    Definitions(UpdateLine("Fablewright", "files/a.exe", 3000, 1));
    tp.dir.Write("Fablewright/temp/a.exe", std::string(3000, 'x'));
    CheckAndDownload([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) { ExpectComplete(w, dlg); });
    EXPECT_EQ(RequestsFor("/files/a.exe"), 1);
    EXPECT_EQ(tp.dir.Read("Fablewright/temp/a.exe"), ServedContents("files/a.exe"));
}

TEST_F(DownloadTest, SizeZeroLeavesTheChecksumToDecide) {
    std::string checksum = Serve("files/a.exe", 777, 5);
    Definitions("update~Fablewright~files/a.exe~0~" + checksum + "\n");
    CheckAndDownload([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) { ExpectComplete(w, dlg); });
    EXPECT_EQ(tp.dir.Read("Fablewright/temp/a.exe").size(), 777u);
}

TEST_F(DownloadTest, FailedTransfersAskToTryAgain) {
    struct Case {
        const char* what;
        std::string line;  // the definitions' update line for files/a.exe
        ServerFault fault;
        std::vector<std::string> messages;  // shown before the question
        bool fileLeft;
        std::size_t fileSize;
    };
    std::string good = UpdateLine("Fablewright", "files/a.exe", 20000, 1);
    std::string checksum = Serve("files/a.exe", 20000, 1);
    ServerFault notFound;
    notFound.status = 404;
    ServerFault cut;
    cut.truncateAfter = 9000;
    ServerFault dropped;
    dropped.drop = true;
    const Case cases[] = {
        {"404", good, notFound, {Format(Text(134), "a.exe", 404)}, true, 0},
        {"short body", good, cut, {}, false, 0},
        {"dropped before the answer", good, dropped, {Format(Text(135), "a.exe")}, true, 0},
        {"more bytes than announced", "update~Fablewright~files/a.exe~19999~" + checksum + "\n",
         ServerFault{}, {}, false, 0},
        // A file that fails its checks never takes the updater's name.
        {"checksum mismatch", "update~Fablewright~files/a.exe~20000~12345\n", ServerFault{},
         {Format(Text(124), "a.exe")}, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(installFolder + "/temp");
        Definitions(c.line);
        server->ClearFaults();
        server->SetFault("/files/a.exe", c.fault);
        tp.ui.messageBoxes.clear();
        for (std::size_t i = 0; i < c.messages.size(); ++i) tp.ui.ExpectMessageBox(IDOK, "Error");
        tp.ui.ExpectMessageBox(IDNO, "Try Again?");
        CheckAndDownload([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            // Abandoned: only Exit leads on, and the session is closed.
            EXPECT_EQ(dlg.workflowState, WorkflowState::Listed);
            EXPECT_FALSE(w.Enabled(res::kIdDownload));
            EXPECT_FALSE(w.Enabled(res::kIdInstall));
            EXPECT_FALSE(w.Enabled(res::kIdCheck));
            EXPECT_FALSE(w.Enabled(res::kIdCancel));
            EXPECT_TRUE(w.Enabled(res::kIdExit));
            EXPECT_FALSE(dlg.internetSession);
            EXPECT_TRUE(dlg.downloadedFiles.empty());
        });
        ASSERT_EQ(tp.ui.messageBoxes.size(), c.messages.size() + 1);
        for (std::size_t i = 0; i < c.messages.size(); ++i) {
            EXPECT_EQ(tp.ui.messageBoxes[i].text, c.messages[i]);
        }
        EXPECT_EQ(tp.ui.messageBoxes.back().text, Format(Text(125), TempPath("a.exe")));
        EXPECT_EQ(fs::exists(TempPath("a.exe")), c.fileLeft);
        if (c.fileLeft) {
            EXPECT_EQ(fs::file_size(TempPath("a.exe")), c.fileSize);
        }
    }
}

TEST_F(DownloadTest, YesToTheRetryFetchesTheFileAgain) {
    Definitions(UpdateLine("Fablewright", "files/a.exe", 50000, 1) +
                UpdateLine("Sci Fi", "files/b.exe", 10, 2));
    ServerFault cut;
    cut.truncateAfter = 100;
    server->SetFault("/files/a.exe", cut);
    tp.ui.ExpectMessageBox([&](const ShownMessageBox& box) {
        EXPECT_EQ(box.caption, "Try Again?");
        EXPECT_FALSE(fs::exists(TempPath("a.exe")));  // the short file is gone
        server->ClearFaults();
        return IDYES;
    });
    CheckAndDownload([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        ExpectComplete(w, dlg);
        EXPECT_EQ(dlg.downloadedFiles.size(), 2u);
        // Bytes of the failed attempt stay counted.
        EXPECT_EQ(dlg.transferredBytes, 50000 + 10 + 100);
    });
    EXPECT_EQ(RequestsFor("/files/a.exe"), 2);
}

TEST_F(DownloadTest, NoAfterTheSecondOfThreeKeepsTheFirst) {
    Definitions(UpdateLine("Fablewright", "files/a.exe", 10, 1) +
                UpdateLine("Sci Fi", "files/b.exe", 10, 2) +
                UpdateLine("Fantasy", "files/c.exe", 10, 3));
    ServerFault notFound;
    notFound.status = 404;
    server->SetFault("/files/b.exe", notFound);
    tp.ui.ExpectMessageBox(IDOK, "Error");
    tp.ui.ExpectMessageBox(IDNO, "Try Again?");
    CheckAndDownload([&](HeadlessWindow&, CUpdateDownloaderDlg& dlg) {
        EXPECT_EQ(dlg.downloadedFiles, TextList{TempPath("a.exe")});
        EXPECT_FALSE(dlg.internetSession);
    });
    EXPECT_TRUE(fs::exists(TempPath("a.exe")));
    EXPECT_EQ(RequestsFor("/files/c.exe"), 0);
}

TEST_F(DownloadTest, CancelConfirmedDuringATransferStopsIt) {
    Definitions(UpdateLine("Fablewright", "files/a.exe", 400000, 1));
    ServerFault slow;
    slow.bytesPerSecond = 200000;
    server->SetFault("/files/a.exe", slow);
    bool answered = false;
    tp.ui.AtPump(5, [&] {
        HeadlessWindow* w = tp.ui.Top();
        ASSERT_TRUE(w);
        EXPECT_TRUE(w->Enabled(res::kIdCancel));
        EXPECT_FALSE(w->Enabled(res::kIdExit));
        tp.ui.ExpectMessageBox(IDYES, "Cancel Download?");
        tp.ui.ExpectMessageBox(IDNO, "Try Again?");
        ASSERT_TRUE(w->Click(res::kIdCancel));
        answered = true;
    });
    auto start = std::chrono::steady_clock::now();
    CheckAndDownload([&](HeadlessWindow& w, CUpdateDownloaderDlg&) {
        EXPECT_TRUE(answered);
        EXPECT_FALSE(w.Enabled(res::kIdCancel));
        EXPECT_TRUE(w.Enabled(res::kIdExit));
    });
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_FALSE(fs::exists(TempPath("a.exe")));
}

TEST_F(DownloadTest, CancelWorksWhileTheServerStalls) {
    Definitions(UpdateLine("Fablewright", "files/a.exe", 100000, 1));
    ServerFault stall;
    stall.stallAfter = 10000;
    stall.stallFor = std::chrono::seconds(30);
    server->SetFault("/files/a.exe", stall);
    std::chrono::steady_clock::time_point stalledSince{};
    long pumpsAtStall = 0;
    tp.ui.onEveryPump = [&] {
        HeadlessWindow* w = tp.ui.Top();
        if (!w || !w->Enabled(res::kIdCancel)) return;
        if (stalledSince == std::chrono::steady_clock::time_point{}) {
            stalledSince = std::chrono::steady_clock::now();
            pumpsAtStall = tp.ui.pumpCount;
        }
        // Once the window has been pumped for a while without the transfer ending, the user
        // gives up on it.
        if (tp.ui.pumpCount == pumpsAtStall + 30) {
            tp.ui.ExpectMessageBox(IDYES, "Cancel Download?");
            tp.ui.ExpectMessageBox(IDNO, "Try Again?");
            w->Click(res::kIdCancel);
        }
    };
    auto start = std::chrono::steady_clock::now();
    CheckAndDownload([&](HeadlessWindow&, CUpdateDownloaderDlg&) {});
    tp.ui.onEveryPump = nullptr;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(fs::exists(TempPath("a.exe")));
}

TEST_F(DownloadTest, AbsoluteAddresses) {
    test::TempDir otherRoot;
    UpdateServer other(otherRoot.path());
    ASSERT_TRUE(other.Start(0));
    std::string port = std::to_string(server->Port());
    std::string updateHost = "localhost:" + port;
    std::string sameChecksum = Serve("files/a.exe", 1234, 7);
    std::string otherChecksum = Serve("files/b.exe", 999, 8);
    otherRoot.Write("files/b.exe", ServedContents("files/b.exe"));
    fs::remove(serverRoot + "/files/b.exe");
    // The same server in other letter case, then another server.
    Definitions("update~Fablewright~http://LOCALHOST:" + port + "/files/a.exe~1234~" +
                sameChecksum + "\nupdate~Sci Fi~http://" + other.HostText() + "/files/b.exe~999~" +
                otherChecksum + "\n");
    CheckAndDownload([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) { ExpectComplete(w, dlg); },
                     {}, {"-server", updateHost});
    EXPECT_EQ(RequestsFor("/files/a.exe"), 1);
    EXPECT_EQ(counting->connects,
              (std::vector<std::string>{updateHost, server->HostText(), other.HostText()}));
    auto otherRequests = other.Requests();
    ASSERT_EQ(otherRequests.size(), 1u);
    EXPECT_EQ(otherRequests[0].requestLine, "GET /files/b.exe HTTP/1.0");
}

TEST_F(DownloadTest, TwoRecordsNamingTheSameFileFetchItOnce) {
    std::string checksum = Serve("files/a.exe", 3000, 9);
    tp.dir.Write("server/mirror/a.exe", ServedContents("files/a.exe"));
    Definitions("update~Fablewright~files/a.exe~3000~" + checksum +
                "\nupdate~Sci Fi~mirror/a.exe~3000~" + checksum + "\n");
    CheckAndDownload([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        ExpectComplete(w, dlg);
        EXPECT_EQ(dlg.downloadedFiles, (TextList{TempPath("a.exe")}));  // one file, once
        // One path text for both records, not a copy each.
        ASSERT_EQ(dlg.updateEntries.GetSize(), 2u);
        EXPECT_EQ(dlg.updateEntries[1].LocalPath(), TempPath("a.exe"));
        EXPECT_EQ(dlg.updateEntries[0].localPath, dlg.updateEntries[1].localPath);
    });
    EXPECT_EQ(RequestsFor("/files/a.exe"), 1);
    EXPECT_EQ(RequestsFor("/mirror/a.exe"), 0);
}

// Hundreds of records that expect the one file: it is fetched once and checked again for each
// later record, and the window goes on answering meanwhile. The clock moves 1 ms at every look.
TEST_F(DownloadTest, CheckingOneFileForManyRecordsKeepsTheWindowAnswering) {
    std::string checksum = Serve("files/a.exe", 3000, 9);
    std::string definitions;
    for (int i = 0; i < 400; ++i) definitions += "update~Fablewright~files/a.exe~3000~" + checksum + "\n";
    Definitions(definitions);
    std::uint32_t lastPump = 0;
    std::uint32_t longestGap = 0;
    bool downloading = false;
    tp.ui.onEveryPump = [&] {
        if (downloading) longestGap = std::max(longestGap, tp.system.tick - lastPump);
        lastPump = tp.system.tick;
    };
    CheckAndDownload(
        [&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            longestGap = std::max(longestGap, tp.system.tick - lastPump);  // up to the end
            downloading = false;
            ExpectComplete(w, dlg);
            EXPECT_EQ(dlg.downloadedFiles, (TextList{TempPath("a.exe")}));
        },
        [&](HeadlessWindow&, CUpdateDownloaderDlg&) {
            tp.system.tickStep = 1;
            lastPump = tp.system.tick;
            downloading = true;
        });
    tp.ui.onEveryPump = {};
    EXPECT_EQ(RequestsFor("/files/a.exe"), 1);
    EXPECT_LE(longestGap, 200u);
}

TEST_F(DownloadTest, AListEmptiedBeforeDownloadTransfersNothing) {
    Definitions(UpdateLine("Fablewright", "files/a.exe", 10, 1) +
                UpdateLine("Sci Fi", "files/b.exe", 10, 2));
    CheckAndDownload(
        [&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            ExpectComplete(w, dlg);
            EXPECT_EQ(dlg.updateEntries.GetSize(), 0u);
            EXPECT_TRUE(dlg.downloadedFiles.empty());
        },
        [&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            w.DoubleClickItem(0);
            w.DoubleClickItem(0);
            EXPECT_EQ(dlg.workflowState, WorkflowState::Complete);
            EXPECT_TRUE(w.Enabled(res::kIdDownload));
        });
    EXPECT_EQ(RequestsFor("/files/a.exe") + RequestsFor("/files/b.exe"), 0);
}

TEST_F(DownloadTest, NamesThatWouldLeaveTheTempFolderAreRefused) {
    struct Case {
        const char* what;
        std::string source;
        std::string localName;  // what the local path ends in
    };
    std::string port = std::to_string(server->Port());
    const Case cases[] = {
        {"parent folder", "files/..", ".."},
        {"current folder", "files/.", "."},
        {"empty name", "files/", ""},
        {"backslashes", "files/..\\..\\evil.exe", "..\\..\\evil.exe"},
        {"drive letter", "files/C:evil.exe", "C:evil.exe"},
        {"control character", "files/a\x01.exe", "a\x01.exe"},
        {"absolute address", "http://127.0.0.1:" + port + "/..", ".."},
        {"absolute with backslash", "http://127.0.0.1:" + port + "/x/..\\up.exe", "..\\up.exe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Definitions("update~Fablewright~" + c.source + "~5~1\n");
        tp.ui.messageBoxes.clear();
        server->ClearRequests();
        tp.ui.ExpectMessageBox(IDOK, "Error");
        tp.ui.ExpectMessageBox(IDNO, "Try Again?");
        CheckAndDownload([&](HeadlessWindow&, CUpdateDownloaderDlg&) {});
        ASSERT_EQ(tp.ui.messageBoxes.size(), 2u);
        EXPECT_EQ(tp.ui.messageBoxes[0].text, Format(Text(132), TempPath(c.localName)));
        EXPECT_EQ(server->Requests().size(), 2u);  // the check and its update request only
    }
    // Nothing was written beside the temp folder or above the install folder.
    EXPECT_FALSE(fs::exists(installFolder + "/evil.exe"));
    EXPECT_FALSE(fs::exists(tp.dir.Path("evil.exe")));
    EXPECT_FALSE(fs::exists(installFolder + "/up.exe"));
}

TEST(TransferNamesTest, SafeNamesAndDeviceNames) {
    struct Case {
        const char* name;
        bool posix;
        bool windows;
    };
    const Case cases[] = {
        {"FwUpd42.exe", true, true}, {"a b.exe", true, true},   {"", false, false},
        {".", false, false},         {"..", false, false},      {"a/b", false, false},
        {"a\\b", false, false},     {"c:x", false, false},     {"a\tb", false, false},
        {"CON", true, false},        {"con.txt", true, false},  {"Com1.exe", true, false},
        {"LPT9", true, false},       {"COM10", true, true},     {"CONSOLE", true, true},
        {"nul .txt", true, false},   {"...", true, false},      {"..a", true, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsSafeUpdaterFileName(c.name, false), c.posix) << c.name;
        EXPECT_EQ(IsSafeUpdaterFileName(c.name, true), c.windows) << c.name;
    }
}

TEST(TransferNamesTest, SourceAddresses) {
    struct Case {
        const char* source;
        bool absolute;
        const char* server;
        const char* object;
        const char* fileName;
        bool secure = false;
    };
    const Case cases[] = {
        {"files/a.exe", false, "", "files/a.exe", "a.exe"},
        {"a.exe", false, "", "a.exe", "a.exe"},
        {"http://h.example/x/y.exe", true, "h.example", "x/y.exe", "y.exe"},
        {"http://h:81/y.exe", true, "h:81", "y.exe", "y.exe"},
        {"see http://h/http://z.exe", true, "see h", "z.exe", "z.exe"},
        {"http://nohost", true, "", "nohost", "nohost"},
        {"HTTP://h/u.exe", false, "", "HTTP://h/u.exe", "u.exe"},
        {"https://h:8443/x/y.exe", true, "h:8443", "x/y.exe", "y.exe", true},
        {"HTTPS://h/see/http://z.exe", true, "h", "see/http://z.exe", "z.exe", true},
        {"see https://h/z.exe", false, "", "see https://h/z.exe", "z.exe"},
    };
    for (const Case& c : cases) {
        UpdaterSource s = SplitSourceUrl(c.source);
        EXPECT_EQ(s.absolute, c.absolute) << c.source;
        EXPECT_EQ(s.server, c.server) << c.source;
        EXPECT_EQ(s.object, c.object) << c.source;
        EXPECT_EQ(s.secure, c.secure) << c.source;
        EXPECT_EQ(UpdaterFileName(c.source), c.fileName) << c.source;
    }
}

}  // namespace
}  // namespace fw
