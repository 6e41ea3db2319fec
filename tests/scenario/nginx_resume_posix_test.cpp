// Resumed downloads against nginx, the server people put updates on: a partial file whose
// validator nginx still gives is continued with a 206; one from another version of the file
// makes nginx send it whole, and the part is replaced.

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "download/checksum.h"
#include "download/resume.h"
#include "res/resource.h"
#include "tests/support/update_scenario.h"

extern char** environ;

namespace fw {
namespace {

namespace fs = std::filesystem;
constexpr const char* kNginx = "/usr/sbin/nginx";

int FreePort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

bool Accepts(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// nginx in the foreground on a loopback port, serving `root`, with a configuration written for
// the run; every answer's status and body bytes go to its access log.
class Nginx {
public:
    // `serverLines` go into the server block (a location that misbehaves, say).
    Nginx(const std::string& root, const std::string& runDir, const std::string& serverLines = {})
        : runDir(runDir) {
        fs::create_directories(runDir);
        port = FreePort();
        std::ofstream conf(runDir + "/nginx.conf");
        conf << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
             << "error_log " << runDir << "/error.log;\npid " << runDir << "/nginx.pid;\n"
             << "events { worker_connections 64; }\n"
             << "http {\n  log_format counted '$request_uri $status $body_bytes_sent';\n"
             << "  access_log " << runDir << "/access.log counted;\n";
        for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
            conf << "  " << kind << "_temp_path " << runDir << "/" << kind << ";\n";
        }
        conf << "  server {\n    listen 127.0.0.1:" << port << ";\n    root " << root
             << ";\n" << serverLines << "  }\n}\n";
        conf.close();
        std::string confPath = runDir + "/nginx.conf";
        std::string prefix = runDir + "/";
        const char* argv[] = {kNginx, "-p", prefix.c_str(), "-c", confPath.c_str(), nullptr};
        if (::posix_spawn(&pid, kNginx, nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
            pid = -1;
            return;
        }
        for (int i = 0; i < 100 && !Accepts(port); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~Nginx() {
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
    Nginx(const Nginx&) = delete;
    Nginx& operator=(const Nginx&) = delete;

    bool Running() const { return pid > 0 && Accepts(port); }
    std::string Host() const { return "127.0.0.1:" + std::to_string(port); }
    // "URI STATUS BYTES" per answer so far.
    std::vector<std::string> Answers() const {
        std::ifstream log(runDir + "/access.log");
        std::vector<std::string> lines;
        for (std::string line; std::getline(log, line);) lines.push_back(line);
        return lines;
    }

private:
    std::string runDir;
    int port = 0;
    pid_t pid = -1;
};

class NginxResumeTest : public test::UpdateScenario {
protected:
    void SetUp() override {
        if (!fs::exists(kNginx)) GTEST_SKIP() << "nginx is not installed (nginx-light)";
        Install({{"SciFi.gsi", "Sci Fi"}});
    }
};

TEST_F(NginxResumeTest, APartialFileIsContinuedOnlyWhileNginxStillGivesItsValidator) {
    constexpr std::size_t kSize = 4u * 1024u * 1024u;
    std::string checksum = Serve("files/a.exe", kSize, 5);
    Definitions("update~Sci Fi~files/a.exe~" + std::to_string(kSize) + "~" + checksum + "\n");
    Nginx nginx(serverRoot, tp.dir.Path("nginx"));
    ASSERT_TRUE(nginx.Running());

    // The validator nginx gives the file, as the program would have noted it.
    std::string etag;
    {
        std::unique_ptr<HttpSession> session = tp.http->OpenSession("test");
        ASSERT_TRUE(session);
        std::unique_ptr<HttpConnection> connection = session->Connect(nginx.Host());
        ASSERT_TRUE(connection);
        std::unique_ptr<HttpRequest> request = connection->OpenRequest("GET", "files/a.exe");
        ASSERT_TRUE(request && request->Send());
        ASSERT_TRUE(request->QueryHeader("ETag", etag));
    }
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
        Run(
            [&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
                ASSERT_TRUE(w.Click(res::kIdCheck));
                ASSERT_TRUE(w.Click(res::kIdDownload));
                EXPECT_EQ(dlg.workflowState, WorkflowState::Downloaded);
                tp.ui.ExpectMessageBox(IDYES, "Exit Without Installing All?");
                w.Click(res::kIdExit);
            },
            {"-server", nginx.Host()});
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
    std::string etag;
    {
        std::unique_ptr<HttpSession> session = tp.http->OpenSession("test");
        std::unique_ptr<HttpConnection> connection = session->Connect(mirror.Host());
        std::unique_ptr<HttpRequest> request = connection->OpenRequest("GET", "files/a.exe");
        ASSERT_TRUE(request && request->Send());
        ASSERT_TRUE(request->QueryHeader("ETag", etag));
    }
    const std::string contents = ServedContents("files/a.exe");
    std::uint32_t expectedChecksum = 0;
    ASSERT_TRUE(FileChecksum(*tp.files, serverRoot + "/files/a.exe", expectedChecksum));
    tp.dir.Write("Fablewright/temp/a.exe.part", contents.substr(0, kSize / 4));
    tp.dir.Write("Fablewright/temp/a.exe.part-note",
                 FormatPartialNote({etag, static_cast<std::int32_t>(kSize), expectedChecksum}));
    Run(
        [&](HeadlessWindow& w, CUpdateDownloaderDlg& dlg) {
            ASSERT_TRUE(w.Click(res::kIdCheck));
            ASSERT_TRUE(w.Click(res::kIdDownload));
            EXPECT_EQ(dlg.workflowState, WorkflowState::Downloaded);
            tp.ui.ExpectMessageBox(IDYES, "Exit Without Installing All?");
            w.Click(res::kIdExit);
        },
        {"-server", busy.Host() + "," + mirror.Host()});
    EXPECT_TRUE(tp.dir.Read("Fablewright/temp/a.exe") == contents);
    EXPECT_TRUE(tp.ui.messageBoxes.size() == 1) << "no error before the exit question";
    ASSERT_FALSE(busy.Answers().empty());
    EXPECT_EQ(busy.Answers().back().substr(0, 17), "/files/a.exe 503 ");
    ASSERT_FALSE(mirror.Answers().empty());
    EXPECT_EQ(mirror.Answers().back(), "/files/a.exe 206 " + std::to_string(kSize - kSize / 4));
}

}  // namespace
}  // namespace fw
