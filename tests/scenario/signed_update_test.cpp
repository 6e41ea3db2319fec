// A program with a trusted key against the loopback update server: signed definitions from
// Check to Exit, every refusal of the check, and updaters whose bytes are not the signed ones.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "discovery/definitions_trust.h"
#include "discovery/signed_definitions.h"
#include "download/verify.h"
#include "res/resource.h"
#include "tests/support/test_signer.h"
#include "tests/support/test_updater.h"
#include "tests/support/update_scenario.h"

namespace fw {
namespace {

namespace fs = std::filesystem;
using test::TestSigner;

constexpr const char* kRelease = "FablewrightUpdates.txt";
constexpr const char* kBeta = "FablewrightBetaUpdates.txt";

class SignedUpdateTest : public test::UpdateScenario {
protected:
    void SetUp() override {
        Install({{"Fantasy.gsi", "Fantasy"}});
        Trust({signer.PublicKey()});
    }

    // The program under test trusts `trusted` (none: built without keys).
    void Trust(TrustedKeys trusted) {
        keys = std::move(trusted);
        Platform& p = tp.platform();
        platform = std::make_unique<Platform>(
            Platform{p.ui, *counting, p.registry, p.files, p.processes, p.system, keys});
    }

    // An "update" line with the digest field for the file served at `path`.
    std::string DigestLine(const std::string& name, const std::string& path) {
        FileFacts facts;
        EXPECT_TRUE(ReadFileFacts(*tp.files, serverRoot + "/" + path, facts));
        char checksum[16];
        std::snprintf(checksum, sizeof checksum, "%x", facts.checksum);
        return "update~" + name + "~" + path + "~" + std::to_string(facts.size) + "~" + checksum +
               "~sha256:" + DigestHex(facts.digest) + "\n";
    }
    std::string Body(const std::string& updates, const std::string& file = kRelease,
                     int serial = 3) {
        return "updatever~3\r\nversion~4.2\r\nserial~" + file + "~" + std::to_string(serial) +
               "\r\n" + updates;
    }
    std::string Refusal(int id, std::string a = {}, std::string b = {}) {
        return Format(Text(id), a, b);
    }

    TestSigner signer;
    TrustedKeys keys;
};

TEST_F(SignedUpdateTest, SignedReleaseAndBetaFromCheckToExit) {
    test::CopyTestUpdater(serverRoot + "/files/fantasy.exe");
    std::string line = DigestLine("Fantasy", "files/fantasy.exe");
    Definitions(signer.Signed(Body(line)));
    Definitions(signer.Signed(Body(line, kBeta, 12)), true);
    for (bool beta : {false, true}) {
        SCOPED_TRACE(beta ? "beta" : "release");
        Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            if (beta) w.Click(res::kIdBetaVersion);
            ASSERT_TRUE(w.Click(res::kIdCheck));
            EXPECT_EQ(w.Items(res::kIdUpdateList), std::vector<std::string>{"Fantasy"});
            EXPECT_EQ(dlg.availableVersion, "4.2");
            ASSERT_TRUE(w.Click(res::kIdDownload));
            EXPECT_EQ(w.Text(res::kIdStatus), "Download complete.");
            if (!beta) {
                ASSERT_TRUE(w.Click(res::kIdInstall));
                ASSERT_TRUE(dlg.processInfo.process);
                ASSERT_TRUE(test::WaitForExit(*dlg.processInfo.process));
                ASSERT_TRUE(w.TickTimer(1));
                EXPECT_EQ(w.Text(res::kIdStatus), "Update complete.");
            } else {
                tp.ui.ExpectMessageBox(IDYES, "Exit Without Installing All?");
            }
            w.Click(res::kIdExit);
        });
        EXPECT_TRUE(tp.ui.messageBoxes.size() == (beta ? 1u : 0u));
        tp.ui.messageBoxes.clear();
    }
    // Each file name keeps the serial of its last accepted check.
    EXPECT_EQ(AcceptedSerial(*tp.registry, kRelease), 3u);
    EXPECT_EQ(AcceptedSerial(*tp.registry, kBeta), 12u);
}

