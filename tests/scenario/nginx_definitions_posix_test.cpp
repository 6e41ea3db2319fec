// Kept definitions against nginx: its validators make the second check a 304 with no body, the
// kept copy passes the signature check again, and changed definitions come whole.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "discovery/signed_definitions.h"
#include "download/verify.h"
#include "res/resource.h"
#include "tests/support/nginx_posix.h"
#include "tests/support/test_signer.h"
#include "tests/support/update_scenario.h"

namespace fw {
namespace {

namespace fs = std::filesystem;

class NginxDefinitionsTest : public test::UpdateScenario {
  protected:
    void SetUp() override {
        if (!fs::exists(test::kNginx)) GTEST_SKIP() << "nginx is not installed (nginx-light)";
        Install({{"SciFi.gsi", "Sci Fi"}});
        Serve("files/a.exe", 4000);
        keys = {signer.PublicKey()};
        Platform& p = tp.platform();
        platform = std::make_unique<Platform>(
            Platform{p.ui, *counting, p.registry, p.files, p.processes, p.system, keys});
    }

    std::string Signed(const std::string& version, int serial) {
        FileFacts facts;
        EXPECT_TRUE(ReadFileFacts(*tp.files, serverRoot + "/files/a.exe", facts));
        char checksum[16];
        std::snprintf(checksum, sizeof checksum, "%x", facts.checksum);
        return signer.Signed("version~" + version + "\r\nserial~FablewrightUpdates.txt~" +
                             std::to_string(serial) + "\r\nupdate~Sci Fi~files/a.exe~" +
                             std::to_string(facts.size) + "~" + checksum +
                             "~sha256:" + DigestHex(facts.digest) + "\r\n");
    }

    test::TestSigner signer;
    TrustedKeys keys;
};

TEST_F(NginxDefinitionsTest, AnUnchangedFileIsA304AndTheKeptCopyIsListed) {
    test::Nginx nginx(serverRoot, tp.dir.Path("nginx"));
    ASSERT_TRUE(nginx.Running());
    const std::string first = Signed("4.2", 3);
    const std::string second = Signed("4.3", 4);
    Definitions(first);
    const std::string path = "/UpDefs/FablewrightUpdates.txt ";
    struct Step {
        const std::string* definitions;  // written before the check; nullptr: unchanged
        const char* version;
        std::string answer;  // nginx's log line for the definitions
    };
    const Step steps[] = {
        {nullptr, "4.2", path + "200 " + std::to_string(first.size())},
        {nullptr, "4.2", path + "304 0"},
        {&second, "4.3", path + "200 " + std::to_string(second.size())},
        {nullptr, "4.3", path + "304 0"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.answer);
        if (step.definitions) Definitions(*step.definitions);
        std::size_t before = nginx.Answers().size();
        Run(
            [&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
                ASSERT_TRUE(w.Click(res::kIdCheck));
                EXPECT_EQ(dlg.availableVersion, step.version);
                EXPECT_EQ(w.Items(res::kIdUpdateList), std::vector<std::string>{"Sci Fi"});
                w.Click(res::kIdExit);
            },
            {"-server", nginx.Host()});
        EXPECT_TRUE(tp.ui.messageBoxes.empty());
        std::vector<std::string> answers = nginx.Answers();
        ASSERT_GT(answers.size(), before);
        EXPECT_EQ(answers[before], step.answer);
    }
}

}  // namespace
}  // namespace fw
