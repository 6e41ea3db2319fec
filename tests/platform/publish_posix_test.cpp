// fablewright-publish as a publisher uses it: a key pair, definitions for a folder of updaters,
// the signature, and the verification of what is served.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include <filesystem>
#include <functional>
#include <sstream>

#include "platform/curl/http_client_curl.h"
#include "platform/headless/headless_backend.h"
#include "tests/support/temp_dir.h"
#include "tools/publish/publish.h"
#include "tools/update-server/test_authority.h"
#include "tools/update-server/update_server.h"

namespace fw {
namespace {

struct Result {
    int code;
    std::string out, err;
};

class PublishTest : public ::testing::Test {
protected:
    Result Publish(std::vector<std::string> args) {
        std::ostringstream out, err;
        int code = publish::Run(args, out, err);
        return {code, out.str(), err.str()};
    }

    // A served folder with two updaters, made and signed with a fresh key.
    void SetUp() override {
        dir.Write("pass", "correct horse\n");
        dir.Write("server/files/a.exe", std::string(5000, 'a'));
        dir.Write("server/files/b.exe", std::string(7000, 'b'));
        dir.Write("list", "# template~file~server path\n\nFantasy~a.exe~files/a.exe\nHorror~b.exe~files/b.exe\n");
        ASSERT_EQ(Publish({"keygen", "--out", dir.Path("k"), "--passphrase-file", dir.Path("pass")}).code, 0);
        ASSERT_EQ(Publish({"make", "--files", dir.Path("server/files"), "--list", dir.Path("list"),
                           "--out", defs})
                      .code,
                  0);
        Result signed_ = Sign();
        ASSERT_EQ(signed_.code, 0) << signed_.err;
    }
    Result Sign(std::string pass = "pass") {
        return Publish({"sign", "--key", dir.Path("k.key"), "--passphrase-file", dir.Path(pass), defs});
    }
    Result Verify() { return Publish({"verify", "--root", dir.Path("server"), "--key", dir.Path("k.pub")}); }

