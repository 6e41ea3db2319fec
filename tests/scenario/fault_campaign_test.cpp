// Hostile servers and a failing machine: every fault ends with its message, leaves no file
// where none belongs, and leaves the dialog usable (a second Check, a retry, Exit).

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "res/resource.h"
#include "tests/support/fault_env.h"
#include "tests/support/update_scenario.h"

namespace fw {
namespace {

using test::UpdateScenario;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char kDefinitionsPath[] = "/UpDefs/FablewrightUpdates.txt";

class FaultCampaignTest : public UpdateScenario {
protected:
    void SetUp() override { Install({{"SciFi.gsi", "Sci Fi"}}); }

    static ServerFault Status(int code) {
        ServerFault f;
        f.status = code;
        return f;
    }
    static ServerFault Truncate(std::uint64_t after) {
        ServerFault f;
        f.truncateAfter = after;
        return f;
    }
    static ServerFault Announce(std::uint64_t length) {
        ServerFault f;
        f.announcedLength = length;
        return f;
    }
    static ServerFault Drop() {
        ServerFault f;
        f.drop = true;
        return f;
    }

    // The dialog's state after a check that failed: nothing listed, Check offered again.
    void ExpectCheckFailed(HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        EXPECT_EQ(dlg.workflowState, WorkflowState::Checking);
        EXPECT_TRUE(w.Enabled(res::kIdCheck));
        EXPECT_FALSE(w.Enabled(res::kIdDownload));
        EXPECT_TRUE(w.Items(res::kIdUpdateList).empty());
        EXPECT_FALSE(dlg.internetSession);
        EXPECT_FALSE(dlg.serverConnection);
    }

    // Check, Download, then whatever the retry question brings; Exit when the dialog allows.
    void CheckDownloadExit(std::function<void(HeadlessWindow&, CUpdateDownloaderDlg&)> after) {
        Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            ASSERT_TRUE(w.Click(res::kIdCheck));
            ASSERT_EQ(dlg.workflowState, WorkflowState::Listed);
            ASSERT_TRUE(w.Click(res::kIdDownload));
            after(w, dlg);
            if (!w.ended) {
                EXPECT_TRUE(w.Enabled(res::kIdExit));
                if (dlg.workflowState == WorkflowState::Downloaded) {
                    tp.ui.ExpectMessageBox(IDYES, "Exit Without Installing All?");
                }
                ASSERT_TRUE(w.Click(res::kIdExit));
            }
            EXPECT_TRUE(w.ended);  // Exit works after every fault
        });
    }
};

TEST_F(FaultCampaignTest, ARefusedConnectionFailsTheCheckAndAServerThatComesBackIsUsed) {
    Definitions("version~7\nupdate~Sci Fi~files/s.exe~5~1\n");
    UpdateServer late(serverRoot);
    ASSERT_TRUE(late.Start(0));
    int port = late.Port();
    std::string host = late.HostText();
    late.Stop();
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        tp.ui.ExpectMessageBox(IDOK, "Error");
        w.Click(res::kIdCheck);
        ExpectCheckFailed(w, dlg);
        ASSERT_TRUE(late.Start(port));  // the server is back on the same address
        w.Click(res::kIdCheck);
        EXPECT_EQ(dlg.workflowState, WorkflowState::Listed);
        EXPECT_EQ(w.Items(res::kIdUpdateList), std::vector<std::string>{"Sci Fi"});
        w.Click(res::kIdExit);
        EXPECT_TRUE(w.ended);
    }, {"-server", host});
    ASSERT_EQ(tp.ui.messageBoxes.size(), 1u);
    const std::string& text = tp.ui.messageBoxes[0].text;
    EXPECT_TRUE(text == Format(Text(112), host) || text == Format(Text(115), -2)) << text;
}

