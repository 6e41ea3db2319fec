// Definitions kept between checks: the next check asks whether they changed, a 304 reuses the
// kept copy, and the kept copy then passes every check a fresh answer passes, or is refused
// with the same message and deleted.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "discovery/definitions_cache.h"
#include "discovery/definitions_trust.h"
#include "discovery/signed_definitions.h"
#include "download/verify.h"
#include "platform/path.h"
#include "res/resource.h"
#include "tests/support/test_signer.h"
#include "tests/support/update_scenario.h"

namespace fw {
namespace {

namespace fs = std::filesystem;
constexpr const char* kRelease = "FablewrightUpdates.txt";
constexpr const char* kDefinitionsPath = "/UpDefs/FablewrightUpdates.txt";

class KeptDefinitionsTest : public test::UpdateScenario {
  protected:
    void SetUp() override {
        Install({{"Fantasy.gsi", "Fantasy"}});
        Serve("files/f.exe", 3000);
    }

    void Trust(bool withKeys) {
        keys = withKeys ? TrustedKeys{signer.PublicKey()} : TrustedKeys{};
        Platform& p = tp.platform();
        platform = std::make_unique<Platform>(
            Platform{p.ui, *counting, p.registry, p.files, p.processes, p.system, keys});
    }

    // Signed definitions of `version` with `serial`, with the `head` records before the rest
    // and the `tail` records after it.
    std::string Signed(const std::string& version, int serial, const std::string& head = {},
                       const std::string& tail = {}) {
        FileFacts facts;
        EXPECT_TRUE(ReadFileFacts(*tp.files, serverRoot + "/files/f.exe", facts));
        char checksum[16];
        std::snprintf(checksum, sizeof checksum, "%x", facts.checksum);
        return signer.Signed(head + "updatever~3\r\nversion~" + version + "\r\nserial~" + kRelease +
                             "~" + std::to_string(serial) + "\r\nupdate~Fantasy~files/f.exe~" +
                             std::to_string(facts.size) + "~" + checksum +
                             "~sha256:" + DigestHex(facts.digest) + "\r\n" + tail);
    }

    std::string KeptPath() const {
        return JoinPath(tp.system.cacheFolder, std::string(kRelease) + ".kept");
    }

    // One check; the version it lists (empty when it failed), and whether the server was asked
    // conditionally and sent no definitions.
    struct Checked {
        std::string version;
        bool conditional = false;
        std::uint64_t bodyBytes = 0;
    };
    Checked Check() {
        server->ClearRequests();
        Checked result;
        Run([&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            w.Click(res::kIdCheck);
            if (dlg.workflowState == WorkflowState::Listed) result.version = dlg.availableVersion;
            w.Click(res::kIdExit);
        });
        for (const RecordedRequest& request : server->Requests()) {
            if (request.path == kDefinitionsPath && request.Header("If-None-Match")) {
                result.conditional = true;
            }
        }
        result.bodyBytes = server->BodyBytesSent();
        return result;
    }