TEST_F(SignedUpdateTest, EachRefusalKeepsCheckOpenForAnotherTry) {
    Serve("files/f.exe", 5000);
    std::string line = DigestLine("Fantasy", "files/f.exe");
    std::string body = Body(line);
    TestSigner stranger;
    std::string unsignedRecord = UpdateLine("Fantasy", "files/f.exe", 5000);
    std::string altered = signer.Signed(body);
    altered.replace(altered.find("4.2"), 3, "4.3");
    struct Case {
        const char* what;
        std::string definitions;
        std::string message;
    };
    const Case cases[] = {
        {"unsigned", body, Refusal(149)},
        {"unknown key", stranger.Signed(body), Refusal(150, stranger.KeyId())},
        {"unreadable signature", body + "signature~ecdsa-p256-sha256~" + signer.KeyId() + "~!!\n",
         Refusal(151)},
        {"altered after signing", altered, Refusal(152)},
        {"an unsigned record appended", signer.Signed(body) + unsignedRecord, Refusal(153)},
        {"no serial", signer.Signed("version~4.2\n" + line), Refusal(154)},
        {"the beta file under the release name", signer.Signed(Body(line, kBeta, 50)),
         Refusal(155, kBeta, kRelease)},
        {"an older serial replayed", signer.Signed(Body(line, kRelease, 2)), Refusal(156, "2", "3")},
        {"an update without its digest", signer.Signed(Body(unsignedRecord)), Refusal(157, "Fantasy")},
    };
    RememberSerial(*tp.registry, kRelease, 3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Definitions(c.definitions);
        server->ClearRequests();
        tp.ui.messageBoxes.clear();
        Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            tp.ui.ExpectMessageBox(IDOK, "Error");
            w.Click(res::kIdCheck);
            EXPECT_TRUE(w.Enabled(res::kIdCheck));
            EXPECT_FALSE(w.Enabled(res::kIdDownload));
            EXPECT_TRUE(w.Items(res::kIdUpdateList).empty());
            EXPECT_EQ(dlg.updateEntries.GetSize(), 0u);
            EXPECT_FALSE(dlg.internetSession);
            // Another try once the server has it right.
            Definitions(signer.Signed(body));
            ASSERT_TRUE(w.Click(res::kIdCheck));
            EXPECT_EQ(w.Items(res::kIdUpdateList), std::vector<std::string>{"Fantasy"});
            w.Click(res::kIdExit);
        });
        ASSERT_EQ(tp.ui.messageBoxes.size(), 1u);
        EXPECT_EQ(tp.ui.messageBoxes[0].text, c.message);
        EXPECT_EQ(RequestsFor("/vrn/sendupdinfo.php"), 1);  // only for the accepted check
        EXPECT_EQ(AcceptedSerial(*tp.registry, kRelease), 3u);
    }
}

TEST_F(SignedUpdateTest, AnUpdaterWithTheSameChecksumButOtherBytes) {
    Serve("files/f.exe", 70000, 4);
    std::string line = DigestLine("Fantasy", "files/f.exe");
    std::string forged = test::SameChecksumOtherBytes(ServedContents("files/f.exe"));
    tp.dir.Write("server/files/f.exe", forged);
    Definitions(signer.Signed(Body(line)));
    for (bool withKeys : {true, false}) {
        SCOPED_TRACE(withKeys ? "with a key" : "built without keys");
        Trust(withKeys ? TrustedKeys{signer.PublicKey()} : TrustedKeys{});
        tp.ui.messageBoxes.clear();
        // The digest is honoured with or without keys: the checksum alone is easy to forge.
        Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            ASSERT_TRUE(w.Click(res::kIdCheck));
            tp.ui.ExpectMessageBox(IDOK, "Error");
            tp.ui.ExpectMessageBox(IDNO, "Try Again?");
            ASSERT_TRUE(w.Click(res::kIdDownload));
            EXPECT_EQ(dlg.workflowState, WorkflowState::Listed);
            w.Click(res::kIdExit);
        });
        ASSERT_EQ(tp.ui.messageBoxes.size(), 2u);
        EXPECT_EQ(tp.ui.messageBoxes[0].text, Refusal(158, "f.exe"));
        EXPECT_FALSE(fs::exists(TempPath("f.exe")));
    }
}