TEST_F(FaultCampaignTest, DefinitionsThatBreakOffFailTheCheckUntilTheFaultIsCleared) {
    const std::string definitions =
        "version~7\nupdate~Fablewright~files/f.exe~5~1\nupdate~Sci Fi~files/s.exe~5~1\n";
    struct Case {
        const char* what;
        ServerFault fault;
        std::string text;
    };
    const Case cases[] = {
        {"dropped before the answer", Drop(), Format(Text(115), -2)},
        {"dropped after the headers", Truncate(0), Format(Text(115), -4)},
        {"dropped mid-line", Truncate(14), Format(Text(115), -4)},
        {"dropped at a line end", Truncate(10), Format(Text(115), -4)},
        {"longer length announced", Announce(definitions.size() + 100), Format(Text(115), -4)},
        {"moved permanently", Status(301), Format(Text(115), 301)},
        {"server error", Status(500), Format(Text(115), 500)},
        {"unavailable", Status(503), Format(Text(115), 503)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Written anew, so that the copy kept from the last case is not current.
        Definitions(definitions);
        server->ClearFaults();
        server->SetFault(kDefinitionsPath, c.fault);
        server->ClearRequests();
        tp.ui.messageBoxes.clear();
        Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            tp.ui.ExpectMessageBox(IDOK, "Error");
            w.Click(res::kIdCheck);
            ExpectCheckFailed(w, dlg);
            EXPECT_EQ(RequestsFor("/vrn/sendupdinfo.php"), 0);
            // The same dialog checks again once the server behaves.
            server->ClearFaults();
            w.Click(res::kIdCheck);
            EXPECT_EQ(dlg.workflowState, WorkflowState::Listed);
            EXPECT_EQ(w.Items(res::kIdUpdateList),
                      (std::vector<std::string>{"Fablewright", "Sci Fi"}));
            EXPECT_EQ(dlg.updateEntries.GetSize(), 2u);  // nothing of the failed check remains
            EXPECT_EQ(dlg.totalBytes, 10);
            w.Click(res::kIdExit);
        });
        ASSERT_EQ(tp.ui.messageBoxes.size(), 1u);
        EXPECT_EQ(tp.ui.messageBoxes[0].text, c.text);
        EXPECT_EQ(RequestsFor("/vrn/sendupdinfo.php"), 1);
        EXPECT_FALSE(fs::exists(installFolder + "/temp"));
    }
}

// HTTP/1.0 with a Content-Length shorter than the file: the answer looks complete, so the check
// cannot tell. What it lists is what arrived; the length check of the download catches a record
// whose size field was cut.
TEST_F(FaultCampaignTest, AShorterAnnouncedLengthCutsTheDefinitionsWhereItSays) {
    const std::string first = "update~Fablewright~files/f.exe~" + std::string("5") + "~1\n";
    Definitions(first + "update~Sci Fi~files/s.exe~5~1\n");
    server->SetFault(kDefinitionsPath, Announce(first.size()));
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        w.Click(res::kIdCheck);
        EXPECT_EQ(dlg.workflowState, WorkflowState::Listed);
        EXPECT_EQ(w.Items(res::kIdUpdateList), std::vector<std::string>{"Fablewright"});
        w.Click(res::kIdExit);
    });
}

// The check reads the definitions without pumping, so a server that stops sending holds the
// dialog until the layer's stall time-out (kStallTimeoutSeconds, 60 s) ends the check with
// message 115 and the code -4. A short stall that then resumes must end in a normal listing.
TEST_F(FaultCampaignTest, AStalledDefinitionsAnswerThatResumesIsReadWhole) {
    Definitions("version~7\nupdate~Fablewright~files/f.exe~5~1\nupdate~Sci Fi~files/s.exe~5~1\n");
    ServerFault stall;
    stall.stallAfter = 20;
    stall.stallFor = std::chrono::milliseconds(1500);
    server->SetFault(kDefinitionsPath, stall);
    Clock::time_point start = Clock::now();
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        w.Click(res::kIdCheck);
        EXPECT_EQ(dlg.workflowState, WorkflowState::Listed);
        EXPECT_EQ(w.Items(res::kIdUpdateList),
                  (std::vector<std::string>{"Fablewright", "Sci Fi"}));
        w.Click(res::kIdExit);
    });
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1400));
    EXPECT_EQ(tp.ui.pumpCount, 0);  // the check itself never pumps
}

