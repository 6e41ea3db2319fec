// The program against update, information and download servers that speak TLS: the whole run,
// certificates that must be refused, and redirects between the two schemes.

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/http_redirects.h"
#include "res/resource.h"
#include "tests/support/update_scenario.h"

namespace fw {
namespace {

using test::UpdateScenario;
namespace fs = std::filesystem;

constexpr char kDefinitionsPath[] = "/UpDefs/FablewrightUpdates.txt";

class HttpsTest : public UpdateScenario {
protected:
    void SetUp() override { Install({{"SciFi.gsi", "Sci Fi"}}); }

    // Check and, when it lists something, Download; then Exit.
    void CheckAndDownload(std::vector<std::string> extraArgs = {}) {
        Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            w.Click(res::kIdCheck);
            bool listed = dlg.workflowState == WorkflowState::Listed;
            if (listed && !w.Items(res::kIdUpdateList).empty()) {
                w.Click(res::kIdDownload);
            }
            finalState = dlg.workflowState;
            if (dlg.workflowState == WorkflowState::Downloaded) {
                tp.ui.ExpectMessageBox(IDYES, "Exit Without Installing All?");
            }
            w.Click(res::kIdExit);
        }, std::move(extraArgs));
    }

    std::vector<std::string> Shown() const {
        std::vector<std::string> texts;
        for (const ShownMessageBox& box : tp.ui.messageBoxes) texts.push_back(box.text);
        return texts;
    }

    WorkflowState finalState = WorkflowState::Initial;
};

TEST_F(HttpsTest, AWholeReleaseUpdateOverTls) {
    UseTls(*server);
    std::string port = std::to_string(server->Port());
    // The second updater names the update server's own address: its connection is reused.
    Definitions("version~4\n" + UpdateLine("Fablewright", "files/a.exe", 30000, 1) +
                "update~Sci Fi~https://LOCALHOST:" + port + "/files/b.exe~999~" +
                Serve("files/b.exe", 999, 2) + "\n");
    CheckAndDownload();
    EXPECT_EQ(finalState, WorkflowState::Downloaded);
    EXPECT_TRUE(tp.ui.unexpected.empty());
    std::vector<std::string> lines;
    for (const RecordedRequest& r : server->Requests()) lines.push_back(r.requestLine);
    EXPECT_EQ(lines, (std::vector<std::string>{"GET /UpDefs/FablewrightUpdates.txt HTTP/1.0",
                                               "POST /vrn/sendupdinfo.php HTTP/1.0",
                                               "GET /files/a.exe HTTP/1.0",
                                               "GET /files/b.exe HTTP/1.0"}));
    EXPECT_EQ(counting->connects,
              (std::vector<std::string>{server->HostText(), server->HostText()}));
    EXPECT_EQ(tp.dir.Read("Fablewright/temp/a.exe"), ServedContents("files/a.exe"));
    EXPECT_EQ(tp.dir.Read("Fablewright/temp/b.exe"), ServedContents("files/b.exe"));
}