    test::TempDir dir;
    std::string defs = dir.Path("server/UpDefs/FablewrightUpdates.txt");
};

TEST_F(PublishTest, VerifyAcceptsWhatSignMadeAndSignRaisesTheSerial) {
    Result verified = Verify();
    EXPECT_EQ(verified.code, 0) << verified.out;
    EXPECT_NE(verified.out.find("serial 1"), std::string::npos);
    dir.Write("server/UpDefs/FablewrightUpdates.txt", "\n" + dir.Read("server/UpDefs/FablewrightUpdates.txt"));
    ASSERT_EQ(Sign().code, 0);
    std::string text = dir.Read("server/UpDefs/FablewrightUpdates.txt");
    EXPECT_NE(text.find("serial~FablewrightUpdates.txt~2\n"), std::string::npos);
    EXPECT_EQ(text.find("signature"), text.rfind("signature"));  // the old signature is gone
    EXPECT_EQ(Verify().code, 0);
}

TEST_F(PublishTest, VerifyCatchesEveryProblem) {
    std::string good = dir.Read("server/UpDefs/FablewrightUpdates.txt");
    struct Case {
        const char* what;
        std::function<void()> spoil;
        std::string report;
    };
    const Case cases[] = {
        {"wrong digest",
         [&] {
             std::string text = good.substr(0, good.find("signature"));
             std::size_t at = text.find("sha256:") + 7;
             text[at] = text[at] == '0' ? '1' : '0';
             dir.Write("server/UpDefs/FablewrightUpdates.txt", text);
             ASSERT_EQ(Sign().code, 0);
         },
         "Fantasy (files/a.exe, line 3): FAILED: SHA-256"},
        {"missing file", [&] { std::filesystem::remove(dir.Path("server/files/b.exe")); },
         "Horror (files/b.exe, line 4): FAILED: missing file"},
        {"bad signature",
         [&] {
             std::string text = good;
             text.replace(text.find("a.exe"), 5, "c.exe");
             dir.Write("server/UpDefs/FablewrightUpdates.txt", text);
         },
         "FablewrightUpdates.txt: FAILED: bad signature"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        dir.Write("server/UpDefs/FablewrightUpdates.txt", good);
        dir.Write("server/files/b.exe", std::string(7000, 'b'));
        c.spoil();
        Result result = Verify();
        EXPECT_EQ(result.code, 1);
        EXPECT_NE(result.out.find(c.report), std::string::npos) << result.out;
    }
}

TEST_F(PublishTest, ClearErrorsForTheUsualMistakes) {
    dir.Write("wrong", "not it\n");
    Result wrong = Sign("wrong");
    EXPECT_EQ(wrong.code, 1);
    EXPECT_NE(wrong.err.find("wrong passphrase"), std::string::npos) << wrong.err;

    dir.Write("list", "Fantasy~a.exe~files/a.exe\nHorror~gone.exe~files/gone.exe\nlonely\n");
    Result make = Publish({"make", "--files", dir.Path("server/files"), "--list", dir.Path("list")});
    EXPECT_EQ(make.code, 1);
    EXPECT_NE(make.err.find(":2: cannot read the updater"), std::string::npos) << make.err;
    EXPECT_NE(make.err.find(":3: expected"), std::string::npos) << make.err;

    dir.Write("server/UpDefs/FablewrightUpdates.txt", "version~1\n\nupdate~Fantasy~a.exe~5~1f\n");
    Result bad = Sign();
    EXPECT_EQ(bad.code, 1);
    EXPECT_NE(bad.err.find("FablewrightUpdates.txt:3: an update record needs"), std::string::npos)
        << bad.err;

    EXPECT_EQ(Publish({"sign", "--key", dir.Path("none.key"), defs}).code, 1);
    EXPECT_EQ(Publish({"frobnicate"}).code, 2);
    Result help = Publish({"--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("openssl dgst -sha256 -sign"), std::string::npos);
}

// sign --expires sets the record from the given clock and replaces an older one; verify reports
// it and fails once it has passed.
TEST_F(PublishTest, ExpiryIsSetReportedAndEnforced) {
    HeadlessSystem clock;
    clock.unixTime = 1780000000;  // 2026-05-28T20:26:40Z
    auto run = [&](std::vector<std::string> args) {
        std::ostringstream out, err;
        int code = publish::Run(args, out, err, clock);
        return Result{code, out.str(), err.str()};
    };
    std::vector<std::string> sign = {"sign", "--key", dir.Path("k.key"), "--passphrase-file",
                                     dir.Path("pass"), "--expires", "3d", defs};
    std::vector<std::string> verify = {"verify", "--root", dir.Path("server"), "--key", dir.Path("k.pub")};
    ASSERT_EQ(run(sign).code, 0);
    sign[6] = "14d";
    Result signed14 = run(sign);
    ASSERT_EQ(signed14.code, 0) << signed14.err;
    std::string text = dir.Read("server/UpDefs/FablewrightUpdates.txt");
    EXPECT_EQ(text.find("expires~"), text.rfind("expires~"));  // the 3-day record is gone
    EXPECT_NE(text.find("expires~2026-06-11T20:26:40Z\n"), std::string::npos) << text;
    Result fresh = run(verify);
    EXPECT_EQ(fresh.code, 0) << fresh.out;
    EXPECT_NE(fresh.out.find("expires 2026-06-11T20:26:40Z"), std::string::npos) << fresh.out;
    clock.unixTime += 14 * 86400;
    Result stale = run(verify);
    EXPECT_EQ(stale.code, 1);
    EXPECT_NE(stale.out.find("FAILED: expired"), std::string::npos) << stale.out;
    sign[6] = "soon";
    EXPECT_EQ(run(sign).code, 2);
    Result made = run({"make", "--files", dir.Path("server/files"), "--list", dir.Path("list"),
                       "--expires", "36h"});
    EXPECT_NE(made.out.find("expires~2026-06-13T08:26:40Z\n"), std::string::npos) << made.out;
}

// verify --url checks what a server really serves over HTTPS: the project's own test server and
// nginx with the configuration the README gives, both serving the signed folder.
TEST_F(PublishTest, VerifyOverHttpsAgainstTheTestServerAndNginx) {
    std::shared_ptr<const TestAuthority> authority = TestAuthority::Create();
    ASSERT_TRUE(authority);
    ASSERT_TRUE(authority->WriteCertificate(dir.Path("authority.pem")));
    CurlHttpClient http(dir.Path("authority.pem"));
    HeadlessSystem clock;
    auto verify = [&](const std::string& url) {
        std::ostringstream out, err;
        int code = publish::Run({"verify", "--url", url, "--key", dir.Path("k.pub")}, out, err,
                                clock, http);
        return Result{code, out.str(), err.str()};
    };
    UpdateServer ours(dir.Path("server"));
    ours.UseTls(ServerCertificate::kTrusted, authority);
    ASSERT_TRUE(ours.Start(0));
    Result viaOurs = verify("https://localhost:" + std::to_string(ours.Port()) + "/");
    EXPECT_EQ(viaOurs.code, 0) << viaOurs.out << viaOurs.err;
    EXPECT_NE(viaOurs.out.find("Horror (files/b.exe, line 4): ok, 7000 bytes"), std::string::npos)
        << viaOurs.out;
    EXPECT_EQ(verify("http://localhost:" + std::to_string(ours.Port()) + "/").code, 2);
    int port = ours.Port();
    ours.Stop();  // its port is nginx's now

    if (::access("/usr/sbin/nginx", X_OK) != 0) GTEST_SKIP() << "nginx is not installed";
    std::optional<TestAuthority::Credentials> credentials = authority->Issue(ServerCertificate::kTrusted);
    ASSERT_TRUE(credentials);
    dir.Write("nginx/cert.pem", credentials->certificatePem);
    dir.Write("nginx/key.pem", credentials->keyPem);
    std::string prefix = dir.Path("nginx");
    // The README's server block, on a loopback port, with the run's own files and certificate.
    dir.Write("nginx/nginx.conf",
              "daemon on;\npid " + prefix + "/nginx.pid;\nerror_log " + prefix + "/error.log;\n"
              "events {}\nhttp {\n  access_log off;\n"
              "  client_body_temp_path " + prefix + "/body;\n  proxy_temp_path " + prefix + "/proxy;\n"
              "  fastcgi_temp_path " + prefix + "/fastcgi;\n  uwsgi_temp_path " + prefix + "/uwsgi;\n"
              "  scgi_temp_path " + prefix + "/scgi;\n"
              "  server {\n    listen 127.0.0.1:" + std::to_string(port) + " ssl;\n"
              "    server_name localhost;\n"
              "    ssl_certificate " + prefix + "/cert.pem;\n    ssl_certificate_key " + prefix + "/key.pem;\n"
              "    ssl_protocols TLSv1.2 TLSv1.3;\n"
              "    root " + dir.Path("server") + ";\n"
              "    location / { try_files $uri =404; }\n"
              "    location /UpDefs/ { add_header Cache-Control \"no-cache\"; types { } default_type text/plain; }\n"
              "  }\n}\n");
    std::string start = "/usr/sbin/nginx -p " + prefix + " -c " + prefix + "/nginx.conf 2>&1";
    ASSERT_EQ(std::system(start.c_str()), 0) << dir.Read("nginx/error.log");
    Result viaNginx = verify("https://localhost:" + std::to_string(port) + "/");
    dir.Write("server/files/b.exe", std::string(7000, 'c'));
    Result spoiled = verify("https://localhost:" + std::to_string(port) + "/");
    std::string stop = "/usr/sbin/nginx -p " + prefix + " -c " + prefix + "/nginx.conf -s stop";
    EXPECT_EQ(std::system(stop.c_str()), 0);
    EXPECT_EQ(viaNginx.code, 0) << viaNginx.out << viaNginx.err;
    EXPECT_EQ(viaNginx.out, viaOurs.out);
    EXPECT_EQ(spoiled.code, 1);
    EXPECT_NE(spoiled.out.find("Horror (files/b.exe, line 4): FAILED: checksum"), std::string::npos)
        << spoiled.out;
}

// The private key is its owner's alone from its first byte; a link or a file in its place is
// an error with a message, never followed or overwritten; the serial never wraps to 0.
TEST_F(PublishTest, KeysAreOwnerOnlyAndSerialsNeverWrap) {
    struct stat status {};
    ASSERT_EQ(::stat(dir.Path("k.key").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    // A dangling link: following it would create the file it names, elsewhere.
    std::filesystem::create_symlink(dir.Path("planted.txt"), dir.Path("linked.key"));
    Result linked = Publish({"keygen", "--out", dir.Path("linked"), "--passphrase-file", dir.Path("pass")});
    EXPECT_EQ(linked.code, 1);
    EXPECT_NE(linked.err.find("cannot create " + dir.Path("linked.key")), std::string::npos)
        << linked.err;
    EXPECT_FALSE(dir.Exists("planted.txt"));
    Result nested = Publish({"keygen", "--out", dir.Path("in/no/folder/yet/k2"), "--passphrase-file",
                             dir.Path("pass")});
    EXPECT_EQ(nested.code, 0) << nested.err;
    ASSERT_EQ(::stat(dir.Path("in/no/folder/yet/k2.key").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    std::string text = dir.Read("server/UpDefs/FablewrightUpdates.txt");
    text.replace(text.find("~1\n"), 3, "~18446744073709551615\n");
    dir.Write("server/UpDefs/FablewrightUpdates.txt", text.substr(0, text.find("signature")));
    Result top = Sign();
    EXPECT_EQ(top.code, 1);
    EXPECT_NE(top.err.find("18446744073709551615, the highest"), std::string::npos) << top.err;
    EXPECT_EQ(dir.Read("server/UpDefs/FablewrightUpdates.txt").find("~0\n"), std::string::npos);
}

}  // namespace
}  // namespace fw