TEST_F(FaultCampaignTest, UpdaterFaultsAtEveryStageAskToRetryAndLeaveNoPartialFile) {
    constexpr std::size_t kSize = 30000;
    std::string line = UpdateLine("Fablewright", "files/a.exe", kSize, 3);
    struct Case {
        const char* what;
        ServerFault fault;
        std::vector<std::string> messages;  // before the retry question
        bool emptyFileLeft;                 // otherwise no file at all
    };
    ServerFault stallShort;
    stallShort.stallAfter = 9000;
    stallShort.stallFor = std::chrono::milliseconds(800);
    const Case cases[] = {
        {"dropped before the answer", Drop(), {Format(Text(135), "a.exe")}, true},
        {"dropped after the headers", Truncate(0), {}, false},
        {"dropped mid-body", Truncate(12345), {}, false},
        {"dropped one byte short", Truncate(kSize - 1), {}, false},
        {"shorter length announced", Announce(kSize - 4096), {}, false},
        {"longer length announced", Announce(kSize + 1), {}, false},
        {"moved permanently", Status(301), {Format(Text(134), "a.exe", 301)}, true},
        {"server error", Status(500), {Format(Text(134), "a.exe", 500)}, true},
        {"unavailable", Status(503), {Format(Text(134), "a.exe", 503)}, true},
    };
    Definitions(line);
    for (const Case& c : cases) {
        for (bool retry : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (retry ? ", then a retry" : ", then Exit"));
            fs::remove_all(installFolder + "/temp");
            server->ClearFaults();
            server->SetFault("/files/a.exe", c.fault);
            tp.ui.messageBoxes.clear();
            for (std::size_t i = 0; i < c.messages.size(); ++i) tp.ui.ExpectMessageBox(IDOK, "Error");
            bool fileAtQuestion = true;
            std::int64_t sizeAtQuestion = -1;
            tp.ui.ExpectMessageBox([&](const ShownMessageBox& box) {
                EXPECT_EQ(box.caption, "Try Again?");
                fileAtQuestion = fs::exists(TempPath("a.exe"));
                if (fileAtQuestion) {
                    sizeAtQuestion = static_cast<std::int64_t>(fs::file_size(TempPath("a.exe")));
                }
                if (retry) server->ClearFaults();
                return retry ? IDYES : IDNO;
            });
            CheckDownloadExit([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
                EXPECT_FALSE(dlg.internetSession);
                EXPECT_FALSE(w.Enabled(res::kIdCancel));
                if (retry) {
                    EXPECT_EQ(dlg.workflowState, WorkflowState::Downloaded);
                    EXPECT_EQ(dlg.downloadedFiles, TextList{TempPath("a.exe")});
                } else {
                    EXPECT_EQ(dlg.workflowState, WorkflowState::Listed);
                    EXPECT_TRUE(dlg.downloadedFiles.empty());
                    EXPECT_FALSE(w.Enabled(res::kIdInstall));
                }
            });
            ASSERT_EQ(tp.ui.messageBoxes.size(), c.messages.size() + 1 + (retry ? 1 : 0));
            for (std::size_t i = 0; i < c.messages.size(); ++i) {
                EXPECT_EQ(tp.ui.messageBoxes[i].text, c.messages[i]);
            }
            EXPECT_EQ(fileAtQuestion, c.emptyFileLeft);
            if (c.emptyFileLeft) {
                EXPECT_EQ(sizeAtQuestion, 0);
            }
            if (retry) {
                EXPECT_EQ(tp.dir.Read("Fablewright/temp/a.exe"), ServedContents("files/a.exe"));
            } else {
                // Exit after an abandoned download deletes nothing and adds nothing.
                EXPECT_EQ(fs::exists(TempPath("a.exe")), c.emptyFileLeft);
            }
        }
    }
    // A short stall mid-body only slows the transfer: the window keeps being pumped.
    server->ClearFaults();
    server->SetFault("/files/a.exe", stallShort);
    fs::remove_all(installFolder + "/temp");
    tp.ui.messageBoxes.clear();
    long pumpsBefore = tp.ui.pumpCount;
    CheckDownloadExit([&](HeadlessWindow&, CUpdateDownloaderDlg& dlg) {
        EXPECT_EQ(dlg.workflowState, WorkflowState::Downloaded);
    });
    EXPECT_TRUE(tp.ui.messageBoxes.size() == 1u);  // only the question at Exit
    EXPECT_GT(tp.ui.pumpCount - pumpsBefore, 800 / 50);
    EXPECT_EQ(tp.dir.Read("Fablewright/temp/a.exe"), ServedContents("files/a.exe"));
}