// Definitions fetched over TLS that send the update request or fetch an updater in the clear
// are refused before anything is sent or fetched.
TEST_F(HttpsTest, DefinitionsOverTlsNameNothingPlain) {
    UseTls(*server);
    UpdateServer plain(serverRoot);
    ASSERT_TRUE(plain.Start(0));
    std::string checksum = Serve("files/b.exe", 100, 2);
    std::string tlsInfo = "info~" + server->HostText() + "~vrn/sendupdinfo.php\n";
    struct Case {
        const char* what;
        std::string definitions;
        int refusal;  // 0: accepted
        std::string named;
    };
    const Case cases[] = {
        {"info over http", "info~http://" + plain.HostText() + "~vrn/sendupdinfo.php\n", 167,
         "http://" + plain.HostText()},
        {"info without a scheme", "info~" + plain.HostText() + "~x.php\n", 167, plain.HostText()},
        {"updater over http",
         tlsInfo + "update~Sci Fi~http://" + plain.HostText() + "/files/b.exe~100~" + checksum + "\n",
         168, "http://" + plain.HostText() + "/files/b.exe"},
        {"all over https", tlsInfo + "update~Sci Fi~files/b.exe~100~" + checksum + "\n", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Definitions(c.definitions);
        tp.ui.messageBoxes.clear();
        server->ClearRequests();
        plain.ClearRequests();
        if (c.refusal) tp.ui.ExpectMessageBox(IDOK, "Error");
        CheckAndDownload();
        EXPECT_TRUE(plain.Requests().empty());
        if (c.refusal) {
            EXPECT_EQ(finalState, WorkflowState::Checking);
            ASSERT_EQ(Shown().size(), 1u);
            EXPECT_EQ(Shown()[0], Format(Text(c.refusal), c.named));
            EXPECT_EQ(server->Requests().size(), 1u);  // the definitions only
        } else {
            EXPECT_EQ(finalState, WorkflowState::Downloaded);
        }
    }
}

TEST_F(HttpsTest, AnHttpsAddressOnAnotherServer) {
    test::TempDir otherRoot;
    UpdateServer other(otherRoot.path());
    UseTls(other);
    std::string checksum = Serve("files/b.exe", 5000, 3);
    otherRoot.Write("files/b.exe", ServedContents("files/b.exe"));
    fs::remove(serverRoot + "/files/b.exe");
    Definitions("update~Sci Fi~" + other.HostText() + "/files/b.exe~5000~" + checksum + "\n");
    CheckAndDownload();
    EXPECT_EQ(finalState, WorkflowState::Downloaded);
    EXPECT_EQ(counting->connects, (std::vector<std::string>{server->HostText(),
                                                            server->HostText(),
                                                            other.HostText()}));
    ASSERT_EQ(other.Requests().size(), 1u);
    EXPECT_EQ(other.Requests()[0].requestLine, "GET /files/b.exe HTTP/1.0");
    EXPECT_EQ(tp.dir.Read("Fablewright/temp/b.exe"), otherRoot.Read("files/b.exe"));
}

TEST_F(HttpsTest, ACertificateThatDoesNotVerifyIsRefusedWithItsMessage) {
    enum class Where { kUpdateServer, kDownload, kInfoServer };
    struct Case {
        const char* what;
        ServerCertificate certificate;
        Where where;
    };
    const Case cases[] = {
        {"another name", ServerCertificate::kOtherName, Where::kUpdateServer},
        {"expired", ServerCertificate::kExpired, Where::kUpdateServer},
        {"unknown authority", ServerCertificate::kUnknownAuthority, Where::kUpdateServer},
        {"download", ServerCertificate::kUnknownAuthority, Where::kDownload},
        {"update request", ServerCertificate::kExpired, Where::kInfoServer},
    };
    test::TempDir otherRoot;
    std::string checksum = Serve("files/b.exe", 100, 4);
    otherRoot.Write("files/b.exe", ServedContents("files/b.exe"));
    otherRoot.Write("UpDefs/FablewrightUpdates.txt", "version~4\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UpdateServer bad(otherRoot.path());
        UseTls(bad, c.certificate);
        fs::remove_all(installFolder + "/temp");
        tp.ui.messageBoxes.clear();
        counting->connects.clear();
        std::vector<std::string> args;
        std::string expected;
        switch (c.where) {
        case Where::kUpdateServer:
            args = {"-server", bad.HostText()};
            expected = Format(Text(160), bad.HostText());
            tp.ui.ExpectMessageBox(IDOK, "Error");
            break;
        case Where::kDownload:
            Definitions("update~Sci Fi~" + bad.HostText() + "/files/b.exe~100~" + checksum + "\n");
            expected = Format(Text(161), "b.exe");
            tp.ui.ExpectMessageBox(IDOK, "Error");
            tp.ui.ExpectMessageBox(IDNO, "Try Again?");
            break;
        case Where::kInfoServer:
            Definitions("version~4\n");
            args = {"-infoserver", bad.HostText()};
            expected = Format(Text(162), bad.HostText());
            tp.ui.ExpectMessageBox(IDOK, "Note");
            break;
        }
        CheckAndDownload(args);
        ASSERT_FALSE(tp.ui.messageBoxes.empty());
        EXPECT_EQ(tp.ui.messageBoxes[0].text, expected);
        EXPECT_TRUE(bad.Requests().empty());  // nothing reached it
        // A refused update server ends the check; the others leave it standing.
        EXPECT_EQ(finalState, c.where == Where::kUpdateServer ? WorkflowState::Checking
                                                              : WorkflowState::Listed);
        EXPECT_FALSE(fs::exists(TempPath("b.exe")) && fs::file_size(TempPath("b.exe")) > 0);
    }
}

TEST_F(HttpsTest, RedirectsGoOnToHttpsButNeverBackToHttp) {
    struct Case {
        const char* what;
        bool updateServerSecure;
        bool targetSecure;
        bool loop;          // the definitions point at themselves
        bool listed;
        int targetRequests;
    };
    const Case cases[] = {
        {"http to https is followed", false, true, false, true, 1},
        {"https to https is followed", true, true, false, true, 1},
        {"https to http is refused", true, false, false, false, 0},
        {"a loop ends after five", false, false, true, false, 0},
    };
    Definitions("version~4\n");
    test::TempDir otherRoot;
    otherRoot.Write("UpDefs/FablewrightUpdates.txt", "version~4.5\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        UpdateServer target(otherRoot.path());
        if (c.targetSecure) {
            UseTls(target);
        } else {
            ASSERT_TRUE(target.Start(0));
        }
        if (c.updateServerSecure) {
            UseTls(*server);
        } else {
            server->Stop();
            server->UseTls(ServerCertificate::kNone);
            ASSERT_TRUE(server->Start(0));
        }
        std::string to = c.loop ? kDefinitionsPath : target.HostText() + kDefinitionsPath;
        if (to.find("://") == std::string::npos && !c.loop) to = "http://" + to;
        ServerFault redirect;
        redirect.redirect = to;
        server->ClearFaults();
        server->SetFault(kDefinitionsPath, redirect);
        server->ClearRequests();
        tp.ui.messageBoxes.clear();
        if (!c.listed) tp.ui.ExpectMessageBox(IDOK, "Error");
        Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            w.Click(res::kIdCheck);
            EXPECT_EQ(dlg.workflowState == WorkflowState::Listed, c.listed);
            if (c.listed) {
                EXPECT_EQ(dlg.availableVersion, "4.5");
            }
            w.Click(res::kIdExit);
        });
        EXPECT_EQ(Shown(), c.listed ? std::vector<std::string>{}
                                    : std::vector<std::string>{Format(Text(115), 302)});
        EXPECT_EQ(target.Requests().size(), static_cast<std::size_t>(c.targetRequests));
        EXPECT_EQ(RequestsFor(kDefinitionsPath), c.loop ? 1 + kMaxRedirects : 1);
    }
}

}  // namespace
}  // namespace fw
