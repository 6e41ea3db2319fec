// Resumed downloads against nginx, the server people put updates on: a partial file whose
// validator nginx still gives is continued with a 206; one from another version of the file
// makes nginx send it whole, and the part is replaced.

#include <gtest/gtest.h>

#include <filesystem>

#include "download/checksum.h"
#include "download/resume.h"
#include "res/resource.h"
#include "tests/support/nginx_posix.h"
#include "tests/support/update_scenario.h"

namespace fw {
namespace {

namespace fs = std::filesystem;
using test::kNginx;
using test::Nginx;

class NginxResumeTest : public test::UpdateScenario {
protected:
    void SetUp() override {
        if (!fs::exists(kNginx)) GTEST_SKIP() << "nginx is not installed (nginx-light)";
        Install({{"SciFi.gsi", "Sci Fi"}});
    }

    // The validator nginx gives a file, as the program would have noted it.
    std::string EtagOf(const Nginx& nginx, const std::string& path) {
        std::string etag;
        std::unique_ptr<HttpSession> session = tp.http->OpenSession("test");
        std::unique_ptr<HttpConnection> connection =
            session ? session->Connect(nginx.Host()) : nullptr;
        std::unique_ptr<HttpRequest> request =
            connection ? connection->OpenRequest("GET", path) : nullptr;
        EXPECT_TRUE(request && request->Send() && request->QueryHeader("ETag", etag));
        return etag;
    }
};

TEST_F(NginxResumeTest, APartialFileIsContinuedOnlyWhileNginxStillGivesItsValidator) {
    constexpr std::size_t kSize = 4u * 1024u * 1024u;
    std::string checksum = Serve("files/a.exe", kSize, 5);
    Definitions("update~Sci Fi~files/a.exe~" + std::to_string(kSize) + "~" + checksum + "\n");
    Nginx nginx(serverRoot, tp.dir.Path("nginx"));
    ASSERT_TRUE(nginx.Running());

    const std::string etag = EtagOf(nginx, "files/a.exe");
    ASSERT_FALSE(etag.empty());
    const std::string contents = ServedContents("files/a.exe");
    struct Case {
        const char* what;
        std::string validator;
        std::string answer;  // what nginx logs for the download
        bool link;           // the part's name is a symbolic link to a file elsewhere
    };
    const Case cases[] = {
        {"the same file", etag, "/files/a.exe 206 " + std::to_string(kSize - kSize / 4), false},
        {"another version", "\"0-1\"", "/files/a.exe 200 " + std::to_string(kSize), false},
        // The rest is asked for, but nothing is written through the link: the file is fetched
        // once more, whole, into a part of its own.
        {"a link in place of the part", etag, "/files/a.exe 200 " + std::to_string(kSize), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(installFolder + "/temp");
        fs::create_directories(installFolder + "/temp");
        std::uint32_t expectedChecksum = 0;
        ASSERT_TRUE(FileChecksum(*tp.files, serverRoot + "/files/a.exe", expectedChecksum));
        std::string local = TempPath("a.exe");
        std::string elsewhere = tp.dir.Path("elsewhere");
        if (c.link) {
            tp.dir.Write("elsewhere", contents.substr(0, kSize / 4));
            fs::create_symlink(elsewhere, local + ".part");
        } else {
            tp.dir.Write("Fablewright/temp/a.exe.part", contents.substr(0, kSize / 4));
        }
        tp.dir.Write("Fablewright/temp/a.exe.part-note",
                     FormatPartialNote({c.validator, static_cast<std::int32_t>(kSize),
                                        expectedChecksum}));
        std::size_t answersBefore = nginx.Answers().size();
        DownloadThenExit({"-server", nginx.Host()});
        EXPECT_TRUE(tp.dir.Read("Fablewright/temp/a.exe") == contents);
        EXPECT_FALSE(fs::exists(fs::symlink_status(local + ".part")));
        if (c.link) {
            EXPECT_EQ(fs::file_size(elsewhere), kSize / 4);
        }
        std::vector<std::string> answers = nginx.Answers();
        ASSERT_GE(answers.size(), answersBefore + 2);  // the definitions, then the updater
        EXPECT_EQ(answers.back(), c.answer);
    }
}

// Two nginx mirrors of one folder give a file the same validator, so a part kept from one is
// continued at the other when the first cannot serve it.
TEST_F(NginxResumeTest, APartIsContinuedAtTheNextMirror) {
    constexpr std::size_t kSize = 1024u * 1024u;
    std::string checksum = Serve("files/a.exe", kSize, 6);
    Definitions("update~Sci Fi~files/a.exe~" + std::to_string(kSize) + "~" + checksum + "\n");
    Nginx busy(serverRoot, tp.dir.Path("nginx-busy"), "    location = /files/a.exe { return 503; }\n");
    Nginx mirror(serverRoot, tp.dir.Path("nginx-mirror"));
    ASSERT_TRUE(busy.Running() && mirror.Running());
    const std::string etag = EtagOf(mirror, "files/a.exe");
    ASSERT_FALSE(etag.empty());
    const std::string contents = ServedContents("files/a.exe");
    std::uint32_t expectedChecksum = 0;
    ASSERT_TRUE(FileChecksum(*tp.files, serverRoot + "/files/a.exe", expectedChecksum));
    tp.dir.Write("Fablewright/temp/a.exe.part", contents.substr(0, kSize / 4));
    tp.dir.Write("Fablewright/temp/a.exe.part-note",
                 FormatPartialNote({etag, static_cast<std::int32_t>(kSize), expectedChecksum}));
    DownloadThenExit({"-server", busy.Host() + "," + mirror.Host()});
    EXPECT_TRUE(tp.dir.Read("Fablewright/temp/a.exe") == contents);
    EXPECT_TRUE(tp.ui.messageBoxes.size() == 1) << "no error before the exit question";
    ASSERT_FALSE(busy.Answers().empty());
    EXPECT_EQ(busy.Answers().back().substr(0, 17), "/files/a.exe 503 ");
    ASSERT_FALSE(mirror.Answers().empty());
    EXPECT_EQ(mirror.Answers().back(), "/files/a.exe 206 " + std::to_string(kSize - kSize / 4));
}

}  // namespace
}  // namespace fw