TEST_F(FaultCampaignTest, ADiskThatFillsDuringTheWriteShowsTheWriteError) {
    constexpr std::size_t kSize = 60000;
    Definitions(UpdateLine("Fablewright", "files/a.exe", kSize, 4));
    auto limit = std::make_unique<test::FileSizeLimit>(20000);
    ASSERT_TRUE(limit->Active());
    tp.ui.ExpectMessageBox(IDOK, "Error");
    bool shortFileGone = false;
    tp.ui.ExpectMessageBox([&](const ShownMessageBox& box) {
        EXPECT_EQ(box.caption, "Try Again?");
        shortFileGone = !fs::exists(TempPath("a.exe"));
        limit.reset();  // space was made; the retry must succeed
        return IDYES;
    });
    CheckDownloadExit([&](HeadlessWindow&, CUpdateDownloaderDlg& dlg) {
        EXPECT_EQ(dlg.workflowState, WorkflowState::Downloaded);
    });
    limit.reset();
    ASSERT_GE(tp.ui.messageBoxes.size(), 2u);
    EXPECT_EQ(tp.ui.messageBoxes[0].text, Format(Text(127), TempPath("a.exe")));
    EXPECT_TRUE(shortFileGone);
    EXPECT_EQ(tp.dir.Read("Fablewright/temp/a.exe"), ServedContents("files/a.exe"));
}

TEST_F(FaultCampaignTest, ATempFolderThatCannotBeCreatedShowsTheCreateError) {
    Definitions(UpdateLine("Fablewright", "files/a.exe", 100, 1));
    tp.dir.Write("Fablewright/temp", "not a folder");
    tp.ui.ExpectMessageBox(IDOK, "Error");
    tp.ui.ExpectMessageBox(IDNO, "Try Again?");
    CheckDownloadExit([&](HeadlessWindow&, CUpdateDownloaderDlg& dlg) {
        EXPECT_EQ(dlg.workflowState, WorkflowState::Listed);
        EXPECT_TRUE(dlg.downloadedFiles.empty());
    });
    ASSERT_EQ(tp.ui.messageBoxes.size(), 2u);
    EXPECT_EQ(tp.ui.messageBoxes[0].text, Format(Text(132), TempPath("a.exe")));
    EXPECT_EQ(tp.dir.Read("Fablewright/temp"), "not a folder");
    EXPECT_EQ(RequestsFor("/files/a.exe"), 0);
}

TEST_F(FaultCampaignTest, AnUnreadableRegistryShowsNotInstalledAndIsLeftAlone) {
    // A folder where the registry file belongs cannot be read (or replaced) by anyone.
    fs::remove(tp.registryPath());
    fs::create_directory(tp.registryPath());
    tp.dir.Write("registry.reg/inside", "kept");
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg&) {
        EXPECT_EQ(w.Text(res::kIdInstructions), Text(104));
        EXPECT_FALSE(w.Enabled(res::kIdCheck));
        w.Click(res::kIdExit);
    });
    EXPECT_TRUE(fs::is_directory(tp.registryPath()));
    EXPECT_EQ(tp.dir.Read("registry.reg/inside"), "kept");
    EXPECT_EQ(server->Requests().size(), 0u);
}