TEST_F(SignedUpdateTest, ALeftOverForgeryIsFetchedAgain) {
    Serve("files/f.exe", 70000, 4);
    std::string good = ServedContents("files/f.exe");
    tp.dir.Write("Fablewright/temp/f.exe", test::SameChecksumOtherBytes(good));
    Definitions(signer.Signed(Body(DigestLine("Fantasy", "files/f.exe"))));
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg&) {
        ASSERT_TRUE(w.Click(res::kIdCheck));
        ASSERT_TRUE(w.Click(res::kIdDownload));
        EXPECT_EQ(w.Text(res::kIdStatus), "Download complete.");
        tp.ui.ExpectMessageBox(IDYES, "Exit Without Installing All?");
        w.Click(res::kIdExit);
    });
    EXPECT_EQ(RequestsFor("/files/f.exe"), 1);
    EXPECT_EQ(tp.dir.Read("Fablewright/temp/f.exe"), good);
}

// A resumed download with keys: the kept part is read back from the disk beside the transfer
// of the rest, and its bytes count: a part altered in temp, even with its checksum kept, fails
// the digest, and the file is fetched whole once.
TEST_F(SignedUpdateTest, AResumedDownloadIsJudgedByTheKeptPartOnTheDiskToo) {
    constexpr std::size_t kSize = 600000;
    Serve("files/f.exe", kSize, 5);
    std::string good = ServedContents("files/f.exe");
    Definitions(signer.Signed(Body(DigestLine("Fantasy", "files/f.exe"))));
    for (bool alterPart : {false, true}) {
        SCOPED_TRACE(alterPart ? "a kept part forged with its checksum kept" : "an intact kept part");
        fs::remove_all(installFolder + "/temp");
        ServerFault cut;
        cut.truncateAfter = kSize / 2;
        server->ClearFaults();
        server->SetFault("/files/f.exe", cut);
        tp.ui.messageBoxes.clear();
        tp.ui.ExpectMessageBox([&](const ShownMessageBox& box) {
            EXPECT_EQ(box.caption, "Try Again?");
            if (alterPart) {
                tp.dir.Write("Fablewright/temp/f.exe.part",
                             test::SameChecksumOtherBytes(good.substr(0, kSize / 2)));
            }
            server->ClearFaults();
            server->ClearRequests();
            return IDYES;
        });
        DownloadThenExit();
        EXPECT_EQ(tp.ui.messageBoxes.size(), 2u);  // the one question, no error, and Exit
        EXPECT_EQ(RequestsFor("/files/f.exe"), alterPart ? 2 : 1);
        EXPECT_EQ(server->BodyBytesSent(), alterPart ? kSize / 2 + kSize : kSize / 2);
        EXPECT_EQ(tp.dir.Read("Fablewright/temp/f.exe"), good);
        EXPECT_FALSE(fs::exists(TempPath("f.exe.part")));
    }
}

TEST_F(SignedUpdateTest, AnUpdaterAlteredAfterItsDownloadIsNotStarted) {
    test::CopyTestUpdater(serverRoot + "/files/fantasy.exe");
    Definitions(signer.Signed(Body(DigestLine("Fantasy", "files/fantasy.exe"))));
    for (bool withKeys : {true, false}) {
        SCOPED_TRACE(withKeys ? "with a key" : "built without keys");
        Trust(withKeys ? TrustedKeys{signer.PublicKey()} : TrustedKeys{});
        tp.ui.messageBoxes.clear();
        Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            ASSERT_TRUE(w.Click(res::kIdCheck));
            ASSERT_TRUE(w.Click(res::kIdDownload));
            std::string path = TempPath("fantasy.exe");
            tp.dir.Write("Fablewright/temp/fantasy.exe",
                         tp.dir.Read("Fablewright/temp/fantasy.exe") + "!");
            tp.ui.ExpectMessageBox(IDOK, "Error");
            ASSERT_TRUE(w.Click(res::kIdInstall));
            EXPECT_FALSE(dlg.processInfo.process);
            EXPECT_TRUE(w.timers.empty());
            EXPECT_EQ(w.Items(res::kIdUpdateList), std::vector<std::string>{"Fantasy"});
            EXPECT_TRUE(w.Enabled(res::kIdInstall));
            EXPECT_FALSE(fs::exists(path));
            ASSERT_EQ(tp.ui.messageBoxes.size(), 1u);
            EXPECT_EQ(tp.ui.messageBoxes[0].text, Refusal(159, path));
            tp.ui.ExpectMessageBox(IDYES, "Exit Without Installing All?");
            w.Click(res::kIdExit);
        });
    }
}