    test::TestSigner signer;
    TrustedKeys keys;
};

TEST_F(KeptDefinitionsTest, A304ReusesTheKeptCopyUntilTheDefinitionsChange) {
    for (bool withKeys : {false, true}) {
        SCOPED_TRACE(withKeys ? "with keys" : "without keys");
        Trust(withKeys);
        tp.ClearRegistry();
        tp.RegisterInstallFolder(installFolder);
        fs::remove_all(tp.system.cacheFolder);
        const std::string first = Signed("4.2", 3);
        Definitions(first);
        Checked fresh = Check();
        EXPECT_EQ(fresh.version, "4.2");
        EXPECT_FALSE(fresh.conditional);
        EXPECT_GE(fresh.bodyBytes, first.size());

        Checked reused = Check();
        EXPECT_EQ(reused.version, "4.2");
        EXPECT_TRUE(reused.conditional);
        EXPECT_LT(reused.bodyBytes, first.size());  // only the update request's answer

        Definitions(Signed("4.3", 4));
        EXPECT_EQ(Check().version, "4.3");
        Checked replaced = Check();
        EXPECT_EQ(replaced.version, "4.3");
        EXPECT_TRUE(replaced.conditional);
        EXPECT_EQ(AcceptedSerial(*tp.registry, kRelease),
                  withKeys ? std::optional<std::uint64_t>(4) : std::nullopt);
    }
}

// The kept copy is checked as if it had just arrived; one that fails shows the fresh answer's
// message and is deleted, so that the next check fetches the definitions whole.
TEST_F(KeptDefinitionsTest, ARefusedKeptCopyShowsTheFreshMessageAndIsDeleted) {
    Trust(true);
    const std::string date = "2026-06-01T00:00:00Z";
    struct Case {
        const char* what;
        std::string definitions;
        std::function<void()> change;  // after the copy was kept
        std::string message;
        bool nextCheckListed;  // the fresh definitions are still good
    };
    auto rewriteKept = [this](auto edit) {
        return [this, edit] {
            std::string text = tp.dir.Read(fs::relative(KeptPath(), tp.dir.path()).string());
            std::size_t body = text.find("\n\n") + 2;
            tp.dir.Write(fs::relative(KeptPath(), tp.dir.path()).string(),
                         text.substr(0, body) + edit(text.substr(body)));
        };
    };
    const Case cases[] = {
        {"kept copy unsigned", Signed("4.2", 3),
         rewriteKept([](std::string s) { return s.substr(0, s.find("signature~")); }), Text(149),
         true},
        {"kept copy altered", Signed("4.2", 3),
         rewriteKept([](std::string s) { return s.replace(s.find("4.2"), 3, "9.9"); }), Text(152),
         true},
        {"kept copy expired", Signed("4.2", 3, "expires~" + date + "\r\n"),
         [&] { tp.system.unixTime = *ParseExpiry(date); }, Format(Text(169), date), false},
        {"a newer serial accepted since", Signed("4.2", 3),
         [&] { RememberSerial(*tp.registry, kRelease, 5); }, Format(Text(156), "3", "5"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        tp.ClearRegistry();
        tp.RegisterInstallFolder(installFolder);
        tp.system.unixTime = *ParseExpiry(date) - 1;
        tp.ui.messageBoxes.clear();
        Definitions(c.definitions);
        ASSERT_EQ(Check().version, "4.2");
        ASSERT_TRUE(fs::exists(KeptPath()));
        c.change();
        tp.ui.ExpectMessageBox(IDOK, "Error");
        Checked refused = Check();
        EXPECT_TRUE(refused.conditional);
        EXPECT_EQ(refused.version, "");
        ASSERT_EQ(tp.ui.messageBoxes.size(), 1u);
        EXPECT_EQ(tp.ui.messageBoxes[0].text, c.message);
        EXPECT_FALSE(fs::exists(KeptPath()));
        if (c.nextCheckListed) {
            Checked again = Check();
            EXPECT_EQ(again.version, "4.2");
            EXPECT_FALSE(again.conditional);
        }
    }
}

// Copies kept by a build without keys hold lines, not the signed bytes: a build with keys asks
// for the definitions whole rather than refuse them. Without a cache folder nothing is kept.
TEST_F(KeptDefinitionsTest, OnlyAUsableCopyIsAskedAbout) {
    Definitions(Signed("4.2", 3));
    Trust(false);
    EXPECT_EQ(Check().version, "4.2");
    Trust(true);
    Checked keyed = Check();
    EXPECT_EQ(keyed.version, "4.2");
    EXPECT_FALSE(keyed.conditional);
    EXPECT_TRUE(tp.ui.messageBoxes.empty());

    fs::remove_all(tp.system.cacheFolder);
    tp.system.cacheFolder.clear();
    for (int i = 0; i < 2; ++i) {
        Checked plain = Check();
        EXPECT_EQ(plain.version, "4.2");
        EXPECT_FALSE(plain.conditional);
    }
}

// The polite side of the cache: 100 checks of unchanged definitions of 1 MiB against 100
// checks that fetch them whole, in body bytes the server sent.
TEST_F(KeptDefinitionsTest, HundredChecksOfUnchangedDefinitionsSendUnderOnePercent) {
    Trust(true);
    std::string records;
    for (int i = 0; records.size() < 1024 * 1024; ++i) {
        records += "update~Template " + std::to_string(i) + "~files/t" + std::to_string(i) +
                   ".exe~5000~1a2b3c~sha256:" + std::string(64, '0') + "\r\n";
    }
    Definitions(Signed("4.2", 3, {}, records));
    const std::uint64_t full = Check().bodyBytes;
    ASSERT_GT(full, 1024u * 1024u);
    constexpr int kChecks = 100;
    std::uint64_t sent = 0;
    for (int i = 0; i < kChecks; ++i) {
        Checked reused = Check();
        ASSERT_EQ(reused.version, "4.2");
        ASSERT_TRUE(reused.conditional);
        sent += reused.bodyBytes;
    }
    const double share = static_cast<double>(sent) / (static_cast<double>(full) * kChecks);
    std::printf("%d checks: %llu body bytes sent; %d full checks: %llu (%.5f%%)\n", kChecks,
                static_cast<unsigned long long>(sent), kChecks,
                static_cast<unsigned long long>(full) * kChecks, share * 100);
    EXPECT_LT(share, 0.01);
}

// What the cache gives back is only what this program wrote for this file and server, in a
// folder that is this user's alone, within the size of any definitions.
TEST_F(KeptDefinitionsTest, TheCacheReadsBackOnlyItsOwnCopies) {
    const std::string folder = tp.system.cacheFolder;
    const std::string server = "127.0.0.1:1";
    const KeptDefinitions good{server, "\"1-2\"", "Tue, 08 Dec 2026 10:00:00 GMT", "version~1\n"};
    struct Case {
        const char* what;
        std::function<void(DefinitionsCache&)> change;
        bool loads;
    };
    const Case cases[] = {
        {"as saved", [](DefinitionsCache&) {}, true},
        {"a validator that would break the header lines",
         [&](DefinitionsCache& cache) {
             KeptDefinitions bad = good;
             bad.etag = "\"1\"\r\nX-Other: 1";
             EXPECT_FALSE(cache.Save(kRelease, bad));
         },
         false},
        {"larger than any definitions",
         [&](DefinitionsCache& cache) {
             KeptDefinitions big = good;
             big.bytes.assign(kMaxDefinitionsBytes, 'x');
             ASSERT_TRUE(cache.Save(kRelease, big));
             std::ofstream(KeptPath(), std::ios::app) << "x";
         },
         false},
#ifndef _WIN32
        {"a link in place of the copy",
         [&](DefinitionsCache&) {
             fs::rename(KeptPath(), folder + "/elsewhere");
             fs::create_symlink(folder + "/elsewhere", KeptPath());
         },
         false},
        {"a folder others may write to",
         [&](DefinitionsCache&) { fs::permissions(folder, fs::perms::all); }, false},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(folder);
        DefinitionsCache cache(*tp.files, folder);
        ASSERT_TRUE(cache.Save(kRelease, good));
        c.change(cache);
        std::optional<KeptDefinitions> kept = cache.Load(kRelease, server, true);
        ASSERT_EQ(kept.has_value(), c.loads);
        if (kept) {
            EXPECT_EQ(kept->bytes, good.bytes);
            EXPECT_EQ(ConditionalHeaders(*kept),
                      "If-None-Match: \"1-2\"\r\nIf-Modified-Since: " + good.lastModified);
            EXPECT_FALSE(cache.Load(kRelease, "127.0.0.1:2", true));
        }
    }
}

// A 304 to a request that asked for nothing conditionally (a confused cache on the way) is
// asked again once, without conditions.
TEST_F(KeptDefinitionsTest, A304WithNothingKeptIsAskedAgainOnce) {
    Definitions(Signed("4.2", 3));
    ServerFault notModified;
    notModified.status = 304;
    server->SetFault(kDefinitionsPath, notModified);
    tp.ui.ExpectMessageBox(IDOK, "Error");
    Checked failed = Check();
    EXPECT_EQ(failed.version, "");
    EXPECT_EQ(RequestsFor(kDefinitionsPath), 2);
    ASSERT_EQ(tp.ui.messageBoxes.size(), 1u);
    EXPECT_EQ(tp.ui.messageBoxes[0].text, Format(Text(115), 304));
}

}  // namespace
}  // namespace fw