TEST_F(FaultCampaignTest, ARegistryFileBeyondTheSizeLimitIsNotRead) {
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n";
    text += "[HKEY_CURRENT_USER\\Software\\Corvallen\\Fablewright\\InstallDir]\r\n@=\"" +
            installFolder + "\"\r\n";
    text += std::string(17u * 1024u * 1024u, ';');
    tp.dir.Write("registry.reg", text);
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg&) {
        EXPECT_EQ(w.Text(res::kIdInstructions), Text(104));
        w.Click(res::kIdExit);
    });
    EXPECT_TRUE(tp.dir.Read("registry.reg") == text);
}

// Permissions mean nothing to root, so this part runs as "nobody" in a child process.
TEST_F(FaultCampaignTest, UnreadableInstallFolderTemplatesAndRegistryAreSurvived) {
    struct Case {
        const char* what;
        std::string path;     // made unreadable
        fs::perms perms;
        bool stepOne;         // otherwise the not-installed text
        TextList systems;
    };
    std::string scifi = installFolder + "/SciFi.gsi";
    std::string product = installFolder + "/Fablewright.exe";
    const Case cases[] = {
        {"install folder", installFolder, fs::perms::owner_write | fs::perms::owner_exec |
                                               fs::perms::others_exec, true, {}},
        {"template file", scifi, fs::perms::none, true, {"Fablewright"}},
        {"product executable", product, fs::perms::none, true, {"Fablewright", "Sci Fi"}},
        {"registry file", tp.registryPath(), fs::perms::none, false, {}},
    };
    // Everything else must stay open to the unprivileged child.
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(tp.dir.path())) {
        fs::permissions(e.path(), fs::perms::others_read | fs::perms::others_exec,
                        fs::perm_options::add);
    }
    fs::permissions(tp.dir.path(), fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::add);
    std::string registryBefore = tp.dir.Read("registry.reg");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::perms before = fs::status(c.path).permissions();
        fs::permissions(c.path, c.perms);
        int status = test::RunUnprivileged([&] {
            // The child must really be refused, or this proves nothing.
            if (c.path == installFolder) {
                std::error_code error;
                fs::directory_iterator listing(c.path, error);
                EXPECT_TRUE(error);
            } else {
                EXPECT_FALSE(std::ifstream(c.path).is_open());
            }
            Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
                EXPECT_EQ(w.Text(res::kIdInstructions),
                          c.stepOne ? Format(Text(res::kStrStep1), 1) : Text(104));
                EXPECT_EQ(dlg.installedSystems, c.systems);
                w.Click(res::kIdExit);
                EXPECT_TRUE(w.ended);
            });
        });
        fs::permissions(c.path, before);
        EXPECT_EQ(status, 0) << "the unprivileged run failed (2: could not drop root)";
        EXPECT_EQ(tp.dir.Read("registry.reg"), registryBefore);
    }
}

TEST_F(FaultCampaignTest, AHundredThousandRecordsStayFast) {
    std::string text = "updatever~3\nversion~big\n";
    constexpr int kRecords = 100000;
    for (int i = 0; i < kRecords; ++i) {
        std::string name = i % 1000 == 0 ? "Sci Fi" : "Template " + std::to_string(i);
        text += "update~" + name + "~files/u" + std::to_string(i) + ".exe~" +
                std::to_string(1000 + i) + "~" + std::to_string(i) + "\n";
    }
    Definitions(text);
    Clock::duration took{};
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
        Clock::time_point start = Clock::now();
        w.Click(res::kIdCheck);
        took = Clock::now() - start;
        EXPECT_EQ(dlg.workflowState, WorkflowState::Listed);
        EXPECT_EQ(dlg.updateEntries.GetSize(), static_cast<std::size_t>(kRecords));
        EXPECT_EQ(w.Items(res::kIdUpdateList).size(), static_cast<std::size_t>(kRecords / 1000));
        w.Click(res::kIdExit);
    });
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
    std::printf("check of %d records (%zu bytes): %lld ms\n", kRecords, text.size(),
                static_cast<long long>(ms));
    EXPECT_LT(ms, 10000);  // generous for sanitizer builds; release builds take far less
}

}  // namespace
}  // namespace fw