// Expiry is judged by the platform's clock: accepted until the second it names, refused from
// then on with the date and the warning that newer definitions may be withheld.
TEST_F(SignedUpdateTest, ExpiredDefinitionsAreRefusedByThePlatformClock) {
    Serve("files/f.exe", 1000, 4);
    const std::string date = "2026-06-01T00:00:00Z";
    Definitions(signer.Signed("expires~" + date + "\r\n" + Body(DigestLine("Fantasy", "files/f.exe"))));
    for (bool late : {false, true}) {
        SCOPED_TRACE(late ? "expired" : "before the expiry");
        tp.system.unixTime = *ParseExpiry(date) - (late ? 0 : 1);
        tp.ui.messageBoxes.clear();
        if (late) tp.ui.ExpectMessageBox(IDOK, "Error");
        Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            ASSERT_TRUE(w.Click(res::kIdCheck));
            EXPECT_EQ(dlg.workflowState, late ? WorkflowState::Checking : WorkflowState::Listed);
            EXPECT_EQ(w.Items(res::kIdUpdateList).size(), late ? 0u : 1u);
            w.Click(res::kIdExit);
        });
        if (late) {
            ASSERT_EQ(tp.ui.messageBoxes.size(), 1u);
            EXPECT_EQ(tp.ui.messageBoxes[0].text, Refusal(169, date));
            EXPECT_NE(tp.ui.messageBoxes[0].text.find("withheld"), std::string::npos);
        }
    }
}

#ifndef _WIN32
// A publisher with nothing but the openssl command: the recipe of the documentation.
TEST_F(SignedUpdateTest, DefinitionsSignedWithTheOpensslCommandAreAccepted) {
    Serve("files/f.exe", 3000);
    std::string dir = tp.dir.Path("openssl");
    fs::create_directories(dir);
    tp.dir.Write("openssl/defs.txt", Body(DigestLine("Fantasy", "files/f.exe")));
    std::string script =
        "cd '" + dir + "' && openssl ecparam -name prime256v1 -genkey -noout -out key.pem 2>/dev/null"
        " && openssl ec -in key.pem -pubout -out pub.pem 2>/dev/null"
        " && openssl dgst -sha256 -sign key.pem -out defs.sig defs.txt"
        " && id=$(openssl pkey -pubin -in pub.pem -outform DER | openssl dgst -sha256 -r | cut -c1-16)"
        " && echo \"signature~ecdsa-p256-sha256~$id~$(base64 -w0 defs.sig)\" >> defs.txt";
    ASSERT_EQ(std::system(script.c_str()), 0);
    TrustedKeys opensslKeys;
    ASSERT_TRUE(ReadPublicKeysPem(tp.dir.Read("openssl/pub.pem"), opensslKeys));
    Trust(opensslKeys);
    Definitions(tp.dir.Read("openssl/defs.txt"));
    Run([&](HeadlessWindow& w, CUpdateDownloaderDlg&) {
        ASSERT_TRUE(w.Click(res::kIdCheck));
        EXPECT_EQ(w.Items(res::kIdUpdateList), std::vector<std::string>{"Fantasy"});
        w.Click(res::kIdExit);
    });
}
#endif

}  // namespace
}  // namespace fw
